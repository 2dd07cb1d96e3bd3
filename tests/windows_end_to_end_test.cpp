// The Windows build, run under Wine on a server of its own, used as a user
// of that build would: the notice, frames, fog, a click, Esc, and the error
// box where no pixel format fits. The checks that both builds can answer
// expect the same as the Linux build's end-to-end tests.
#include "viewer_desktop.h"

#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

const Rgb background = viewerBackground;
const Rgb foggyBackground = viewerFoggyBackground;

// Wine's box takes keys only some time after it shows, longer on a loaded
// machine: Return is pressed again, as a user would, until `named` appears.
Window pressReturnUntilShown(Display* user, const char* named) {
    Window shown = 0;
    for (int attempt = 0; attempt < 15 && !shown; ++attempt) {
        usleep(500000);
        pressKey(user, XK_Return);
        shown = waitForWindowNamed(user, named, 2000);
    }
    return shown;
}

void useTheWinePrefix() {
    setenv("WINEPREFIX", WINE_PREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
}

// The prefix's wineserver and its helper processes outlive a test's program
// and would serve the next test's program from the old server's display.
void endTheWineSession() { waitForExit(spawnCommand({"wineserver", "-k"}, ""), 10000); }

class WindowsBuild : public ChildProgramTest {
protected:
    void SetUp() override {
        ChildProgramTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        useTheWinePrefix();
    }
    void TearDown() override {
        ChildProgramTest::TearDown();
        endTheWineSession();
    }
    Window startAndWaitForNotice() {
        child = spawnCommand({"wine", WINDOWS_VIEWER}, server.display);
        return waitForWindowNamed(user, "vorandile", 60000);
    }

    Window start() {
        if (!startAndWaitForNotice()) return 0;
        window = pressReturnUntilShown(user, "vorandile ");
        if (window) waitUntil([&] { return closeTo(backgroundPixel(), background); }, 10000);
        return window;
    }

    // Well inside the client area, away from the model and from any frame
    // the platform draws around it.
    Rgb backgroundPixel() {
        WindowGeometry g = rootGeometry(user, window);
        return pixelAt(user, window, 40, g.height - 40);
    }
};

TEST_F(WindowsBuild, ShowsTheNoticeThenSpinsChangesWithFogStopsOnAClickAndEndsOnEscape) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    EXPECT_TRUE(windowsNamed(user, "vorandile ").empty()) << "the window comes after the notice";
    window = pressReturnUntilShown(user, "vorandile ");
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), background); }, 10000))
        << "the same background as the Linux build";
    WindowGeometry g = rootGeometry(user, window);
    // Wine's X window is the client area; the outer size is 819 as on Linux.
    std::printf("Windows build: X window %dx%d at (%d, %d)\n", g.width, g.height, g.x, g.y);
    EXPECT_EQ(g.width + 2 * g.x, 819) << "the frame's borders and the client area make up 80 percent of 1024";
    EXPECT_EQ(g.height + g.y + g.x, 819);

    std::vector<uint32_t> first = screen();
    EXPECT_TRUE(waitUntil([&] { return screen() != first; }, 10000)) << "frames keep changing";

    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), foggyBackground); }, 5000));
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(backgroundPixel(), background); }, 5000));

    clickAt(user, g.x + g.width / 2, g.y + g.height / 2);
    std::vector<uint32_t> stopped;
    EXPECT_TRUE(waitUntil(
        [&] {
            std::vector<uint32_t> a = screen();
            usleep(300000);
            std::vector<uint32_t> b = screen();
            if (a != b) return false;
            stopped = b;
            return true;
        },
        5000))
        << "a click stops the model";

    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
}

class WindowsBuildWithoutGlx : public WindowsBuild {
    std::vector<std::string> serverArguments() const override {
        return serverWithoutGlx();
    }
};

TEST_F(WindowsBuildWithoutGlx, ReportsThatNoPixelFormatFitsAndExitsWithOne) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    Window box = pressReturnUntilShown(user, "Error");
    ASSERT_NE(box, 0u) << "the error box";
    for (Window main : windowsNamed(user, "vorandile ")) EXPECT_FALSE(isViewable(user, main));
    usleep(500000);
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 10000), 1);
}

// The same desktops as the Linux build's tests, so that the two can be
// compared: the sizes each manager gives, and frames and keys at each.
class WindowsBuildOnADesktop : public ViewerOnADesktopTest, public testing::WithParamInterface<const char*> {
protected:
    const char* managerName() const override { return GetParam(); }
    std::vector<std::string> viewerCommand() const override { return {"wine", WINDOWS_VIEWER}; }
    int patienceMs() const override { return 60000; }
    // Wine keeps the client area at the size the program set and leaves the
    // rest of a larger X window undrawn.
    bool clearsTheWholeWindow() const override { return false; }
    void SetUp() override {
        useTheWinePrefix();
        ViewerOnADesktopTest::SetUp();
        // Wine asks only once for its windows to be shown; a manager still
        // starting up may drop that request.
        usleep(1000000);
    }
    void TearDown() override {
        ViewerOnADesktopTest::TearDown();
        endTheWineSession();
    }
};

TEST_P(WindowsBuildOnADesktop, DrawsAndAnswersAtWhateverSizeTheManagerGives) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    window = pressReturnUntilShown(user, "vorandile ");
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), background); }, 10000));
    goThroughTheManagersSizes();
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
}

INSTANTIATE_TEST_SUITE_P(Desktops, WindowsBuildOnADesktop, testing::Values("openbox", "i3", "jwm"),
                         [](const testing::TestParamInfo<const char*>& kind) { return std::string(kind.param); });

}  // namespace
