// The real program as an X11 client of XWayland under sway, a tiling
// Wayland compositor that imposes its sizes: whatever sway makes of the
// window, the X window ends where sway shows it, stays there, and is drawn
// at that size.
#include "viewer_program.h"  // GoogleTest before Xlib
#include "sway.h"

#include <X11/keysym.h>

#include <string>

namespace {

class ViewerUnderSway : public ViewerProgramTest {
protected:
    // No Xvfb: the test's server is XWayland, which the viewer, the user's
    // connection and its XTEST input all go to.
    void SetUp() override {
        if (!swayInstalled()) GTEST_SKIP() << "sway or Xwayland is not installed (scripts/setup.sh installs them)";
        std::string why;
        sway = startSway(testing::TempDir(), &why);
        ASSERT_FALSE(sway.display.empty()) << "sway with XWayland did not start: " << why;
        server.display = sway.display;  // server.pid stays -1: nothing for the base to stop
        user = openUserConnection(server.display);
        ASSERT_NE(user, nullptr) << "XWayland on " << server.display << " refused the test's connection";
    }
    void TearDown() override {
        ViewerProgramTest::TearDown();
        stopSway(sway);
    }

    // Waits until sway shows the window in the state asked for and the X
    // window's own geometry is where sway shows it; false, with what was
    // last seen in `seen`, when that does not happen in time.
    bool agreesWithSway(bool fullscreen, SwayWindow* node, std::string* seen) {
        return waitUntil(
            [&] {
                bool inTree = findSwayWindow(sway, window, node);
                WindowGeometry own = geometry();
                *seen = "sway: " + (inTree ? describe(node->shown) + (node->fullscreen ? ", fullscreen" : ", tiled")
                                           : std::string("no node for the window")) +
                        "; X: " + describe(own);
                return inTree && node->fullscreen == fullscreen && same(node->shown, own);
            },
            20000);
    }
    static bool same(const WindowGeometry& a, const WindowGeometry& b) {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    }
    static std::string describe(const WindowGeometry& g) {
        return std::to_string(g.width) + "x" + std::to_string(g.height) + " at (" + std::to_string(g.x) + ", " +
               std::to_string(g.y) + ")";
    }

    SwaySession sway;
};

TEST_F(ViewerUnderSway, EveryFullscreenToggleEndsWithTheWindowWhereSwayShowsItAndDrawn) {
    ASSERT_NE(start(), 0u) << "the notice and the window on XWayland; the viewer's errors: " << errorText();
    SwayWindow node;
    std::string seen;
    ASSERT_TRUE(agreesWithSway(false, &node, &seen)) << "tiled at first: " << seen;
    const WindowGeometry tile = node.shown;
    const WindowGeometry output{0, 0, DisplayWidth(user, DefaultScreen(user)), DisplayHeight(user, DefaultScreen(user))};
    ASSERT_LT(tile.height, output.height) << "the tile has a title bar: fullscreen changes the size";
    for (int toggle = 1; toggle <= 12; ++toggle) {
        bool fullscreen = toggle % 2 == 1;
        std::string reply;
        ASSERT_TRUE(swayMessage(sway, "'[con_id=" + std::to_string(node.id) + "] fullscreen toggle'", &reply))
            << reply;
        ASSERT_TRUE(agreesWithSway(fullscreen, &node, &seen)) << "toggle " << toggle << ": " << seen;
        EXPECT_TRUE(same(node.shown, fullscreen ? output : tile)) << "toggle " << toggle << ": " << seen;
        // No second thoughts: the window does not ask for another size and
        // have sway put it back.
        EXPECT_FALSE(waitUntil(
            [&] {
                SwayWindow now;
                return !findSwayWindow(sway, window, &now) || !same(now.shown, node.shown) ||
                       !same(geometry(), node.shown);
            },
            1000))
            << "toggle " << toggle << ": it moved on from " << seen;
        Rgb corner{};
        EXPECT_TRUE(waitUntil(
            [&] {
                corner = pixel(node.shown.width - 3, node.shown.height - 3);
                return closeTo(corner, viewerBackground);
            },
            5000))
            << "toggle " << toggle << ": the far corner is drawn, not (" << corner.red << ", " << corner.green
            << ", " << corner.blue << ")";
        EXPECT_TRUE(keepsChanging()) << "toggle " << toggle << ": frames go on";
    }
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

}  // namespace
