// MessageBoxA as a user meets it: a modal window with the caption as its
// title, the text, an OK button, dismissed by key, click or close.
#include "layer_test.h"

#include <X11/keysym.h>

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

using MessageBox = PrivateServerTest;

pid_t showBoxInChild(const char* text, const char* caption, UINT type) {
    pid_t child = forkChild();
    if (child == 0) _exit(MessageBoxA(nullptr, text, caption, type));
    return child;
}

Window waitForBox(Display* user, const char* caption) { return waitForWindowNamed(user, caption, 20000); }

void clickOk(Display* user, Window box) {
    WindowGeometry geometry = rootGeometry(user, box);
    clickAt(user, geometry.x + geometry.width / 2, geometry.y + geometry.height - 29);
}

TEST_F(MessageBox, ShowsCaptionAndTextAndBlocksUntilReturnIsPressed) {
    pid_t child = showBoxInChild(" mouse: touch the window image for movement  ", "vorandile", MB_OK);
    Window box = waitForBox(user, "vorandile");
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), " mouse: touch the window image for movement  ");
    EXPECT_EQ(textProperty(user, box, "_NET_WM_NAME"), "vorandile");
    // Some of the window is text in black on the light face.
    long black = 0, face = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            int width = 0, height = 0;
            std::vector<uint32_t> pixels = captureWindow(user, box, &width, &height);
            black = std::count(pixels.begin(), pixels.end(), 0x000000u);
            face = std::count(pixels.begin(), pixels.end(), 0xf0f0f0u);
            return black != 0 && face != 0;
        },
        20000))
        << black << " black pixels, " << face << " of the face";
    EXPECT_TRUE(answersPing(user, box, 20000)) << "the box reads its events";
    EXPECT_TRUE(isRunning(child)) << "the box waits for the user";
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
    XSync(user, False);
    EXPECT_TRUE(windowsNamed(user, "vorandile").empty());
}

TEST_F(MessageBox, SpaceAndEscapeDismissItToo) {
    for (unsigned long key : {XK_space, XK_Escape}) {
        pid_t child = showBoxInChild("text", "Keys", MB_OK);
        ASSERT_NE(waitForBox(user, "Keys"), 0u);
        pressKey(user, key);
        EXPECT_EQ(waitForExit(child, 20000), IDOK) << "keysym " << key;
    }
}

TEST_F(MessageBox, AClickOnOkDismissesItAndAClickElsewhereDoesNot) {
    pid_t child = showBoxInChild("text", "Click", MB_OK);
    Window box = waitForBox(user, "Click");
    ASSERT_NE(box, 0u);
    WindowGeometry geometry = rootGeometry(user, box);
    clickAt(user, geometry.x + 5, geometry.y + 5);
    EXPECT_TRUE(answersPing(user, box, 20000)) << "the box took in the click and is still there";
    EXPECT_TRUE(isRunning(child));
    clickOk(user, box);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
}

TEST_F(MessageBox, TheWindowManagersCloseDismissesIt) {
    pid_t child = showBoxInChild("text", "Close", MB_OK);
    Window box = waitForBox(user, "Close");
    ASSERT_NE(box, 0u);
    requestClose(user, box);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
}

TEST_F(MessageBox, ErrorBoxesCarryTheErrorMarkAndHonourLineFeeds) {
    auto pixelsOf = [&](Window box, uint32_t colour) {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels = captureWindow(user, box, &width, &height);
        return std::count(pixels.begin(), pixels.end(), colour);
    };
    pid_t plain = showBoxInChild("one line", "Plain", MB_OK);
    Window plainBox = waitForBox(user, "Plain");
    ASSERT_NE(plainBox, 0u);
    // Drawn (the button's white comes last, on the light face) before the other box covers it.
    ASSERT_TRUE(waitUntil([&] { return pixelsOf(plainBox, 0xf0f0f0u) > 0 && pixelsOf(plainBox, 0xffffffu) > 0; },
                          20000))
        << "the plain box is drawn";
    pid_t error = showBoxInChild("first line\nsecond line\nthird line", "Error", MB_ICONERROR);
    Window errorBox = waitForBox(user, "Error");
    ASSERT_NE(errorBox, 0u);

    long red = 0;
    EXPECT_TRUE(waitUntil([&] { return (red = pixelsOf(errorBox, 0xd01010u)) > 200; }, 20000)) << red << " red pixels";
    EXPECT_EQ(pixelsOf(plainBox, 0xd01010u), 0);
    EXPECT_GT(rootGeometry(user, errorBox).height, rootGeometry(user, plainBox).height) << "three lines, not one";
    EXPECT_EQ(textProperty(user, errorBox, "WIN32_MESSAGE_TEXT"), "first line\nsecond line\nthird line");
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(error, 20000), IDOK);
    clickOk(user, plainBox);
    EXPECT_EQ(waitForExit(plain, 20000), IDOK);
}

