// The one X connection of the process and how its failures are reported.
#include "platform/x11/internal.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

Display* connection = nullptr;

// A range of request serials whose errors are expected.
struct QuietRange {
    unsigned long first, last;
    bool open;       // requests are still being added to it
    int firstError;  // what the server answered, for checked ranges
};

std::vector<QuietRange>& quietRanges = *new std::vector<QuietRange>;

const char* programName() { return program_invocation_short_name; }

QuietRange* quietRangeOf(unsigned long serial) {
    for (QuietRange& range : quietRanges)
        if (serial >= range.first && (range.open || serial <= range.last)) return &range;
    return nullptr;
}

// A protocol error is a fault of the request, not of the program's state:
// report it and go on, as the platform's calls report failure by result.
int reportProtocolError(Display* display, XErrorEvent* error) {
    if (QuietRange* range = quietRangeOf(error->serial)) {
        if (range->firstError == Success) range->firstError = error->error_code;
        return 0;
    }
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

Window x11Root() { return RootWindow(x11Display(), x11Screen()); }

Atom x11Atom(const char* name) { return XInternAtom(x11Display(), name, False); }

int64_t x11NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

unsigned long x11BeginQuietRequests() {
    Display* display = x11Display();
    // Ranges the server has answered all of are done with.
    unsigned long processed = LastKnownRequestProcessed(display);
    quietRanges.erase(std::remove_if(quietRanges.begin(), quietRanges.end(),
                                     [processed](const QuietRange& range) {
                                         return !range.open && range.last <= processed;
                                     }),
                      quietRanges.end());
    unsigned long first = NextRequest(display);
    quietRanges.push_back({first, first, true, Success});
    return first;
}

void x11EndQuietRequests(unsigned long first) {
    for (QuietRange& range : quietRanges)
        if (range.open && range.first == first) {
            range.open = false;
            range.last = NextRequest(x11Display()) - 1;
        }
}

int x11EndCheckedRequests(unsigned long first) {
    XSync(x11Display(), False);
    int error = Success;
    for (auto it = quietRanges.begin(); it != quietRanges.end(); ++it)
        if (it->open && it->first == first) {
            error = it->firstError;
            quietRanges.erase(it);
            break;
        }
    return error;
}

int WINAPI GetSystemMetrics(int index) {
    Display* display = x11Display();
    switch (index) {
    case SM_CXSCREEN: return DisplayWidth(display, x11Screen());
    case SM_CYSCREEN: return DisplayHeight(display, x11Screen());
    default: return 0;
    }
}
