// A scripted user session of the viewer on the current display: the notice,
// drags, clicks and every key, then Esc. The viewer is started with the
// command line given, so that it can run under a checker; the exit code is
// the viewer's own.
#include "x_server.h"
#include "x_user.h"

#include <X11/keysym.h>

#include <cstdio>
#include <unistd.h>

namespace {

void drag(Display* display, int fromX, int fromY, int toX, int toY, int steps) {
    movePointer(display, fromX, fromY);
    setButton(display, 1, true);
    for (int i = 1; i <= steps; ++i) {
        movePointer(display, fromX + (toX - fromX) * i / steps, fromY + (toY - fromY) * i / steps);
        usleep(20000);
    }
    setButton(display, 1, false);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s VIEWER-COMMAND...\n", argv[0]);
        return 2;
    }
    Display* display = openUserConnection();
    if (!display) {
        std::fprintf(stderr, "session: cannot open the X display\n");
        return 2;
    }
    std::vector<std::string> command(argv + 1, argv + argc);
    pid_t viewer = spawnCommand(command, DisplayString(display));
    const int patience = 120000;  // a checker slows the viewer down a lot
    if (!waitForWindowNamed(display, "vorandile", patience)) {
        std::fprintf(stderr, "session: the notice did not appear\n");
        waitForExit(viewer, 0);
        return 2;
    }
    pressKey(display, XK_Return);
    Window window = waitForWindowNamed(display, "vorandile ", patience);
    if (!window) {
        std::fprintf(stderr, "session: the window did not appear\n");
        waitForExit(viewer, 0);
        return 2;
    }
    sleep(1);
    WindowGeometry g = rootGeometry(display, window);
    int cx = g.x + g.width / 2, cy = g.y + g.height / 2;
    clickAt(display, cx, cy);  // stop
    sleep(1);
    drag(display, cx, cy, cx + 200, cy + 80, 10);  // spin about the drag axis
    sleep(1);
    drag(display, cx, cy, -50, -50, 10);  // captured outside the window, then back
    drag(display, cx, cy, cx, cy, 1);     // back to the press point: stop
    for (unsigned long key : {XK_f, XK_p, XK_j, XK_k, XK_p, XK_f}) {
        pressKey(display, key);
        usleep(300000);
    }
    pressKey(display, XK_f, true);
    sleep(1);
    pressKey(display, XK_Escape);
    int status = waitForExit(viewer, patience);
    std::printf("session: the viewer ended with %d\n", status);
    return status;
}
