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

long long sessionStart = 0;

// Each step's time on stderr, so that a slow run shows where it was slow.
void stepDone(const char* what) {
    std::fprintf(stderr, "session: %7.1f s  %s\n", double(monotonicMs() - sessionStart) / 1000, what);
}

void drag(Display* display, int fromX, int fromY, int toX, int toY, int steps) {
    movePointer(display, fromX, fromY);
    setButton(display, 1, true);
    for (int i = 1; i <= steps; ++i) {
        movePointer(display, fromX + (toX - fromX) * i / steps, fromY + (toY - fromY) * i / steps);
        usleep(20000);  // a drag takes time, as a hand's does: motions apart, not all at once
    }
    setButton(display, 1, false);
}

// The viewer took in what was sent so far, or (with `changes`) shows a
// picture other than `before`, or than now; else the session ends it and
// says what did not happen.
bool waitFor(Display* display, Window window, pid_t viewer, bool changes, int patience, const char* what,
             const std::vector<uint32_t>* before = nullptr) {
    if (changes ? pictureChanges(display, window, patience, before) : answersPing(display, window, patience)) {
        stepDone(what);
        return true;
    }
    std::fprintf(stderr, "session: %s did not happen within %d s\n", what, patience / 1000);
    waitForExit(viewer, 0);
    return false;
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
    sessionStart = monotonicMs();
    pid_t viewer = spawnCommand(command, DisplayString(display));
    const int patience = 120000;  // a checker slows the viewer down a lot
    if (!waitForWindowNamed(display, "vorandile", patience)) {
        std::fprintf(stderr, "session: the notice did not appear\n");
        waitForExit(viewer, 0);
        return 2;
    }
    stepDone("the notice");
    pressKey(display, XK_Return);
    Window window = waitForWindowNamed(display, "vorandile ", patience);
    if (!window) {
        std::fprintf(stderr, "session: the window did not appear\n");
        waitForExit(viewer, 0);
        return 2;
    }
    stepDone("the window");
    if (!waitFor(display, window, viewer, true, patience, "a frame")) return 2;
    WindowGeometry g = rootGeometry(display, window);
    int cx = g.x + g.width / 2, cy = g.y + g.height / 2;
    clickAt(display, cx, cy);  // stop
    if (!waitFor(display, window, viewer, false, patience, "an answer after the click")) return 2;
    drag(display, cx, cy, cx + 200, cy + 80, 10);  // spin about the drag axis
    if (!waitFor(display, window, viewer, true, patience, "spinning after the drag")) return 2;
    drag(display, cx, cy, -50, -50, 10);  // captured outside the window, then back
    drag(display, cx, cy, cx, cy, 1);     // back to the press point: stop
    if (!waitFor(display, window, viewer, false, patience, "an answer after the drags")) return 2;
    for (unsigned long key : {XK_f, XK_p, XK_j, XK_k, XK_p, XK_f}) {
        int width = 0, height = 0;
        std::vector<uint32_t> before = captureWindow(display, window, &width, &height);
        pressKey(display, key);
        // Fog and outlines show; the other keys change nothing to see.
        bool shows = key == XK_f || key == XK_p;
        if (!waitFor(display, window, viewer, shows, patience, shows ? "a new picture after a key" : "an answer to a key",
                     &before))
            return 2;
    }
    pressKey(display, XK_f, true);
    if (!waitFor(display, window, viewer, false, patience, "an answer to capital F")) return 2;
    pressKey(display, XK_Escape);
    int status = waitForExit(viewer, patience);
    stepDone("the exit");
    std::printf("session: the viewer ended with %d\n", status);
    return status;
}
