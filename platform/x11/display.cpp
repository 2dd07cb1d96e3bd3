// The one X connection of the process and how its failures are reported.
#include "platform/x11/internal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

Display* connection = nullptr;

const char* programName() { return program_invocation_short_name; }

// A protocol error is a fault of the request, not of the program's state:
// report it and go on, as the platform's calls report failure by result.
int reportProtocolError(Display* display, XErrorEvent* error) {
    char text[256];
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "%s: X error: %s (request %d.%d, resource 0x%lx)\n", programName(), text,
                 error->request_code, error->minor_code, error->resourceid);
    return 0;
}

// Xlib cannot go on after the connection is gone; end at once and say why,
// without running exit handlers that might talk to the dead server again.
int reportLostConnection(Display*) {
    std::fprintf(stderr, "%s: lost the connection to the X server\n", programName());
    std::fflush(stderr);
    _exit(1);
}

}  // namespace

Display* x11Display() {
    if (connection) return connection;
    // A write to a connection the server has closed must fail with EPIPE and
    // reach the lost-connection handler, not kill the process by signal.
    std::signal(SIGPIPE, SIG_IGN);
    connection = XOpenDisplay(nullptr);
    if (!connection) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "%s: cannot open the X display %s%s%s\n", programName(),
                     name ? "\"" : "(DISPLAY is not set)", name ? name : "", name ? "\"" : "");
        std::exit(1);
    }
    XSetErrorHandler(reportProtocolError);
    XSetIOErrorHandler(reportLostConnection);
    return connection;
}

int x11Screen() { return DefaultScreen(x11Display()); }

Atom x11Atom(const char* name) { return XInternAtom(x11Display(), name, False); }

int64_t x11NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int WINAPI GetSystemMetrics(int index) {
    Display* display = x11Display();
    switch (index) {
    case SM_CXSCREEN: return DisplayWidth(display, x11Screen());
    case SM_CYSCREEN: return DisplayHeight(display, x11Screen());
    default: return 0;
    }
}
