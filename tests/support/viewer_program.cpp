#include "viewer_program.h"

#include <X11/keysym.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

std::string ViewerProgramTest::errorPath() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name)
        if (c == '/') c = '-';
    return testing::TempDir() + "viewer-" + name + "-" + std::to_string(getpid()) + ".txt";
}

std::vector<std::string> ViewerProgramTest::viewerCommand() const { return {VIEWER_BINARY}; }

Window ViewerProgramTest::startAndWaitForNotice(const std::string& display) {
    child = spawnCommand(viewerCommand(), display.empty() ? server.display : display, errorPath());
    Window notice = waitForWindowNamed(user, "vorandile", patienceMs());
    // Named before it is shown: a user's key reaches it once it has the focus.
    if (notice && (display.empty() || display == server.display)) waitForFocus(notice);
    return notice;
}

bool ViewerProgramTest::waitForFocus(Window target) {
    return waitUntil(
        [&] {
            Window focus = 0;
            int revert;
            XGetInputFocus(user, &focus, &revert);
            return focus == target;
        },
        patienceMs());
}

Window ViewerProgramTest::start(const std::string& display) {
    if (!startAndWaitForNotice(display)) return 0;
    pressKey(user, XK_Return);
    window = waitForWindowNamed(user, "vorandile ", patienceMs());
    // Within what a 16-bit screen's five bits a channel can show of it.
    if (window) waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground, 5); }, patienceMs());
    // A manager under load may give the new window the focus a while after
    // it is drawn; a key pressed before would reach whatever had it.
    if (window) waitForFocus(window);
    return window;
}

Window ViewerProgramTest::dismissNoticeAndWaitForErrorBox() {
    if (!waitForWindowNamed(user, "vorandile", patienceMs())) return 0;
    pressKey(user, XK_Return);
    Window box = waitForWindowNamed(user, "Error", patienceMs());
    for (Window main : windowsNamed(user, "vorandile ")) EXPECT_FALSE(isViewable(user, main)) << "never shown";
    return box;
}

WindowGeometry ViewerProgramTest::settledGeometry() {
    WindowGeometry last = geometry();
    for (int i = 0; i < 20; ++i) {
        usleep(250000);
        WindowGeometry now = geometry();
        if (now.width == last.width && now.height == last.height && now.x == last.x && now.y == last.y)
            return now;
        last = now;
    }
    return last;
}

void ViewerProgramTest::expectSettledSizeThenEscape(const WindowGeometry& expected) {
    WindowGeometry now = settledGeometry();
    EXPECT_EQ(now.width, expected.width);
    EXPECT_EQ(now.height, expected.height);
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

std::vector<uint32_t> ViewerProgramTest::steadyScreen() {
    std::vector<uint32_t> last = screen();
    for (int i = 0; i < 40; ++i) {
        usleep(250000);
        std::vector<uint32_t> now = screen();
        if (now == last) return now;
        last = now;
    }
    return {};
}

bool ViewerProgramTest::keepsChanging() {
    std::vector<uint32_t> first = screen();
    return waitUntil([&] { return screen() != first; }, 20000);
}

Rgb ViewerProgramTest::pixel(int x, int y) { return pixelAt(user, window, x, y); }

WindowGeometry ViewerProgramTest::geometry() { return rootGeometry(user, window); }

void ViewerProgramTest::clickCentre() {
    WindowGeometry g = geometry();
    clickAt(user, g.x + g.width / 2, g.y + g.height / 2);
}

std::vector<uint32_t> ViewerProgramTest::stopModel() {
    clickCentre();
    return steadyScreen();
}

void ViewerProgramTest::pressAndDragFromCentre() {
    WindowGeometry g = geometry();
    int x = g.x + g.width / 2, y = g.y + g.height / 2;
    movePointer(user, x, y);
    setButton(user, 1, true);
    for (int step = 1; step <= 20; ++step) {
        movePointer(user, x + 8 * step, y + 3 * step);
        usleep(10000);  // a drag takes time, as a hand's does: motions apart, not all at once
    }
}

void ViewerProgramTest::coverAndUncover(int inset, int side) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(user, DefaultScreen(user));
    WindowGeometry g = geometry();
    Window cover = XCreateWindow(user, DefaultRootWindow(user), g.x + inset, g.y + inset, unsigned(side),
                                 unsigned(side), 0, CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(user, cover);
    XSync(user, False);
    // On the screen, under a compositing manager too, before it goes again.
    int centreX = g.x + inset + side / 2, centreY = g.y + inset + side / 2;
    EXPECT_TRUE(waitUntil(
        [&] { return closeTo(pixelAt(user, DefaultRootWindow(user), centreX, centreY), Rgb{255, 255, 255}); }, 20000))
        << "the cover shows";
    XDestroyWindow(user, cover);
    XSync(user, False);
}

std::string ViewerProgramTest::errorText() {
    std::ifstream file(errorPath());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

