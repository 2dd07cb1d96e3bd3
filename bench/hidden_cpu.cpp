// A fault script: what the viewer costs while no one sees its window. It
// runs the real viewer under openbox on a private virtual server and, where
// the Wayland test support is built, as a native client of KDE's compositor
// nested in one; lets the model spin, and prints the share of a core it
// takes shown, then minimized, then shown again; it fails past 5 percent
// while minimized (it takes one or two).
//   hidden-cpu VIEWER [SECONDS]
#include "desktop.h"
#include "x_server.h"
#include "x_user.h"
#ifdef HIDDEN_CPU_WAYLAND
#include "nested_wayland.h"
#endif

#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// WM_STATE's values, as ICCCM numbers them (Xutil.h's names clash with the
// nested desktop's Region).
const int normalState = 1, iconicState = 3;

double shareOfACore(pid_t viewer, double seconds) {
    double cpu = processCpuSeconds(viewer), wall = monotonicSeconds();
    waitUntil([&] { return monotonicSeconds() - wall >= seconds; }, int(seconds * 1000) + 1000);
    return (processCpuSeconds(viewer) - cpu) / (monotonicSeconds() - wall) * 100;
}

// The share of a core shown, minimized (`hide`), then shown again (`show`),
// printed; false when a step failed or minimized costs 5 percent or more.
bool report(const char* desktop, pid_t viewer, double seconds, const std::function<bool()>& hide,
            const std::function<bool()>& show) {
    double shown = shareOfACore(viewer, seconds);
    bool ok = hide();
    double minimized = ok ? shareOfACore(viewer, seconds) : -1;
    ok = ok && show();
    double again = ok ? shareOfACore(viewer, seconds) : -1;
    std::printf("%s, %.0f s each: shown %.1f %% of a core, minimized %.1f %%, shown again %.1f %%\n", desktop, seconds,
                shown, minimized, again);
    return ok && minimized >= 0 && minimized < 5.0;
}

// Under openbox on a private virtual server: minimized by the manager, as
// its iconify button does, and activated again.
bool measureUnderOpenbox(const char* program, double seconds) {
    VirtualServer server = startVirtualServer({"-screen", "0", "1280x1024x24"});
    Display* user = server.display.empty() ? nullptr : openUserConnection(server.display);
    if (!user) {
        std::fprintf(stderr, "hidden-cpu: no virtual server\n");
        return false;
    }
    std::string home = "/tmp/hidden-cpu-" + std::to_string(getpid());
    pid_t manager = startWindowManager("openbox", server.display, user, home);
    pid_t viewer = manager > 0 ? spawnProgram(program, server.display, "/dev/null") : -1;
    Window window = 0;
    if (viewer > 0 && waitForWindowNamed(user, "vorandile", 20000)) {
        pressKey(user, XK_Return);
        window = waitForWindowNamed(user, "vorandile ", 20000);
    }
    bool ok = window && pictureChanges(user, window, 20000);
    if (ok) {
        ok = report("openbox", viewer, seconds, [&] {
            minimizeWindow(user, window);
            return waitUntil([&] { return windowState(user, window) == iconicState; }, 20000);
        }, [&] {
            activateWindow(user, window);
            return waitUntil([&] { return windowState(user, window) == normalState; }, 20000);
        });
    } else {
        std::fprintf(stderr, "hidden-cpu: the viewer's window did not appear or draw under openbox\n");
    }
    if (viewer > 0) {
        pressKey(user, XK_Escape);
        if (waitForExit(viewer, 20000) != 0) ok = false;
    }
    if (manager > 0) stopProgram(manager);
    XCloseDisplay(user);
    stopVirtualServer(server);
    std::system(("rm -rf " + home).c_str());
    return ok;
}

#ifdef HIDDEN_CPU_WAYLAND
// As a native client of KDE's compositor, nested: minimized by its keys
// (Meta+Page Down) and brought back with Alt+Tab. No compositor tells a
// client it is minimized; it only stops giving the go-ahead for frames.
bool measureUnderNestedKwin(const char* program, double seconds) {
    std::string why;
    NestedDesktop desktop = startNested(NestedCompositor::kwin, "/tmp/", &why);
    if (desktop.wayland.empty()) {
        std::fprintf(stderr, "hidden-cpu: kwin did not start: %s\n", why.c_str());
        return false;
    }
    const Rgb background = rgbOf(0.5f, 0.25f, 0.35f), boxFace{0xf0, 0xf0, 0xf0};
    auto shows = [&](Rgb colour) { return regionOf(screenPicture(desktop), colour, 0).count > 5000; };
    pid_t viewer = spawnNestedClient(desktop, {program}, "/dev/null");
    bool ok = waitUntil([&] { return shows(boxFace); }, 20000);
    if (ok) {
        pressChord(desktop, {XK_Return});
        ok = waitUntil([&] { return shows(background); }, 20000);
    }
    if (ok) {
        ok = report("kwin (nested)", viewer, seconds, [&] {
            pressChord(desktop, {XK_Super_L, XK_Next});
            return waitUntil([&] { return !shows(background); }, 20000);
        }, [&] {
            pressChord(desktop, {XK_Alt_L, XK_Tab});
            return waitUntil([&] { return shows(background); }, 20000);
        });
    } else {
        std::fprintf(stderr, "hidden-cpu: the viewer's window did not appear under kwin\n");
    }
    pressChord(desktop, {XK_Escape});
    if (waitForExit(viewer, 20000) != 0) ok = false;
    stopNested(desktop);
    return ok;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    if (argc < 2 || seconds <= 0) {
        std::fprintf(stderr, "usage: hidden-cpu VIEWER [SECONDS]\n  SECONDS: each measurement's, 3 by default\n");
        return 2;
    }
    bool ok = measureUnderOpenbox(argv[1], seconds);
#ifdef HIDDEN_CPU_WAYLAND
    ok = measureUnderNestedKwin(argv[1], seconds) && ok;
#endif
    return ok ? 0 : 1;
}