// Nothing waits for a box that is no longer there.
TEST_F(MessageBox, ABoxThatAnotherClientDestroysReturnsZeroAtOnceAndSaysNothing) {
    char errorPath[] = "/tmp/box-errors-XXXXXX";
    int errors = mkstemp(errorPath);
    ASSERT_GE(errors, 0);
    pid_t child = forkChild();
    if (child == 0) {
        dup2(errors, STDERR_FILENO);
        _exit(MessageBoxA(nullptr, "text", "Doomed", MB_OK));
    }
    close(errors);
    Window box = waitForBox(user, "Doomed");
    ASSERT_NE(box, 0u);
    XDestroyWindow(user, box);
    XSync(user, False);
    EXPECT_EQ(waitForExit(child, 20000), 0) << "the call fails, as when a box cannot be shown";
    std::string said;
    if (FILE* file = std::fopen(errorPath, "r")) {
        for (int c; (c = std::fgetc(file)) != EOF;) said += char(c);
        std::fclose(file);
    }
    unlink(errorPath);
    EXPECT_EQ(said, "") << "freeing what was drawn on a destroyed box is no error to report";
}

TEST_F(MessageBox, ABoxThatAnotherClientHidesIsShownAgainAndStillAnswers) {
    pid_t child = showBoxInChild("text", "Hidden", MB_OK);
    Window box = waitForBox(user, "Hidden");
    ASSERT_NE(box, 0u);
    XUnmapWindow(user, box);
    XSync(user, False);
    EXPECT_TRUE(waitUntil([&] { return isViewable(user, box); }, 20000));
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
}

// The box's text is legible on any screen: sized from the resolution, the
// desktop's Xft.dpi where set, else the screen's physical size.
// The smallest rectangle holding every point added to it.
struct Bounds {
    int left = 1 << 20, right = -1, top = 1 << 20, bottom = -1;
    void add(int x, int y) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    int height() const { return bottom - top + 1; }
    int width() const { return right - left + 1; }
};

struct BoxPicture {
    int width = 0, height = 0;
    Bounds button, ink;  // the button's white face; the text above it
    bool face = false;   // some of the box's light face shows
};

// Every bound comes from the captured picture itself: a box caught before
// its button is drawn has no button yet, and so no text above it either.
BoxPicture pictureOf(Display* user, Window box) {
    BoxPicture picture;
    std::vector<uint32_t> pixels = captureWindow(user, box, &picture.width, &picture.height);
    if (pixels.size() != size_t(picture.width) * size_t(picture.height)) return BoxPicture{};
    auto at = [&](int x, int y) { return pixels[size_t(y) * size_t(picture.width) + size_t(x)]; };
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (at(x, y) == 0xffffffu) picture.button.add(x, y);
            else if (at(x, y) == 0xf0f0f0u) picture.face = true;
    if (picture.button.right < 0) return picture;
    for (int y = 0; y < std::min(picture.button.top - 1, picture.height); ++y)
        for (int x = 0; x < picture.width; ++x) {
            uint32_t p = at(x, y);
            if ((p >> 16 & 255) < 0x90 && (p >> 8 & 255) < 0x90 && (p & 255) < 0x90) picture.ink.add(x, y);
        }
    return picture;
}

// Waits until the box is drawn: the light face first, then the text, then
// the button's white face.
bool drawnPicture(Display* user, Window box, BoxPicture* picture) {
    return waitUntil(
        [&] {
            *picture = pictureOf(user, box);
            return picture->face && picture->button.right >= 0;
        },
        20000);
}

