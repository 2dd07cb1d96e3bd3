// A fault script: what the viewer costs while no one sees its window. It
// runs the real viewer under openbox on a private virtual server, lets the
// model spin, and prints the share of a core it takes shown, then
// minimized, then shown again; it fails past 5 percent while minimized
// (the viewer's own 100 ms timer still has it draw ten frames a second).
//   hidden-cpu VIEWER [SECONDS]
#include "desktop.h"
#include "x_server.h"
#include "x_user.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double shareOfACore(pid_t viewer, double seconds) {
    double cpu = processCpuSeconds(viewer), wall = monotonicSeconds();
    waitUntil([&] { return monotonicSeconds() - wall >= seconds; }, int(seconds * 1000) + 1000);
    return (processCpuSeconds(viewer) - cpu) / (monotonicSeconds() - wall) * 100;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    if (argc < 2 || seconds <= 0) {
        std::fprintf(stderr, "usage: hidden-cpu VIEWER [SECONDS]\n  SECONDS: each measurement's, 3 by default\n");
        return 2;
    }
    VirtualServer server = startVirtualServer({"-screen", "0", "1280x1024x24"});
    Display* user = server.display.empty() ? nullptr : openUserConnection(server.display);
    if (!user) {
        std::fprintf(stderr, "hidden-cpu: no virtual server\n");
        return 1;
    }
    std::string home = "/tmp/hidden-cpu-" + std::to_string(getpid());
    pid_t manager = startWindowManager("openbox", server.display, user, home);
    pid_t viewer = manager > 0 ? spawnProgram(argv[1], server.display, "/dev/null") : -1;
    Window window = 0;
    if (viewer > 0 && waitForWindowNamed(user, "vorandile", 20000)) {
        pressKey(user, XK_Return);
        window = waitForWindowNamed(user, "vorandile ", 20000);
    }
    bool ok = window && pictureChanges(user, window, 20000);
    if (ok) {
        double shown = shareOfACore(viewer, seconds);
        minimizeWindow(user, window);
        ok = waitUntil([&] { return windowState(user, window) == IconicState; }, 20000);
        double minimized = ok ? shareOfACore(viewer, seconds) : -1;
        activateWindow(user, window);
        ok = ok && waitUntil([&] { return windowState(user, window) == NormalState; }, 20000);
        double again = ok ? shareOfACore(viewer, seconds) : -1;
        std::printf("openbox, %.0f s each: shown %.1f %% of a core, minimized %.1f %%, shown again %.1f %%\n", seconds,
                    shown, minimized, again);
        ok = ok && minimized >= 0 && minimized < 5.0;
    } else {
        std::fprintf(stderr, "hidden-cpu: the viewer's window did not appear or draw\n");
    }
    if (viewer > 0) {
        pressKey(user, XK_Escape);
        if (waitForExit(viewer, 20000) != 0) ok = false;
    }
    if (manager > 0) stopProgram(manager);
    XCloseDisplay(user);
    stopVirtualServer(server);
    std::system(("rm -rf " + home).c_str());
    return ok ? 0 : 1;
}
