// Runs the viewer on the current display the way a user would: dismisses
// the notice, lets the model spin, saves a picture of the window and
// closes it with Esc. With --check-display it only tells whether a
// display can be opened.
#include "x_server.h"
#include "x_user.h"

#include <X11/keysym.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

int fail(const char* what, pid_t viewer) {
    std::fprintf(stderr, "snapshot: %s\n", what);
    if (viewer > 0) waitForExit(viewer, 0);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--check-display") == 0) {
        Display* display = XOpenDisplay(nullptr);
        if (display) XCloseDisplay(display);
        return display ? 0 : 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VIEWER PNG | --check-display\n", argv[0]);
        return 2;
    }
    Display* display = openUserConnection();
    if (!display) return fail("cannot open the X display", -1);
    pid_t viewer = spawnProgram(argv[1], DisplayString(display));
    if (!waitForWindowNamed(display, "vorandile", 10000)) return fail("the start-up notice did not appear", viewer);
    pressKey(display, XK_Return);
    Window window = waitForWindowNamed(display, "vorandile ", 10000);
    if (!window) return fail("the viewer window did not appear", viewer);
    // The model drawn: the picture changes as frames come.
    if (!pictureChanges(display, window, 30000)) return fail("the window showed no frames", viewer);
    int width = 0, height = 0;
    std::vector<uint32_t> pixels = captureWindow(display, window, &width, &height);
    bool saved = !pixels.empty() && writePng(argv[2], width, height, pixels);
    pressKey(display, XK_Escape);
    int status = waitForExit(viewer, 20000);
    if (!saved) return fail("could not save the picture", -1);
    if (status != 0) return fail("the viewer did not end cleanly", -1);
    return 0;
}
