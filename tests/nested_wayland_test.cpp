// The viewer as a native client of the compositors of the mainstream Wayland
// desktops, each nested in an X server with real input through XTEST: the
// notice, the picture, the mouse, the compositor's own minimize and restore,
// the close button and Esc; a finger on KDE's touch screen; and KDE's
// fractional scales.
#include <gtest/gtest.h>  // before Xlib, which the support brings in

#include "platform/pixels/box_painting.h"
#include "support/nested_wayland.h"
#include "support/viewer_program.h"
#include "support/wayland_proxy.h"

#include "fractional-scale-v1-client-protocol.h"

#include <X11/keysym.h>
#include <sys/mman.h>

#include <atomic>
#include <cmath>
#include <functional>

namespace {

// The box's face and its own title bar, as the layer paints them.
const Rgb boxFace{0xf0, 0xf0, 0xf0}, boxTitle{0x1f, 0x4e, 0x8c};

struct NestedRow {
    NestedCompositor compositor;
    // Minimizing: the compositor's keys, or where none, the minimize button
    // of the window's title bar, this far from the client area's top right.
    std::vector<unsigned long> minimizeKeys;
    int minimizeButtonLeft, minimizeButtonUp;
    std::vector<unsigned long> restoreKeys;
    // The compositor's keys to maximize a window and back; none where it has none.
    std::vector<unsigned long> maximizeKeys, unmaximizeKeys;
    // The close button, this far left of and above the client area's top right.
    int closeButtonLeft, closeButtonUp;
};

std::string rowName(const testing::TestParamInfo<NestedRow>& row) { return nestedName(row.param.compositor); }

const NestedRow rows[] = {
    {NestedCompositor::mutter, {XK_Super_L, XK_h}, 0, 0, {XK_Alt_L, XK_Tab}, {XK_Super_L, XK_Up},
     {XK_Super_L, XK_Down}, 16, 12},
    {NestedCompositor::kwin, {XK_Super_L, XK_Next}, 0, 0, {XK_Alt_L, XK_Tab}, {XK_Super_L, XK_Prior},
     {XK_Super_L, XK_Prior}, 19, 20},
    // weston binds no key to minimize (libdecor's button does it) nor to maximize.
    {NestedCompositor::westonGl, {}, 80, 12, {XK_Super_L, XK_Tab}, {}, {}, 16, 12},
};

class NestedDesktopTest : public testing::Test {
protected:
    void start(NestedCompositor compositor, double scale = 1) {
        std::string missing = missingNestedTools(compositor);
        if (!missing.empty()) GTEST_SKIP() << "not installed: " << missing << " (scripts/setup.sh installs them)";
        std::string why;
        desktop = startNested(compositor, testing::TempDir(), &why, scale);
        ASSERT_FALSE(desktop.wayland.empty()) << why;
    }
    void TearDown() override {
        if (program > 0) waitForExit(program, 0);
        stopNested(desktop);
    }
    std::string errorPath() const { return desktop.directory + "/viewer-errors.txt"; }
    std::string errors() const { return fileText(errorPath()); }

