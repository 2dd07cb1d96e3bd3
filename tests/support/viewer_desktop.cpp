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
    Rgb corner = pixel(g.width - 3, 3);
    std::printf("%s, %s: client %dx%d at (%d, %d), far corner (%d, %d, %d)\n", managerName(), action, g.width,
                g.height, g.x, g.y, corner.red, corner.green, corner.blue);
    EXPECT_TRUE(keepsChanging()) << action << ": frames go on";
    if (clearsTheWholeWindow())
        EXPECT_TRUE(closeTo(corner, viewerBackground)) << action << ": the far corner is cleared too";
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerFoggyBackground); }, 20000)) << action << ": f answered";
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 20000));
    return g;
}

void ViewerOnADesktopTest::goThroughTheManagersSizes() {
    WindowGeometry first = settledGeometry();
    expectAliveAt("start");
    auto expectOwnSize = [&](const WindowGeometry& now, const char* action) {
        if (!takesItsOwnSizeBack()) return;
        EXPECT_EQ(now.width, first.width) << action << ": back at its own size";
        EXPECT_EQ(now.height, first.height) << action;
    };
    if (!tiling()) {  // a tiling manager has no maximized state
        setWindowState(user, window, true, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
        expectOwnSize(expectAliveAt("maximized"), "maximized");
        setWindowState(user, window, false, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
        expectAliveAt("restored");
    }
    setWindowState(user, window, true, "_NET_WM_STATE_FULLSCREEN");
    WindowGeometry fullscreen = expectAliveAt("fullscreen");
    if (!tiling()) {
        expectOwnSize(fullscreen, "fullscreen");
    } else {
        EXPECT_EQ(fullscreen.width, DisplayWidth(user, DefaultScreen(user))) << "the tiling manager's fullscreen stays";
        EXPECT_EQ(fullscreen.height, DisplayHeight(user, DefaultScreen(user)));
    }
    setWindowState(user, window, false, "_NET_WM_STATE_FULLSCREEN");
    expectAliveAt("back from fullscreen");
    WindowGeometry last = settledGeometry();
    EXPECT_EQ(last.width, first.width) << "back at the size it started with";
    EXPECT_EQ(last.height, first.height);
}
