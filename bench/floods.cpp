// A fault script: another client floods the running viewer as fast as the
// server takes it, and the figures that matter are printed for each flood:
// the viewer's resident memory before and at its peak, the events sent, and
// how soon Esc, pressed as the flood ends, ends the viewer. It fails (exit 1)
// where the memory grew by more than 64 MB or Esc took more than a second.
//   floods VIEWER [SECONDS [FLOOD]]
// Each flood lasts SECONDS, 10 by default; FLOOD (pings, extents, ignored or
// box-pings, the notice the viewer starts with flooded with pings) runs only
// that one; Return then dismisses the notice before Esc.
#include "x_server.h"
#include "x_user.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long residentKilobytes(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

enum class Flood { pings, frameExtents, ignoredMessages, boxPings };

const char* const floodArguments[] = {"pings", "extents", "ignored", "box-pings"};

const char* nameOf(Flood flood) {
    switch (flood) {
    case Flood::pings: return "_NET_WM_PING messages";
    case Flood::frameExtents: return "_NET_FRAME_EXTENTS rewrites";
    case Flood::boxPings: return "_NET_WM_PING to its notice";
    default: return "ClientMessages it ignores";
    }
}

// One request of the flood, on the flooding connection.
void send(Display* flooder, Window window, Flood flood, long count) {
    if (flood == Flood::frameExtents) {
        long sides[4] = {count % 7, count % 5, 20 + count % 3, count % 2};
        XChangeProperty(flooder, window, XInternAtom(flooder, "_NET_FRAME_EXTENTS", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(sides), 4);
        return;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.format = 32;
    if (flood == Flood::pings || flood == Flood::boxPings) {
        event.xclient.message_type = XInternAtom(flooder, "WM_PROTOCOLS", False);
        event.xclient.data.l[0] = long(XInternAtom(flooder, "_NET_WM_PING", False));
        event.xclient.data.l[1] = count;
        event.xclient.data.l[2] = long(window);
    } else {
        event.xclient.message_type = XInternAtom(flooder, "FLOOD_OF_NOTHING", False);
    }
    XSendEvent(flooder, window, False, NoEventMask, &event);
}

bool run(const std::string& viewer, Flood flood, double seconds) {
    VirtualServer server = startVirtualServer({"-screen", "0", "1280x1024x24"});
    Display* user = server.display.empty() ? nullptr : openUserConnection(server.display);
    Display* flooder = user ? openUserConnection(server.display) : nullptr;
    if (!flooder) {
        std::fprintf(stderr, "floods: no virtual server\n");
        return false;
    }
    pid_t child = spawnProgram(viewer, server.display, "/dev/null");
    // The notice the viewer starts with is flooded as it stands; any other
    // flood goes to the main window, once the notice is dismissed.
    Window window = waitForWindowNamed(user, "vorandile", 20000);
    if (window && flood != Flood::boxPings) {
        pressKey(user, XK_Return);
        window = waitForWindowNamed(user, "vorandile ", 20000);
    }
    bool ok = window != 0;
    if (ok) {
        usleep(1000000);  // past start-up
        long before = residentKilobytes(child), peak = before;
        long sent = 0;
        double started = monotonicSeconds(), sampled = started;
        while (monotonicSeconds() - started < seconds) {
            for (int i = 0; i < 1000; ++i) send(flooder, window, flood, sent++);
            XFlush(flooder);
            if (monotonicSeconds() - sampled > 0.1) {
                peak = std::max(peak, residentKilobytes(child));
                sampled = monotonicSeconds();
            }
        }
        XSync(flooder, False);
        double pressed = monotonicSeconds();
        if (flood == Flood::boxPings) {
            pressKey(user, XK_Return);
            waitForWindowNamed(user, "vorandile ", 20000);
        }
        pressKey(user, XK_Escape);
        int status = -1;
        while (monotonicSeconds() - pressed < 120) {
            // Dismissed, the notice gives way to the main window and its
            // driver, which grow the viewer by themselves.
            if (flood != Flood::boxPings) peak = std::max(peak, residentKilobytes(child));
            if (waitpid(child, &status, WNOHANG) == child) break;
            usleep(10000);
        }
        double answered = monotonicSeconds() - pressed;
        bool ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // A few tens of megabytes and a second: what a user would accept of
        // a viewer under attack, and far from what a working one shows.
        bool withinLimits = ended && peak - before < 64 * 1024 && answered < 1.0;
        std::printf("%-28s %9ld sent (%7.0f/s)  resident %6ld kB before, %+8ld kB at peak  Esc %s after %6.3f s  %s\n",
                    nameOf(flood), sent, double(sent) / seconds, before, peak - before,
                    ended ? "ended it" : "did NOT end it", answered, withinLimits ? "ok" : "FAILED");
        ok = withinLimits;
        if (!ended) kill(child, SIGKILL);
    } else {
        std::fprintf(stderr, "floods: the viewer's window did not appear\n");
        kill(child, SIGKILL);
    }
    waitpid(child, nullptr, 0);
    XCloseDisplay(flooder);
    XCloseDisplay(user);
    stopVirtualServer(server);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: floods VIEWER [SECONDS [pings|extents|ignored|box-pings]]\n");
        return 2;
    }
    double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "floods: SECONDS must be a positive number\n");
        return 2;
    }
    bool ok = true, known = argc < 4;
    for (Flood flood : {Flood::pings, Flood::frameExtents, Flood::ignoredMessages, Flood::boxPings}) {
        if (argc > 3 && std::strcmp(argv[3], floodArguments[int(flood)]) != 0) continue;
        known = true;
        ok = run(argv[1], flood, seconds) && ok;
    }
    if (!known) {
        std::fprintf(stderr, "floods: FLOOD must be pings, extents, ignored or box-pings\n");
        return 2;
    }
    return ok ? 0 : 1;
}