    void startViewer() { program = spawnNestedClient(desktop, {VIEWER_BINARY}, errorPath()); }
    bool screenBecomes(const std::function<bool(const Picture&)>& test) {
        return waitUntil([&] { return test(screenPicture(desktop)); }, 20000);
    }
    // Waits for the notice and gives where its face and title bar are.
    void waitForNotice(Region* face, Region* title) {
        ASSERT_TRUE(screenBecomes([&](const Picture& screen) {
            *face = regionOf(screen, boxFace, 0);
            *title = regionOf(screen, boxTitle, 0);
            return face->count > 5000;
        })) << "no notice on the screen; the viewer's errors: " << errors();
    }
    // Waits for the window's picture to show whole and still where it is:
    // compositors animate a window that comes or goes back
    // (mutter's animation can show the same step twice): whole means
    // unchanged for half a second.
    bool windowSettles() {
        Region before;
        double unchangedSince = monotonicSeconds();
        return screenBecomes([&](const Picture& screen) {
            Region now = regionOf(screen, viewerBackground);
            bool same = now.left == before.left && now.top == before.top && now.width() == before.width() &&
                        now.height() == before.height();
            if (!same) unchangedSince = monotonicSeconds();
            before = now;
            window = now;
            bool settled =
                same && now.width() >= 700 && now.height() >= 700 && monotonicSeconds() - unchangedSince >= 0.5;
            if (settled) settledScreen = screen;
            return settled;
        });
    }
    // Dismisses the notice with Return and waits for the window.
    void waitForWindow() {
        Region face, title;
        waitForNotice(&face, &title);
        if (HasFatalFailure()) return;
        pressChord(desktop, {XK_Return});
        ASSERT_TRUE(windowSettles()) << "no window after Return; the viewer's errors: " << errors();
    }
    Picture windowPicture() { return cropTo(screenPicture(desktop), window); }
    bool keepsChanging() {
        Picture before = windowPicture();
        return waitUntil([&] { return windowPicture().pixels != before.pixels; }, 20000);
    }
    bool settles() {
        Picture before = windowPicture();
        return waitUntil(
            [&] {
                Picture now = windowPicture();
                return std::exchange(before, now).pixels == now.pixels;
            },
            20000);
    }
    // Puts the pointer at (x, y) on the screen. weston's nested seat follows
    // the X pointer's moves rather than its position: from the top left
    // corner, where it stops, a move to (x, y) brings it there too.
    void pointAt(int x, int y) {
        movePointer(desktop.user, 0, 0);
        movePointer(desktop.user, x, y);
    }
    void clickAt(int x, int y) {
        pointAt(x, y);
        setButton(desktop.user, 1, true);
        setButton(desktop.user, 1, false);
    }
    // A drag from the window's middle, down and to the right, released away from its start.
    void dragAcross() {
        pointAt(centreX(), centreY());
        setButton(desktop.user, 1, true);
        for (int step = 1; step <= 8; ++step) movePointer(desktop.user, centreX() + step * 12, centreY() + step * 6);
        setButton(desktop.user, 1, false);
    }
    int centreX() const { return window.left + window.width() / 2; }
    int centreY() const { return window.top + window.height() / 2; }

