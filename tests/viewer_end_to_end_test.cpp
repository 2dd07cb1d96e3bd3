// The real program, started as a user starts it, on a server of its own,
// and used only as a user can: keys and the mouse through XTEST, requests
// a window manager sends, and what the server shows.
#include "viewer_program.h"

#include "platform/x11/icon.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

class Viewer : public ViewerProgramTest {
protected:
    void stop() { ASSERT_FALSE(stopModel().empty()) << "a click without movement stops the model"; }

    // Turns fog on and off again, each waited for: keys are handled in
    // order, so every key pressed before has been handled, and drawn.
    void handledEveryKeySoFar() {
        pressKey(user, XK_f);
        ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerFoggyBackground); }, 20000)) << "f answered";
        pressKey(user, XK_f);
        ASSERT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 20000)) << "f answered";
    }

    void expectPixelFormatFailure() {
        ASSERT_NE(startAndWaitForNotice(), 0u);
        Window box = dismissNoticeAndWaitForErrorBox();
        ASSERT_NE(box, 0u);
        EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "ChoosePixelFormat failed\n");
        EXPECT_TRUE(answersPing(user, box, 20000)) << "the box reads its events";
        EXPECT_TRUE(isRunning(child)) << "the box waits for the user";
        pressKey(user, XK_Return);
        EXPECT_EQ(waitForExit(child, 20000), 1);
    }
};

TEST_F(Viewer, TheNoticeComesFirstWithItsTextAndAKeyDismissesIt) {
    Window notice = startAndWaitForNotice();
    ASSERT_NE(notice, 0u);
    EXPECT_EQ(textProperty(user, notice, "WIN32_MESSAGE_TEXT"), " mouse: touch the window image for movement  ");
    EXPECT_TRUE(answersPing(user, notice, 20000)) << "the notice reads its events";
    EXPECT_TRUE(windowsNamed(user, "vorandile ").empty()) << "the window is created only after the notice";
    pressKey(user, XK_space);
    window = waitForWindowNamed(user, "vorandile ", 10000);
    EXPECT_NE(window, 0u);
    EXPECT_TRUE(windowsNamed(user, "vorandile").empty() || !isViewable(user, notice));
}

TEST_F(Viewer, AClickOnOkDismissesTheNotice) {
    Window notice = startAndWaitForNotice();
    ASSERT_NE(notice, 0u);
    WindowGeometry g = rootGeometry(user, notice);
    clickAt(user, g.x + g.width / 2, g.y + g.height - 29);
    EXPECT_NE(waitForWindowNamed(user, "vorandile ", 10000), 0u);
}

TEST_F(Viewer, TheWindowIsSquareAtTheOriginWithEightyPercentOfTheScreenHeight) {
    ASSERT_NE(start(), 0u);
    WindowGeometry g = rootGeometry(user, window);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 819);  // 1024 * 0.8, truncated
    EXPECT_EQ(g.height, 819);
    // Desktops group windows by the class hint and match it to a launcher.
    XClassHint hint;
    ASSERT_TRUE(XGetClassHint(user, window, &hint));
    EXPECT_STREQ(hint.res_name, "vorandile");
    EXPECT_STREQ(hint.res_class, "Vorandile");
    XFree(hint.res_name);
    XFree(hint.res_class);
    // ...and show the same icon as the launcher, the smallest first.
    bool larger = false;
    std::vector<long> icon = property32(user, window, "_NET_WM_ICON", XA_CARDINAL, 2 + 16 * 16, &larger);
    ASSERT_EQ(icon.size(), 2u + 16 * 16);
    EXPECT_EQ(icon[0], 16);
    EXPECT_EQ(icon[1], 16);
    std::vector<uint32_t> expected = applicationIcon(16);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), icon.begin() + 2,
                           [](uint32_t pixel, long item) { return pixel == uint32_t(item); }));
    EXPECT_TRUE(larger) << "larger sizes follow";
}

class ViewerOnAFullHdScreen : public Viewer {
    std::vector<std::string> serverArguments() const override { return {"-screen", "0", "1920x1080x24"}; }
};

TEST_F(ViewerOnAFullHdScreen, TheWindowIs864Square) {
    ASSERT_NE(start(), 0u);
    WindowGeometry g = rootGeometry(user, window);
    EXPECT_EQ(g.width, 864);
    EXPECT_EQ(g.height, 864);
}

TEST_F(Viewer, ItSpinsAClickStopsItAndADragTurnsItAndLeavesItSpinning) {
    ASSERT_NE(start(), 0u);
    EXPECT_TRUE(keepsChanging()) << "the model spins from the first frame";
    stop();
    std::vector<uint32_t> stopped = steadyScreen();
    usleep(300000);  // nothing to wait for: what is tested is that time passes and the model stays still
    EXPECT_EQ(screen(), stopped);

    pressAndDragFromCentre();
    EXPECT_TRUE(waitUntil([&] { return screen() != stopped; }, 20000)) << "the drag turned the model";
    setButton(user, 1, false);
    EXPECT_TRUE(keepsChanging()) << "released away from the press point, it keeps spinning";
}