void expectLegibleAt(Display* user, double dpi) {
    pid_t child = showBoxInChild(" mouse: touch the window image for movement  ", "Sized", MB_OK);
    Window box = waitForBox(user, "Sized");
    ASSERT_NE(box, 0u);
    BoxPicture picture;
    ASSERT_TRUE(drawnPicture(user, box, &picture));
    const Bounds &ink = picture.ink, &button = picture.button;
    double fontPixels = 9 * dpi / 72;  // the platform's 9-point box font
    std::printf("%.0f dpi: box %dx%d, text %d px high, %d px wide, button %dx%d\n", dpi, picture.width,
                picture.height, ink.height(), ink.width(), button.width(), button.height());
    EXPECT_GT(ink.height(), 0.7 * fontPixels);
    EXPECT_LT(ink.height(), 1.4 * fontPixels);
    EXPECT_GT(button.height(), 2 * fontPixels * 0.9) << "the button grows too";
    // Everything inside the box, the text clear of the edges and the button.
    EXPECT_GT(ink.left, 0);
    EXPECT_LT(ink.right, picture.width - 1);
    EXPECT_GT(ink.top, 0);
    EXPECT_LT(ink.bottom, button.top - 1);
    EXPECT_GT(button.left, 0);
    EXPECT_LT(button.right, picture.width - 1);
    EXPECT_LT(button.bottom, picture.height - 1);
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
}

class MessageBoxAtAResolution : public PrivateServerTest, public testing::WithParamInterface<int> {
    std::vector<std::string> serverArguments() const override {
        return {"-screen", "0", GetParam() > 96 ? "3840x2160x24" : "1280x1024x24", "-dpi", std::to_string(GetParam())};
    }
};

TEST_P(MessageBoxAtAResolution, TheTextScalesAndTheBoxFitsItAndItsButton) { expectLegibleAt(user, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Screens, MessageBoxAtAResolution, testing::Values(96, 192),
                         [](const testing::TestParamInfo<int>& dpi) { return std::to_string(dpi.param) + "dpi"; });

class MessageBoxOnADesktopThatSetsXftDpi : public PrivateServerTest {
    std::vector<std::string> serverArguments() const override {
        return {"-screen", "0", "1280x1024x24", "-dpi", "96"};
    }
};

TEST_F(MessageBoxOnADesktopThatSetsXftDpi, TheSettingWinsOverTheScreensSize) {
    const char resources[] = "Xft.dpi:\t192\n";
    XChangeProperty(user, DefaultRootWindow(user), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), int(sizeof resources - 1));
    XSync(user, False);
    expectLegibleAt(user, 192);
}