    NestedDesktop desktop;
    pid_t program = -1;
    Region window;  // where the window's client area shows
    Picture settledScreen;  // the screen windowSettles last found it on
};

class NestedViewer : public NestedDesktopTest, public testing::WithParamInterface<NestedRow> {
protected:
    void SetUp() override { start(GetParam().compositor); }
};

TEST_P(NestedViewer, NoticePictureMouseMinimizeRestoreAndTheCloseButton) {
    const NestedRow& row = GetParam();
    startViewer();
    Region face, title;
    waitForNotice(&face, &title);
    ASSERT_FALSE(HasFatalFailure());
    // The box's own title bar, with its caption and only a close button,
    // right above its face, and the whole box on the screen.
    EXPECT_GT(title.count, 1000) << "the box's title bar";
    EXPECT_EQ(title.bottom, face.top) << "the title bar sits right above the box's face";
    EXPECT_EQ(title.left, face.left);
    EXPECT_EQ(title.right, face.right);
    EXPECT_TRUE(title.top >= 0 && title.left >= 0 && face.right <= desktop.pixelsWide() &&
                face.bottom <= desktop.pixelsHigh());

    pressChord(desktop, {XK_Return});
    ASSERT_TRUE(windowSettles()) << "no window after Return; the viewer's errors: " << errors();
    // 80 percent of the screen's height, square, as the program asks; the
    // background in the corners, the model in the middle.
    EXPECT_EQ(window.width(), 819);
    EXPECT_EQ(window.height(), 819);
    // From the picture it was found in: mutter can still move a slow
    // viewer's new window to the place it chose for it.
    Picture shown = cropTo(settledScreen, window);
    for (auto [x, y] : {std::pair{2, 2}, {shown.width - 3, 2}, {2, shown.height - 3}, {shown.width - 3, shown.height - 3}})
        EXPECT_TRUE(closeTo(pixelOf(shown, x, y), viewerBackground)) << "corner " << x << "," << y;
    EXPECT_TRUE(keepsChanging()) << "the model spins from the first frame";

    clickAt(centreX(), centreY());
    EXPECT_TRUE(settles()) << "a click stops the model";
    // mutter can still move a new window to where it places it, long after
    // it showed it elsewhere when the viewer is slow: the whole window's
    // background is looked for, wherever it is, and found there from now on.
    pressChord(desktop, {XK_f});
    EXPECT_TRUE(screenBecomes([&](const Picture& screen) {
        return regionOf(screen, viewerFoggyBackground).count > window.width() * window.height() / 2;
    })) << "f turns the fog on";
    pressChord(desktop, {XK_f});
    ASSERT_TRUE(screenBecomes([&](const Picture& screen) {
        Region now = regionOf(screen, viewerBackground);
        if (now.count <= window.width() * window.height() / 2) return false;
        window = now;
        return true;
    }));

    Picture still = windowPicture();
    dragAcross();
    EXPECT_TRUE(waitUntil([&] { return windowPicture().pixels != still.pixels; }, 20000)) << "the drag turns it";
    EXPECT_TRUE(keepsChanging()) << "released away from its start, the model keeps spinning";

    if (row.minimizeKeys.empty())
        clickAt(window.right - row.minimizeButtonLeft, window.top - row.minimizeButtonUp);
    else
        pressChord(desktop, row.minimizeKeys);
    EXPECT_TRUE(screenBecomes([&](const Picture& screen) { return regionOf(screen, viewerBackground).count == 0; }))
        << "minimized, the window leaves the screen";
    pressChord(desktop, row.restoreKeys);
    int width = window.width(), height = window.height();
    EXPECT_TRUE(windowSettles()) << "restored, it comes back";
    EXPECT_EQ(window.width(), width);
    EXPECT_EQ(window.height(), height);
    EXPECT_TRUE(keepsChanging()) << "and goes on drawing";

    // The window keeps the size the program gives it: maximizing changes
    // nothing, and it goes on drawing and answering.
    if (!row.maximizeKeys.empty()) {
        Region before = window;
        pressChord(desktop, row.maximizeKeys);
        pressChord(desktop, row.unmaximizeKeys);
        EXPECT_TRUE(windowSettles()) << "after the maximize keys the window is still there";
        EXPECT_EQ(window.width(), before.width());
        EXPECT_EQ(window.height(), before.height());
        EXPECT_TRUE(keepsChanging()) << "and goes on drawing";
    }

    clickAt(window.right - row.closeButtonLeft, window.top - row.closeButtonUp);
    EXPECT_EQ(waitForExit(program, 20000), 0) << "the close button ends the viewer; " << errors();
    program = -1;
}

TEST_P(NestedViewer, EscEndsTheViewerWithZero) {
    startViewer();
    waitForWindow();
    ASSERT_FALSE(HasFatalFailure());
    pressChord(desktop, {XK_Escape});
    EXPECT_EQ(waitForExit(program, 20000), 0) << errors();
    program = -1;
}

INSTANTIATE_TEST_SUITE_P(Desktops, NestedViewer, testing::ValuesIn(rows), rowName);

class TouchViewer : public NestedViewer {
protected:
    // Touches the screen through KDE's fake input; returns once it is in.
    void touch(const std::vector<std::string>& commands) {
#ifdef WAYLAND_TOUCH_BINARY
        std::vector<std::string> command = {WAYLAND_TOUCH_BINARY};
#else
        std::vector<std::string> command;
#endif
        command.insert(command.end(), commands.begin(), commands.end());
        pid_t finger = spawnNestedClient(desktop, command, desktop.directory + "/touch-errors.txt");
        ASSERT_EQ(waitForExit(finger, 20000), 0) << fileText(desktop.directory + "/touch-errors.txt");
    }
    static std::string number(int value) { return std::to_string(value); }
};

// As the platform promotes the primary touch point for a program that knows
// only the mouse: a tap is a click, a finger dragged is a drag, and a second
// finger changes nothing.
TEST_P(TouchViewer, ATapStopsTheModelAndAFlickSpinsItAndATapOnOKDismissesTheNotice) {
    startViewer();
    Region face, title;
    waitForNotice(&face, &title);
    ASSERT_FALSE(HasFatalFailure());
    Region ok = regionOf(cropTo(screenPicture(desktop), face), Rgb{0xff, 0xff, 0xff}, 0);
    ASSERT_GT(ok.count, 0) << "the OK button";
    int okX = face.left + ok.left + ok.width() / 2, okY = face.top + ok.top + ok.height() / 2;
    touch({"down", number(okX), number(okY), "up"});
    ASSERT_TRUE(windowSettles()) << "a tap on OK dismisses the notice; the viewer's errors: " << errors();

    touch({"down", number(centreX()), number(centreY()), "up"});
    EXPECT_TRUE(settles()) << "a tap stops the model";
    Picture still = windowPicture();
    std::vector<std::string> flick = {"down", number(centreX()), number(centreY())};
    for (int step = 1; step <= 8; ++step)
        flick.insert(flick.end(), {"move", number(centreX() + step * 12), number(centreY() + step * 6)});
    flick.push_back("up");
    touch(flick);
    EXPECT_TRUE(waitUntil([&] { return windowPicture().pixels != still.pixels; }, 20000)) << "the flick turns it";
    EXPECT_TRUE(keepsChanging()) << "lifted away from where it landed, the model keeps spinning";

    // A second finger that lands and lifts elsewhere while the first stays
    // put is not the mouse: the first finger's tap stops the model.
    touch({"down", number(centreX()), number(centreY()), "down2", number(window.left + 20), number(window.top + 20),
           "up2", "up"});
    EXPECT_TRUE(settles()) << "the first finger's tap stops it; the second is ignored";
    pressChord(desktop, {XK_Escape});
    EXPECT_EQ(waitForExit(program, 20000), 0) << errors();
    program = -1;
}

#ifdef WAYLAND_TOUCH_BINARY
INSTANTIATE_TEST_SUITE_P(KDE, TouchViewer, testing::Values(rows[1]), rowName);
#else
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(TouchViewer);
#endif

// KDE's compositor at the scales laptops run it at, its output 1280x1024
// units of `scale` pixels each.
class KwinAtScale : public NestedDesktopTest, public testing::WithParamInterface<double> {
protected:
    void SetUp() override { start(NestedCompositor::kwin, GetParam()); }
};

std::string scaleName(const testing::TestParamInfo<double>& row) { return std::to_string(int(row.param * 100)); }

// A program aware of the resolution works in the output's own pixels: the
// notice shows pixel for pixel what the layer paints at 96 dpi times the
// scale, and the window, 80 percent of the screen's height in those pixels,
// shows its frames unresampled, square, edge to edge.
TEST_P(KwinAtScale, TheNoticeAndTheWindowShowAtTheOutputsOwnPixels) {
    double scale = GetParam();
    startViewer();
    Region face, title;
    waitForNotice(&face, &title);
    ASSERT_FALSE(HasFatalFailure());
    std::unique_ptr<BoxFont> font;
    BoxLayout layout = fitLayout(" mouse: touch the window image for movement  ", false,
                                 ScreenSize{desktop.pixelsWide(), desktop.pixelsHigh()}, 96 * scale,
                                 openPixelBoxFont, &font);
    std::vector<uint32_t> painted(size_t(layout.width) * size_t(layout.height));
    Canvas canvas{painted.data(), layout.width, layout.height, layout.width};
    paintMessageBox(canvas, layout, font.get(), false);
    Picture screen = screenPicture(desktop);
    long differing = 0;
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x) {
            Rgb shown = pixelOf(screen, face.left + x, face.top + y);
            uint32_t rgb = painted[size_t(y * layout.width + x)];
            differing += !closeTo(shown, Rgb{int(rgb >> 16 & 0xff), int(rgb >> 8 & 0xff), int(rgb & 0xff)}, 0);
        }
    EXPECT_EQ(differing, 0) << "of the notice's " << layout.width << "x" << layout.height
                            << " pixels; it shows " << face.width() << "x" << face.height();
    EXPECT_LE(face.width() - layout.width, 3) << "no more than a unit's spare pixels";