TEST_F(Viewer, FogChangesTheBackgroundAndBack) {
    ASSERT_NE(start(), 0u);
    EXPECT_TRUE(closeTo(pixelAt(user, window, 3, 3), viewerBackground));
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixelAt(user, window, 3, 3), viewerFoggyBackground); }, 20000));
    pressKey(user, XK_f);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixelAt(user, window, 3, 3), viewerBackground); }, 20000));
}

TEST_F(Viewer, WireframeShowsOutlinesAndBackWhileStopped) {
    ASSERT_NE(start(), 0u);
    stop();
    std::vector<uint32_t> filled = steadyScreen();
    pressKey(user, XK_p);
    ASSERT_TRUE(waitUntil([&] { return screen() != filled; }, 20000));
    std::vector<uint32_t> outlined = steadyScreen();
    size_t filledBackground = std::count(filled.begin(), filled.end(), uint32_t(128 << 16 | 64 << 8 | 89));
    size_t outlinedBackground = std::count(outlined.begin(), outlined.end(), uint32_t(128 << 16 | 64 << 8 | 89));
    EXPECT_GT(outlinedBackground, filledBackground + 819 * 819 / 20) << "the background shows through";
    pressKey(user, XK_p);
    EXPECT_TRUE(waitUntil([&] { return screen() == filled; }, 20000)) << "filled again, as before";
}

TEST_F(Viewer, KeysWithoutACommandChangeNothing) {
    ASSERT_NE(start(), 0u);
    stop();
    std::vector<uint32_t> stopped = steadyScreen();
    for (unsigned long key : {XK_j, XK_k}) {
        pressKey(user, key);
        handledEveryKeySoFar();
        EXPECT_EQ(screen(), stopped) << "keysym " << key;
    }
    pressKey(user, XK_f, true);
    pressKey(user, XK_p, true);
    handledEveryKeySoFar();
    EXPECT_EQ(screen(), stopped) << "capital F and P are not bound";
}

TEST_F(Viewer, AResizeIsSetStraightBack) {
    ASSERT_NE(start(), 0u);
    XResizeWindow(user, window, 400, 300);
    XSync(user, False);
    EXPECT_TRUE(waitUntil(
        [&] {
            WindowGeometry g = rootGeometry(user, window);
            return g.width == 819 && g.height == 819;
        },
        2000));
    EXPECT_TRUE(isRunning(child));
}

TEST_F(Viewer, EscapeEndsItWithExitCodeZeroAtOnce) {
    ASSERT_NE(start(), 0u);
    double pressed = monotonicSeconds();
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
    // Typically a few milliseconds; the bound leaves room for a busy machine.
    EXPECT_LT(monotonicSeconds() - pressed, 5.0);
}

TEST_F(Viewer, TheWindowManagersCloseEndsItWithExitCodeZeroAtOnce) {
    ASSERT_NE(start(), 0u);
    requestClose(user, window);
    EXPECT_EQ(waitForExit(child, 10000), 0);
}

class ViewerWithoutGlx : public Viewer {
    std::vector<std::string> serverArguments() const override {
        return serverWithoutGlx();
    }
};

TEST_F(ViewerWithoutGlx, ReportsThatNoPixelFormatFitsAndExitsWithOne) {
    expectPixelFormatFailure();
}

class ViewerOnAnEightBitServer : public Viewer {
    std::vector<std::string> serverArguments() const override { return {"-screen", "0", "1024x768x8"}; }
};

TEST_F(ViewerOnAnEightBitServer, ReportsThatNoPixelFormatFitsAndExitsWithOne) {
    expectPixelFormatFailure();
}

TEST(ViewerWithoutADisplay, SaysSoOnStandardErrorAndExitsWithOneAtOnce) {
    std::string errors = testing::TempDir() + "viewer-no-display.txt";
    double started = monotonicSeconds();
    pid_t child = spawnProgram(VIEWER_BINARY, ":", errors);
    EXPECT_EQ(waitForExit(child, 10000), 1);
    EXPECT_LT(monotonicSeconds() - started, 5.0);
    std::ifstream file(errors);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("cannot open the X display"), std::string::npos) << text.str();

    child = spawnProgram(VIEWER_BINARY, "", errors);
    EXPECT_EQ(waitForExit(child, 10000), 1);

    // A Wayland compositor named but not there: neither would do, and both are said.
    ChildSetup setup;
    setup.errorPath = errors;
    setup.environment = {"WAYLAND_DISPLAY=nowhere-0"};
    child = spawnCommand({VIEWER_BINARY}, ":", setup);
    EXPECT_EQ(waitForExit(child, 10000), 1);
    std::ifstream again(errors);
    std::stringstream both;
    both << again.rdbuf();
    EXPECT_NE(both.str().find("cannot open the X display \":\", nor use the Wayland compositor \"nowhere-0\""),
              std::string::npos)
        << both.str();
}

}  // namespace
