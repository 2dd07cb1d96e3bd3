// MessageBoxA as a user meets it: a modal window with the caption as its
// title, the text, an OK button, dismissed by key, click or close.
#include "layer_test.h"

#include <X11/keysym.h>

#include <algorithm>
#include <unistd.h>

namespace {

using MessageBox = PrivateServerTest;

pid_t showBoxInChild(const char* text, const char* caption, UINT type) {
    pid_t child = fork();
    if (child == 0) _exit(MessageBoxA(nullptr, text, caption, type));
    return child;
}

Window waitForBox(Display* user, const char* caption) { return waitForWindowNamed(user, caption, 5000); }

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
    usleep(200000);
    EXPECT_TRUE(isRunning(child)) << "the box waits for the user";
    // Some of the window is text in black on the light face.
    int width = 0, height = 0;
    std::vector<uint32_t> pixels = captureWindow(user, box, &width, &height);
    EXPECT_NE(std::count(pixels.begin(), pixels.end(), 0x000000u), 0);
    EXPECT_NE(std::count(pixels.begin(), pixels.end(), 0xf0f0f0u), 0);
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 5000), IDOK);
    XSync(user, False);
    EXPECT_TRUE(windowsNamed(user, "vorandile").empty());
}

TEST_F(MessageBox, SpaceAndEscapeDismissItToo) {
    for (unsigned long key : {XK_space, XK_Escape}) {
        pid_t child = showBoxInChild("text", "Keys", MB_OK);
        ASSERT_NE(waitForBox(user, "Keys"), 0u);
        pressKey(user, key);
        EXPECT_EQ(waitForExit(child, 5000), IDOK) << "keysym " << key;
    }
}

TEST_F(MessageBox, AClickOnOkDismissesItAndAClickElsewhereDoesNot) {
    pid_t child = showBoxInChild("text", "Click", MB_OK);
    Window box = waitForBox(user, "Click");
    ASSERT_NE(box, 0u);
    WindowGeometry geometry = rootGeometry(user, box);
    clickAt(user, geometry.x + 5, geometry.y + 5);
    usleep(200000);
    EXPECT_TRUE(isRunning(child));
    clickOk(user, box);
    EXPECT_EQ(waitForExit(child, 5000), IDOK);
}

TEST_F(MessageBox, TheWindowManagersCloseDismissesIt) {
    pid_t child = showBoxInChild("text", "Close", MB_OK);
    Window box = waitForBox(user, "Close");
    ASSERT_NE(box, 0u);
    requestClose(user, box);
    EXPECT_EQ(waitForExit(child, 5000), IDOK);
}

TEST_F(MessageBox, ErrorBoxesCarryTheErrorMarkAndHonourLineFeeds) {
    pid_t plain = showBoxInChild("one line", "Plain", MB_OK);
    Window plainBox = waitForBox(user, "Plain");
    ASSERT_NE(plainBox, 0u);
    pid_t error = showBoxInChild("first line\nsecond line\nthird line", "Error", MB_ICONERROR);
    Window errorBox = waitForBox(user, "Error");
    ASSERT_NE(errorBox, 0u);
    usleep(200000);

    auto redPixels = [&](Window box) {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels = captureWindow(user, box, &width, &height);
        return std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) { return p == 0xd01010u; });
    };
    EXPECT_GT(redPixels(errorBox), 200);
    EXPECT_EQ(redPixels(plainBox), 0);
    EXPECT_GT(rootGeometry(user, errorBox).height, rootGeometry(user, plainBox).height) << "three lines, not one";
    EXPECT_EQ(textProperty(user, errorBox, "WIN32_MESSAGE_TEXT"), "first line\nsecond line\nthird line");
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(error, 5000), IDOK);
    clickOk(user, plainBox);
    EXPECT_EQ(waitForExit(plain, 5000), IDOK);
}

// Nothing waits for a box that is no longer there.
TEST_F(MessageBox, ABoxThatAnotherClientDestroysReturnsZeroAtOnce) {
    pid_t child = showBoxInChild("text", "Doomed", MB_OK);
    Window box = waitForBox(user, "Doomed");
    ASSERT_NE(box, 0u);
    XDestroyWindow(user, box);
    XSync(user, False);
    EXPECT_EQ(waitForExit(child, 2000), 0) << "the call fails, as when a box cannot be shown";
}

TEST_F(MessageBox, ABoxThatAnotherClientHidesIsShownAgainAndStillAnswers) {
    pid_t child = showBoxInChild("text", "Hidden", MB_OK);
    Window box = waitForBox(user, "Hidden");
    ASSERT_NE(box, 0u);
    XUnmapWindow(user, box);
    XSync(user, False);
    EXPECT_TRUE(waitUntil([&] { return isViewable(user, box); }, 2000));
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 5000), IDOK);
}

}  // namespace