    pressChord(desktop, {XK_Return});
    ASSERT_TRUE(windowSettles()) << "no window after Return; the viewer's errors: " << errors();
    EXPECT_EQ(window.width(), window.height());
    EXPECT_NEAR(window.width(), 0.8 * desktop.pixelsHigh(), scale * 2);
    Picture shown = windowPicture();
    long edgeOff = 0;
    for (int x = 0; x < shown.width; ++x)
        edgeOff += !closeTo(pixelOf(shown, x, 0), viewerBackground, 0) +
                   !closeTo(pixelOf(shown, x, shown.height - 1), viewerBackground, 0);
    for (int y = 0; y < shown.height; ++y)
        edgeOff += !closeTo(pixelOf(shown, 0, y), viewerBackground, 0) +
                   !closeTo(pixelOf(shown, shown.width - 1, y), viewerBackground, 0);
    EXPECT_EQ(edgeOff, 0) << "pixels of the window's edge blended with what lies beside it";

    clickAt(centreX(), centreY());
    EXPECT_TRUE(settles()) << "a click stops the model";
    Picture still = windowPicture();
    dragAcross();
    EXPECT_TRUE(waitUntil([&] { return windowPicture().pixels != still.pixels; }, 20000)) << "the drag turns it";
    pressChord(desktop, {XK_Escape});
    EXPECT_EQ(waitForExit(program, 20000), 0) << errors();
    program = -1;
}

