// The real program on real desktops: window managers from the distribution
// (a stacking one, a tiling one, a second stacking one) and a compositing
// manager, each on a server of its own. Everything is asked of the viewer
// the way a user asks it, through the manager, and checked against what the
// server says.
#include "viewer_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct DesktopKind {
    const char* manager;
    bool compositor;
};

std::string kindName(const DesktopKind& kind) {
    return std::string(kind.manager) + (kind.compositor ? "_composited" : "");
}

void PrintTo(const DesktopKind& kind, std::ostream* out) { *out << kindName(kind); }

class ViewerOnADesktop : public ViewerOnADesktopTest, public testing::WithParamInterface<DesktopKind> {
protected:
    const char* managerName() const override { return GetParam().manager; }
    bool composited() const override { return GetParam().compositor; }
};

TEST_P(ViewerOnADesktop, StartsAndTakesKeysWithoutAClickTurnsOnADragAndEndsOnEscape) {
    Window notice = startAndWaitForNotice();
    ASSERT_NE(notice, 0u);
    pressKey(user, XK_Return);  // no click: the notice has the focus
    window = waitForWindowNamed(user, "vorandile ", 10000);
    ASSERT_NE(window, 0u) << "the notice took the key";
    EXPECT_EQ(windowState(user, window), NormalState);
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 20000));
    EXPECT_TRUE(keepsChanging()) << "it spins";

    pressKey(user, XK_f);  // still no click: the window has the focus
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerFoggyBackground); }, 20000)) << "f answered";
    pressKey(user, XK_f);
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 20000));

    std::vector<uint32_t> stopped = stopModel();
    ASSERT_FALSE(stopped.empty()) << "a click stops it";
    pressAndDragFromCentre();
    EXPECT_TRUE(waitUntil([&] { return screen() != stopped; }, 20000)) << "the drag turned it";
    setButton(user, 1, false);
    EXPECT_TRUE(keepsChanging()) << "released away from the press point, it spins";

    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

TEST_P(ViewerOnADesktop, CentresItsNoticeByTheFrameAndNamesItsProgramOnIt) {
    Window notice = startAndWaitForNotice();
    ASSERT_NE(notice, 0u);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(user, notice, &hint)) << "task bars group it with the program";
    EXPECT_STREQ(hint.res_name, "vorandile");
    EXPECT_STREQ(hint.res_class, "Vorandile");
    XFree(hint.res_name);
    XFree(hint.res_class);
    std::vector<long> pid = property32(user, notice, "_NET_WM_PID", XA_CARDINAL, 1);
    ASSERT_EQ(pid.size(), 1u);
    EXPECT_EQ(pid[0], long(child));
    if (!tiling()) {  // a tiling manager places floating windows itself
        Extents frame;
        ASSERT_TRUE(waitUntil([&] { return frameExtents(user, notice, &frame); }, 10000));
        int screenWidth = DisplayWidth(user, DefaultScreen(user)), screenHeight = DisplayHeight(user, DefaultScreen(user));
        WindowGeometry outer;
        // Centred once the manager's frame is known: to a pixel, for odd sizes.
        EXPECT_TRUE(waitUntil(
            [&] {
                WindowGeometry client = rootGeometry(user, notice);
                outer = {client.x - frame.left, client.y - frame.top, client.width + frame.left + frame.right,
                         client.height + frame.top + frame.bottom};
                return std::abs(2 * outer.x + outer.width - screenWidth) <= 1 &&
                       std::abs(2 * outer.y + outer.height - screenHeight) <= 1;
            },
            10000))
            << "outer " << outer.width << "x" << outer.height << " at (" << outer.x << ", " << outer.y << ")";
    }
    pressKey(user, XK_Return);
    Window main = waitForWindowNamed(user, "vorandile ", 20000);
    ASSERT_NE(main, 0u);
    waitForFocus(main);
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

