// The real program on real desktops: window managers from the distribution
// (a stacking one, a tiling one, a second stacking one) and a compositing
// manager, each on a server of its own. Everything is asked of the viewer
// the way a user asks it, through the manager, and checked against what the
// server says.
#include "viewer_desktop.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
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
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 5000));
    EXPECT_TRUE(keepsChanging()) << "it spins";

    pressKey(user, XK_f);  // still no click: the window has the focus
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerFoggyBackground); }, 3000)) << "f answered";
    pressKey(user, XK_f);
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 3000));

    std::vector<uint32_t> stopped = stopModel();
    ASSERT_FALSE(stopped.empty()) << "a click stops it";
    pressAndDragFromCentre();
    EXPECT_TRUE(waitUntil([&] { return screen() != stopped; }, 3000)) << "the drag turned it";
    setButton(user, 1, false);
    EXPECT_TRUE(keepsChanging()) << "released away from the press point, it spins";

    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 5000), 0);
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
    EXPECT_EQ(waitForExit(child, 5000), 0);
}

TEST_P(ViewerOnADesktop, MinimizedAndRestoredItDrawsAgain) {
    if (tiling()) GTEST_SKIP() << "a tiling manager has no minimized windows";
    ASSERT_NE(start(), 0u);
    minimizeWindow(user, window);
    ASSERT_TRUE(waitUntil([&] { return windowState(user, window) == IconicState; }, 3000));
    EXPECT_FALSE(isViewable(user, window));
    usleep(300000);
    EXPECT_TRUE(isRunning(child));
    activateWindow(user, window);
    ASSERT_TRUE(waitUntil([&] { return isViewable(user, window); }, 3000));
    EXPECT_EQ(windowState(user, window), NormalState);
    EXPECT_TRUE(keepsChanging()) << "frames again";
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 5000), 0);
}

TEST_P(ViewerOnADesktop, CoveredAndUncoveredItShowsWhatWasCoveredAgain) {
    ASSERT_NE(start(), 0u);
    std::vector<uint32_t> stopped = stopModel();
    ASSERT_FALSE(stopped.empty());
    coverAndUncover(40, 300);
    EXPECT_TRUE(waitUntil([&] { return screen() == stopped; }, 3000));
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 5000), 0);
}

TEST_P(ViewerOnADesktop, TheCloseButtonEndsItWithZero) {
    ASSERT_NE(start(), 0u);
    closeWindow(user, window);
    EXPECT_EQ(waitForExit(child, 5000), 0);
    EXPECT_EQ(errorText(), "");
}

INSTANTIATE_TEST_SUITE_P(Desktops, ViewerOnADesktop,
                         testing::Values(DesktopKind{"openbox", false}, DesktopKind{"i3", false},
                                         DesktopKind{"jwm", false}, DesktopKind{"openbox", true}),
                         [](const testing::TestParamInfo<DesktopKind>& kind) { return kindName(kind.param); });

// A session starts its programs while its window manager is still starting:
// a request to show a window made then may be dropped, and is made again.
using ViewerStartedWithItsManager = ViewerProgramTest;

TEST_F(ViewerStartedWithItsManager, ShowsItsNoticeAndWindowAllTheSame) {
    helpers.push_back(startWindowManager("openbox", server.display, user, testing::TempDir() + "desktop-home", false));
    ASSERT_GT(helpers.back(), 0);
    ASSERT_NE(start(), 0u) << "the notice and the window appear";
    EXPECT_TRUE(keepsChanging());
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 5000), 0);
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
    EXPECT_EQ(waitForExit(child, 5000), 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, ViewerComposited, testing::Values(30, 24, 16, 15),
                         [](const testing::TestParamInfo<int>& depth) { return std::to_string(depth.param) + "bit"; });

}  // namespace
