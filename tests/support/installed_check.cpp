// Runs an installed viewer end to end on a private virtual X server of its
// own, as a user of the installed program would: the notice, a frame, Esc.
// The window must carry the class its desktop entry names and an icon.
//   installed-check DESKTOP-ENTRY COMMAND...
// Exit code 0 when all holds; otherwise 1, with what did not.
#include "x_server.h"
#include "x_user.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool holds, const std::string& what) {
    std::printf("%s %s\n", holds ? "ok:  " : "FAIL:", what.c_str());
    if (!holds) ++failures;
}

std::string entryValue(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DESKTOP-ENTRY COMMAND...\n", argv[0]);
        return 2;
    }
    std::string startupClass = entryValue(argv[1], "StartupWMClass");
    check(!startupClass.empty(), "the desktop entry names the window's class");

    VirtualServer server = startVirtualServer({"-screen", "0", "1280x1024x24"});
    if (server.display.empty()) {
        std::fprintf(stderr, "installed-check: could not start Xvfb\n");
        return 1;
    }
    Display* user = openUserConnection(server.display);
    pid_t viewer = spawnCommand(std::vector<std::string>(argv + 2, argv + argc), server.display);
    bool noticed = waitForWindowNamed(user, "vorandile", 20000) != 0;
    check(noticed, "the notice appears");
    if (noticed) pressKey(user, XK_Return);
    Window window = waitForWindowNamed(user, "vorandile ", 20000);
    check(window != 0, "the window appears");
    if (window) {
        check(waitUntil([&] { return closeTo(pixelAt(user, window, 3, 3), rgbOf(0.5f, 0.25f, 0.35f)); }, 10000),
              "a frame is drawn");
        XClassHint hint{};
        bool hasClass = XGetClassHint(user, window, &hint);
        check(hasClass && startupClass == hint.res_class, "the window's class is the entry's StartupWMClass");
        if (hasClass) {
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        bool pixels = false;
        std::vector<long> size = property32(user, window, "_NET_WM_ICON", XA_CARDINAL, 2, &pixels);
        check(size.size() == 2 && pixels, "the window carries an icon");
        pressKey(user, XK_Escape);
    }
    int status = waitForExit(viewer, 10000);
    check(status == 0, "Esc ends it with exit code 0 (got " + std::to_string(status) + ")");
    XCloseDisplay(user);
    stopVirtualServer(server);
    return failures ? 1 : 0;
}
