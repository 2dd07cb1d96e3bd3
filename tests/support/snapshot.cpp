// Runs the viewer on the current display the way a user would: dismisses
// the notice, lets the model spin, saves a picture of the window and
// closes it with Esc.
#include "x_server.h"
#include "x_user.h"

#include <X11/keysym.h>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VIEWER PNG\n", argv[0]);
        return 2;
    }
    Display* display = openUserConnection();
    if (!display) {
        std::fprintf(stderr, "snapshot: cannot open the X display\n");
        return 1;
    }
    const char* displayName = DisplayString(display);
    pid_t viewer = spawnProgram(argv[1], displayName);
    Window notice = waitForWindowNamed(display, "vorandile", 10000);
    if (!notice) {
        std::fprintf(stderr, "snapshot: the start-up notice did not appear\n");
        waitForExit(viewer, 0);
        return 1;
    }
    pressKey(display, XK_Return);
    Window window = waitForWindowNamed(display, "vorandile ", 10000);
    if (!window) {
        std::fprintf(stderr, "snapshot: the viewer window did not appear\n");
        waitForExit(viewer, 0);
        return 1;
    }
    sleep(2);
    int width = 0, height = 0;
    std::vector<uint32_t> pixels = captureWindow(display, window, &width, &height);
    bool saved = !pixels.empty() && writePng(argv[2], width, height, pixels);
    pressKey(display, XK_Escape);
    int status = waitForExit(viewer, 5000);
    if (!saved) {
        std::fprintf(stderr, "snapshot: could not save %s\n", argv[2]);
        return 1;
    }
    if (status != 0) {
        std::fprintf(stderr, "snapshot: the viewer ended with %d\n", status);
        return 1;
    }
    return 0;
}