// Where fontconfig knows no scalable font, the core bitmap font serves.
TEST_F(MessageBox, WithoutAScalableFontTheBitmapFontServes) {
    std::string config = testing::TempDir() + "no-fonts.conf";
    FILE* file = std::fopen(config.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n", file);
    std::fclose(file);
    setenv("FONTCONFIG_FILE", config.c_str(), 1);
    pid_t child = showBoxInChild(" mouse: touch the window image for movement  ", "Plain", MB_OK);
    unsetenv("FONTCONFIG_FILE");
    Window box = waitForBox(user, "Plain");
    ASSERT_NE(box, 0u);
    BoxPicture picture;
    ASSERT_TRUE(drawnPicture(user, box, &picture));
    EXPECT_GT(picture.ink.right - picture.ink.left, 200) << "the text is drawn";
    EXPECT_LT(picture.ink.right, picture.width - 1);
    EXPECT_LT(picture.ink.bottom, picture.button.top - 1);
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
}


// Screens and desktop settings a box must fit whatever they claim: it stays
// on the screen, its text and button inside it and the text drawn.
struct OddScreen {
    const char* name;
    const char* screen;     // Xvfb's -screen size
    const char* dpi;        // Xvfb's -dpi: the physical size it reports
    const char* resources;  // the desktop's resource settings, if any
    const char* text;
};

const std::string longLine = [] {
    std::string words;
    for (int i = 0; i < 120; ++i) words += "movement ";
    return words;
}();

const OddScreen oddScreens[] = {
    {"XftScale1000", "1280x1024x24", "96", "Xft.scale:\t1000\n", " mouse: touch the window image for movement  "},
    {"XftDpi960", "1280x1024x24", "96", "Xft.dpi:\t960\n", " mouse: touch the window image for movement  "},
    {"TinyPhysicalSize", "1280x1024x24", "2000", nullptr, " mouse: touch the window image for movement  "},
    {"SmallScreenHighDpi", "640x480x24", "480", nullptr, " mouse: touch the window image for movement  "},
    {"OneLongLine", "640x480x24", "96", nullptr, longLine.c_str()},
};

class MessageBoxOnAnOddScreen : public PrivateServerTest, public testing::WithParamInterface<OddScreen> {
    std::vector<std::string> serverArguments() const override {
        return {"-screen", "0", GetParam().screen, "-dpi", GetParam().dpi};
    }
};

TEST_P(MessageBoxOnAnOddScreen, FitsTheScreenWithItsTextAndButtonInside) {
    const OddScreen& odd = GetParam();
    if (odd.resources) {
        XChangeProperty(user, DefaultRootWindow(user), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(odd.resources), int(std::strlen(odd.resources)));
        XSync(user, False);
    }
    pid_t child = showBoxInChild(odd.text, "Odd", MB_OK);
    Window box = waitForBox(user, "Odd");
    ASSERT_NE(box, 0u);
    BoxPicture picture;
    ASSERT_TRUE(drawnPicture(user, box, &picture));
    WindowGeometry g = rootGeometry(user, box);
    int screenWidth = DisplayWidth(user, DefaultScreen(user)), screenHeight = DisplayHeight(user, DefaultScreen(user));
    std::printf("%s: box %dx%d at (%d, %d) on %dx%d, text %dx%d\n", odd.name, g.width, g.height, g.x, g.y,
                screenWidth, screenHeight, picture.ink.width(), picture.ink.height());
    EXPECT_GE(g.x, 0);
    EXPECT_GE(g.y, 0);
    EXPECT_LE(g.x + g.width, screenWidth);
    EXPECT_LE(g.y + g.height, screenHeight);
    EXPECT_GT(picture.ink.width(), 50) << "the text is drawn";
    EXPECT_GT(picture.ink.left, 0);
    EXPECT_LT(picture.ink.right, picture.width - 1);
    EXPECT_GT(picture.ink.top, 0);
    EXPECT_LT(picture.ink.bottom, picture.button.top - 1);
    EXPECT_LT(picture.button.bottom, picture.height - 1);
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), IDOK);
}

INSTANTIATE_TEST_SUITE_P(Screens, MessageBoxOnAnOddScreen, testing::ValuesIn(oddScreens),
                         [](const testing::TestParamInfo<OddScreen>& odd) { return std::string(odd.param.name); });

// A screen that changes size while a box is up (a monitor unplugged, the
// resolution changed): the box is centred on the new screen and fits it.
TEST_F(MessageBox, StaysCentredAndWholeWhenTheScreenShrinks) {
    VirtualServer nested = startNestedServer(server.display, {"-screen", "1280x1024", "-resizeable"});
    ASSERT_FALSE(nested.display.empty()) << "Xephyr did not start";
    Display* onNested = openUserConnection(nested.display);
    ASSERT_NE(onNested, nullptr);
    std::string ownDisplay = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", nested.display.c_str(), 1);
    pid_t child = showBoxInChild(" mouse: touch the window image for movement  ", "Shrinking", MB_OK);
    setenv("DISPLAY", ownDisplay.c_str(), 1);
    Window box = waitForWindowNamed(onNested, "Shrinking", 10000);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(waitForExit(spawnCommand({"xrandr", "-s", "720x400"}, nested.display), 10000), 0);
    WindowGeometry g{};
    EXPECT_TRUE(waitUntil(
        [&] {
            g = rootGeometry(onNested, box);
            return g.x >= 0 && g.y >= 0 && g.x + g.width <= 720 && g.y + g.height <= 400 &&
                   std::abs(2 * g.x + g.width - 720) <= 1 && std::abs(2 * g.y + g.height - 400) <= 1;
        },
        10000))
        << "box " << g.width << "x" << g.height << " at (" << g.x << ", " << g.y << ") on 720x400";
    pressKey(onNested, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), IDOK) << "it still answers";
    XCloseDisplay(onNested);
    stopVirtualServer(nested);
}

}  // namespace