INSTANTIATE_TEST_SUITE_P(KDE, KwinAtScale, testing::Values(1.25, 1.5, 2.0), scaleName);

// What the test has the proxy say, across the proxy's process.
struct ScaleOrders {
    std::atomic<uint32_t> preferred{0};  // the main window's wp_fractional_scale_v1
    std::atomic<uint32_t> next{0};       // a scale for it to be told, in 120ths; 0: none
};
ScaleOrders& orders = *new (mmap(nullptr, sizeof(ScaleOrders), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                                 -1, 0)) ScaleOrders;

// The window moved to an output of another scale, as kwin tells it through
// a proxy of the test's: it keeps its size in the program's pixels, so
// that it shows larger or smaller, square, and goes on drawing.
class KwinScaleChange : public NestedDesktopTest {
protected:
    void SetUp() override { start(NestedCompositor::kwin, 1.5); }
    void TearDown() override {
        if (program > 0) waitForExit(program, 0);
        program = -1;
        stopWaylandProxy(proxy, session);
        NestedDesktopTest::TearDown();
    }
    bool windowShowsAt(double side) {
        return screenBecomes([&](const Picture& screen) {
            Region now = regionOf(screen, viewerBackground);
            return now.width() == now.height() && std::abs(now.width() - side) <= 2;
        });
    }
    WaylandSession session;
    WaylandProxy proxy;
};

TEST_F(KwinScaleChange, TheWindowKeepsItsPixelsAsTheScaleChanges) {
    session.directory = desktop.directory;
    session.socketPath = desktop.directory + "/" + desktop.wayland;
    orders.preferred = orders.next = 0;
    proxy = startWaylandProxy(session, [](WireMessage& message) {
        if (!message.event && isMessage(message, wp_fractional_scale_manager_v1_interface, "get_fractional_scale"))
            orders.preferred = message.arguments[0].word;
        if (!message.event || !orders.preferred || !orders.next) return true;
        message.then = {eventOf(orders.preferred, wp_fractional_scale_v1_interface, "preferred_scale",
                                {word('u', orders.next.exchange(0))})};
        message.thenTimes = 1;
        return true;
    });
    ASSERT_GT(proxy.pid, 0) << "no proxy";
    program = spawnNestedClient(desktop, {VIEWER_BINARY}, errorPath(), {"WAYLAND_DISPLAY=" + proxy.name});
    waitForWindow();
    ASSERT_FALSE(HasFatalFailure());
    int side = window.width();
    ASSERT_NE(orders.preferred, 0u) << "the window asked for no fractional scale";
    orders.next = 240;
    EXPECT_TRUE(windowShowsAt(side * 1.5 / 2)) << "at scale 2 on an output of 1.5, three quarters as large";
    EXPECT_TRUE(keepsChanging()) << "and drawing; " << errors();
    orders.next = 180;
    EXPECT_TRUE(windowShowsAt(side)) << "back at 1.5, as large as before";
    pressChord(desktop, {XK_Escape});
    EXPECT_EQ(waitForExit(program, 20000), 0) << errors();
    program = -1;
}

}  // namespace
