#include "viewer_desktop.h"

#include <X11/keysym.h>

#include <cstdio>
#include <string>

void ViewerOnADesktopTest::SetUp() {
    ViewerProgramTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    helpers.push_back(startWindowManager(managerName(), server.display, user, testing::TempDir() + "desktop-home"));
    ASSERT_GT(helpers.back(), 0) << managerName() << " did not take over the screen";
    if (composited()) {
        helpers.push_back(startCompositor(server.display, user));
        ASSERT_GT(helpers.back(), 0) << "xcompmgr did not start";
    }
    // The pointer away from where the window will be: focus must not come from it.
    movePointer(user, 1270, 1015);
}

bool ViewerOnADesktopTest::tiling() const { return std::string(managerName()) == "i3"; }

WindowGeometry ViewerOnADesktopTest::expectAliveAt(const char* action) {
    WindowGeometry g = settledGeometry();
    EXPECT_TRUE(keepsChanging()) << action << ": frames go on";
    // A manager that resizes the window and takes it back leaves it
    // uncleared until the viewer's next frames: a slow viewer's come later.
    Rgb corner = pixel(g.width - 3, 3);
    if (clearsTheWholeWindow())
        EXPECT_TRUE(waitUntil([&] { return closeTo(corner = pixel(g.width - 3, 3), viewerBackground); }, 20000))
            << action << ": the far corner is cleared too";
    std::printf("%s, %s: client %dx%d at (%d, %d), far corner (%d, %d, %d)\n", managerName(), action, g.width, g.height,
                g.x, g.y, corner.red, corner.green, corner.blue);
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerFoggyBackground); }, 20000)) << action << ": f answered";
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 20000));
    return g;
}

void ViewerOnADesktopTest::leaveState(const char* state, const char* second) {
    setWindowState(user, window, false, state, second);
    EXPECT_TRUE(waitUntil([&] { return !inWindowState(user, window, state); }, 20000))
        << managerName() << " did not take the window out of " << state;
}

WindowGeometry ViewerOnADesktopTest::waitForSize(int width, int height, const char* action) {
    WindowGeometry now{};
    EXPECT_TRUE(waitUntil(
        [&] {
            now = geometry();
            return now.width == width && now.height == height;
        },
        20000))
        << action << ": " << now.width << "x" << now.height << ", not " << width << "x" << height;
    return now;
}

// Each step waits for the size the window must come to, and the way back
// for the manager's word on the state first: a size read before the manager
// and the program are done with a change may be the one before it.
void ViewerOnADesktopTest::goThroughTheManagersSizes() {
    WindowGeometry first = settledGeometry();
    expectAliveAt("start");
    const char* maximized[] = {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"};
    if (!tiling()) {  // a tiling manager has no maximized state
        setWindowState(user, window, true, maximized[0], maximized[1]);
        if (takesItsOwnSizeBack()) waitForSize(first.width, first.height, "maximized, back at its own size");
        expectAliveAt("maximized");
        leaveState(maximized[0], maximized[1]);
        expectAliveAt("restored");
    }
    setWindowState(user, window, true, "_NET_WM_STATE_FULLSCREEN");
    if (tiling())
        waitForSize(DisplayWidth(user, DefaultScreen(user)), DisplayHeight(user, DefaultScreen(user)),
                    "the tiling manager's fullscreen stays");
    else if (takesItsOwnSizeBack())
        waitForSize(first.width, first.height, "fullscreen, back at its own size");
    expectAliveAt("fullscreen");
    leaveState("_NET_WM_STATE_FULLSCREEN");
    waitForSize(first.width, first.height, "back from fullscreen, at the size it started with");
    expectAliveAt("back from fullscreen");
}