TEST_P(ViewerOnADesktop, DrawsAndAnswersAtWhateverSizeTheManagerGivesWithFlatMemory) {
    ASSERT_NE(start(), 0u);
    WindowGeometry first = settledGeometry();
    if (tiling())
        EXPECT_GT(first.width, 819) << "a tiling manager gives it the screen";
    else
        EXPECT_LE(first.width, 819) << "it starts at its own size";
    long before = residentKilobytes(child);
    goThroughTheManagersSizes();
    long after = residentKilobytes(child);
    std::printf("%s: resident size %ld kB before, %ld kB after\n", managerName(), before, after);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine keeps freed memory resident on purpose
    EXPECT_LT(after - before, 16 * 1024) << "memory stays flat";
#endif
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

TEST_P(ViewerOnADesktop, MinimizedAndRestoredItDrawsAgain) {
    if (tiling()) GTEST_SKIP() << "a tiling manager has no minimized windows";
    ASSERT_NE(start(), 0u);
    minimizeWindow(user, window);
    // The server's word on the state: a compositing manager keeps a
    // minimized window mapped.
    ASSERT_TRUE(waitUntil([&] { return windowState(user, window) == IconicState; }, 20000));
    EXPECT_FALSE(waitUntil([&] { return windowState(user, window) != IconicState; }, 1000))
        << "it stays minimized, whatever size the program asks for";
    EXPECT_TRUE(isRunning(child));
    activateWindow(user, window);
    ASSERT_TRUE(waitUntil([&] { return windowState(user, window) == NormalState; }, 20000));
    EXPECT_TRUE(isViewable(user, window));
    EXPECT_TRUE(keepsChanging()) << "frames again";
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

TEST_P(ViewerOnADesktop, CoveredAndUncoveredItShowsWhatWasCoveredAgain) {
    ASSERT_NE(start(), 0u);
    std::vector<uint32_t> stopped = stopModel();
    ASSERT_FALSE(stopped.empty());
    coverAndUncover(40, 300);
    EXPECT_TRUE(waitUntil([&] { return screen() == stopped; }, 20000));
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

TEST_P(ViewerOnADesktop, TheCloseButtonEndsItWithZero) {
    ASSERT_NE(start(), 0u);
    closeWindow(user, window);
    EXPECT_EQ(waitForExit(child, 20000), 0);
    EXPECT_EQ(errorText(), "");
}

INSTANTIATE_TEST_SUITE_P(Desktops, ViewerOnADesktop,
                         testing::Values(DesktopKind{"openbox", false}, DesktopKind{"i3", false},
                                         DesktopKind{"jwm", false}, DesktopKind{"mutter", false},
                                         DesktopKind{"openbox", true}),
                         [](const testing::TestParamInfo<DesktopKind>& kind) { return kindName(kind.param); });

// Fullscreen on and off under a tiling manager: the window ends at the size
// the manager last gave, every time, and never asks against it.
class ViewerOnATilingDesktop : public ViewerOnADesktopTest {
protected:
    const char* managerName() const override { return "i3"; }
};

TEST_F(ViewerOnATilingDesktop, EndsEveryFullscreenCycleAtTheManagersSize) {
    ASSERT_NE(start(), 0u);
    WindowGeometry tile = settledGeometry();
    int screenWidth = DisplayWidth(user, DefaultScreen(user)), screenHeight = DisplayHeight(user, DefaultScreen(user));
    for (int cycle = 1; cycle <= 20; ++cycle) {
        setWindowState(user, window, true, "_NET_WM_STATE_FULLSCREEN");
        ASSERT_TRUE(waitUntil([&] { return geometry().width == screenWidth && geometry().height == screenHeight; }, 10000))
            << "cycle " << cycle << ": fullscreen";
        setWindowState(user, window, false, "_NET_WM_STATE_FULLSCREEN");
        ASSERT_TRUE(waitUntil([&] { return geometry().width == tile.width && geometry().height == tile.height; }, 10000))
            << "cycle " << cycle << ": back in its tile";
    }
    expectSettledSizeThenEscape(tile);
}

// A frame that comes after the window was made changes its outer size
// only: the client area the program set its drawing up for stays whole.
using ViewerWithALateFrame = ViewerProgramTest;

TEST_F(ViewerWithALateFrame, AManagerStartedLaterLeavesTheClientAreaAsItWas) {
    ASSERT_NE(start(), 0u);
    WindowGeometry first = settledGeometry();
    helpers.push_back(startWindowManager("openbox", server.display, user, testing::TempDir() + "late-home"));
    ASSERT_GT(helpers.back(), 0);
    Extents frame;
    ASSERT_TRUE(waitUntil([&] { return frameExtents(user, window, &frame); }, 10000)) << "framed";
    WindowGeometry framed = settledGeometry();
    EXPECT_EQ(framed.width, first.width) << "the picture is not cut";
    EXPECT_EQ(framed.height, first.height);
    EXPECT_TRUE(keepsChanging());
    // Maximized and back, the window still takes the size it was made with.
    // The maximized size may last a moment only: the server's events tell.
    XSelectInput(user, window, StructureNotifyMask);
    setWindowState(user, window, true, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
    XEvent event;
    ASSERT_TRUE(waitUntil(
        [&] {
            return XCheckTypedWindowEvent(user, window, ConfigureNotify, &event) && !event.xconfigure.send_event &&
                   event.xconfigure.width > first.width;
        },
        10000))
        << "maximized";
    EXPECT_TRUE(waitUntil([&] { return geometry().width == first.width && geometry().height == first.height; }, 10000))
        << "back at its own size";
    // A manager that comes later need not give the focus to a window it
    // found: the frame's close button ends the viewer.
    closeWindow(user, window);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

TEST_F(ViewerWithALateFrame, AFrameAnotherClientWritesWithoutAManagerChangesNothing) {
    ASSERT_NE(start(), 0u);
    WindowGeometry first = settledGeometry();
    long sides[4] = {300, 300, 300, 300};
    XChangeProperty(user, window, XInternAtom(user, "_NET_FRAME_EXTENTS", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(sides), 4);
    XSync(user, False);
    pressKey(user, XK_f);  // once the viewer answers this, it has read the property too
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerFoggyBackground); }, 20000));
    expectSettledSizeThenEscape(first);
}

// A session starts its programs while its window manager is still starting:
// a request to show a window made then may be dropped, and is made again.
using ViewerStartedWithItsManager = ViewerProgramTest;

TEST_F(ViewerStartedWithItsManager, ShowsItsNoticeAndWindowAllTheSame) {
    helpers.push_back(startWindowManager("openbox", server.display, user, testing::TempDir() + "desktop-home", false));
    ASSERT_GT(helpers.back(), 0);
    ASSERT_NE(start(), 0u) << "the notice and the window appear";
    EXPECT_TRUE(keepsChanging());
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

// Under a compositing manager alone, a window whose pixels carried alpha
// would let the desktop show through the model. The screen must show the
// window's own pixels, on screens of every depth.
class ViewerComposited : public ViewerProgramTest, public testing::WithParamInterface<int> {
protected:
    std::vector<std::string> serverArguments() const override {
        return {"-screen", "0", "1280x1024x" + std::to_string(GetParam())};
    }
    void SetUp() override {
        ViewerProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        helpers.push_back(startCompositor(server.display, user));
        ASSERT_GT(helpers.back(), 0);
    }
};

TEST_P(ViewerComposited, TheWindowIsOpaque) {
    ASSERT_NE(start(), 0u);
    std::vector<uint32_t> own = stopModel();
    ASSERT_FALSE(own.empty());
    WindowGeometry g = geometry();
    ASSERT_EQ(own.size(), size_t(g.width) * size_t(g.height)) << "the window changed size while it was read";
    XImage* image = XGetImage(user, DefaultRootWindow(user), g.x, g.y, unsigned(g.width), unsigned(g.height),
                              AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    // The background is opaque in any case; the model is where alpha shows.
    Rgb background = pixel(3, 3);
    long model = 0, seeThrough = 0;
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) {
            uint32_t p = own[size_t(y) * size_t(g.width) + size_t(x)];
            Rgb mine{int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
            if (closeTo(mine, background, 4)) continue;
            ++model;
            unsigned long shown = XGetPixel(image, x, y);
            auto channel = [shown](unsigned long mask) {
                int shift = __builtin_ctzl(mask);
                return int(((shown & mask) >> shift) * 255 / (mask >> shift));
            };
            Rgb onScreen{channel(image->red_mask), channel(image->green_mask), channel(image->blue_mask)};
            if (!closeTo(onScreen, mine, 16)) ++seeThrough;
        }
    XDestroyImage(image);
    std::printf("%d-bit screen: %ld model pixels, %ld show the desktop through\n", GetParam(), model, seeThrough);
    EXPECT_GT(model, 10000);
    EXPECT_EQ(seeThrough, 0);
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, ViewerComposited, testing::Values(30, 24, 16, 15),
                         [](const testing::TestParamInfo<int>& depth) { return std::to_string(depth.param) + "bit"; });

}  // namespace
