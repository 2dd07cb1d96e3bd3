// The viewer as a native Wayland client. Under headless sway, the real
// program as a user meets it: the notice, the window the compositor reports,
// keys, the mouse, the compositor's close and Esc, at either output scale,
// and the error box where there is no EGL. Under headless weston, which
// offers no decorations and no seat, the window procedure drawing in this
// process: the picture, and the title bar the layer has drawn.
#include "app/viewer_state.h"
#include "app/window_proc.h"
#include "message_table.h"
#include "platform/common/internal.h"
#include "viewer_program.h"
#include "layer_test.h"
#include "wayland_proxy.h"
#include "wayland_test_base.h"

#include "xdg-shell-client-protocol.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {


long countOf(const Picture& picture, Rgb colour) {
    return std::count_if(picture.pixels.begin(), picture.pixels.end(),
                         [&](uint32_t pixel) { return closeTo(Rgb{int(pixel >> 16 & 0xff), int(pixel >> 8 & 0xff),
                                                                  int(pixel & 0xff)},
                                                              colour); });
}

class WaylandViewer : public WaylandTestBase {
protected:
    void TearDown() override {
        closeVirtualPointer(mouse);
        WaylandTestBase::TearDown();
        unlink(errorPath().c_str());
    }
    std::string errorPath() const {
        return testing::TempDir() + "wayland-viewer-errors-" + std::to_string(getpid()) + ".txt";
    }
    // Starts the program and waits for a window of it with this title.
    void startViewer(const std::string& title, const std::vector<std::string>& environment = {}) {
        std::vector<std::string> command = {"env"};
        command.insert(command.end(), environment.begin(), environment.end());
        command.push_back(VIEWER_BINARY);
        program = spawnWaylandClient(session, command, errorPath());
        waitForWindow(title);
    }
    void waitForWindow(const std::string& title) {
        ASSERT_TRUE(waitForToplevel(
            session,
            [&](const ToplevelWindow& w) { return w.pid == program && w.title == title && w.focused; }, &window))
            << "no focused window \"" << title << "\"; the viewer's errors: " << fileText(errorPath());
        EXPECT_EQ(window.appId, "org.vorandile.vorandile") << "the desktop entry's id, which docks match windows by";
        EXPECT_EQ(window.shell, "xdg_shell") << "a native client, not an XWayland one";
    }
    void type(const std::vector<std::string>& keys) {
        std::string why;
        ASSERT_TRUE(typeKeys(session, keys, &why)) << why;
    }
    Picture picture() {
        Picture shown;
        std::string why;
        EXPECT_TRUE(windowPicture(session, window, &shown, &why)) << why;
        return shown;
    }
    // Whether the picture becomes one that `test` takes, within the time.
    bool pictureBecomes(const std::function<bool(const Picture&)>& test) {
        return waitUntil([&] { return test(picture()); }, 20000);
    }
    bool keepsChanging() {
        Picture before = picture();
        return pictureBecomes([&](const Picture& now) { return now.pixels != before.pixels; });
    }
    bool settles() {
        Picture before = picture();
        return waitUntil(
            [&] {
                Picture now = picture();
                bool same = now.pixels == before.pixels;
                before = now;
                return same;
            },
            20000);
    }
    // Under sway, with a mouse there before the viewer, as on a desktop: a
    // client only gets the pointer's events once it has seen the seat offer one.
    void startWithAMouse() {
        startCompositor(Compositor::sway);
        std::string why;
        ASSERT_TRUE(openVirtualPointer(session, &mouse, &why)) << why;
        startViewer("vorandile");
    }
    void pointer(VirtualPointer& device, const std::string& command) {
        std::string why;
        ASSERT_TRUE(pointerCommand(device, command, &why)) << why;
    }
    std::string at(int dx, int dy) const {
        const WindowGeometry& g = window.shown;
        return "move " + std::to_string(g.x + g.width / 2 + dx) + " " + std::to_string(g.y + g.height / 2 + dy);
    }

    ToplevelWindow window;
    VirtualPointer mouse;  // where a test opened one
};

// The notice's own title bar: its close button, pressed, springs back when
// the mouse is let go off it, and closes the notice when let go on it.
TEST_F(WaylandViewer, TheNoticesCloseButtonSpringsBackOffItAndClosesOnIt) {
    startWithAMouse();
    ASSERT_FALSE(HasFatalFailure());
    const WindowGeometry notice = window.shown;
    const std::string onCloseButton =
        "move " + std::to_string(notice.x + notice.width - 12) + " " + std::to_string(notice.y + 12);
    const Rgb pressedRed{0xc4, 0x2b, 0x1c};
    for (const char* releasedAt : {"off", "on"}) {
        pointer(mouse, onCloseButton);
        pointer(mouse, "press");
        EXPECT_TRUE(pictureBecomes([&](const Picture& p) { return countOf(p, pressedRed) > 50; }))
            << "pressed, the close button shows so";
        pointer(mouse, std::string(releasedAt) == "off" ? at(0, 0) : onCloseButton);
        pointer(mouse, "release");
        if (std::string(releasedAt) == "off")
            EXPECT_TRUE(pictureBecomes([&](const Picture& p) { return countOf(p, pressedRed) == 0; }))
                << "let go off it, it springs back and the notice stays";
    }
    waitForWindow("vorandile ");
    type({"Escape"});
    EXPECT_EQ(waitForExit(program, 20000), 0) << fileText(errorPath());
    program = -1;
}

TEST_F(WaylandViewer, UnderSwayTheNoticeTheModelKeysAndTheMouseWorkToEsc) {
    startWithAMouse();
    ASSERT_FALSE(HasFatalFailure());
    type({"Return"});
    waitForWindow("vorandile ");
    // 80 percent of the screen's height, square, as the program asks.
    EXPECT_EQ(window.shown.width, 819);
    EXPECT_EQ(window.shown.height, 819);
    EXPECT_TRUE(keepsChanging()) << "the model spins from the first frame";

    pointer(mouse, at(0, 0));
    pointer(mouse, "press");
    pointer(mouse, "release");
    EXPECT_TRUE(settles()) << "a click stops the model";
    ASSERT_TRUE(closeTo(pixelOf(picture(), 3, 3), viewerBackground));

    // On the model standing still, the keys' effects alone change the picture.
    type({"f"});
    EXPECT_TRUE(pictureBecomes([](const Picture& p) { return closeTo(pixelOf(p, 3, 3), viewerFoggyBackground); }))
        << "f turns the fog on";
    type({"f"});
    ASSERT_TRUE(pictureBecomes([](const Picture& p) { return closeTo(pixelOf(p, 3, 3), viewerBackground); }));
    // Through the wires, at least a quarter of what the model covered shows the background.
    Picture filled = picture();
    long solid = countOf(filled, viewerBackground), model = long(filled.pixels.size()) - solid, seen = 0;
    type({"p"});
    EXPECT_TRUE(pictureBecomes(
        [&](const Picture& p) { return (seen = countOf(p, viewerBackground)) > solid + model / 4; }))
        << "p shows the wireframe: " << solid << " background pixels, then " << seen;
    type({"p"});
    ASSERT_TRUE(pictureBecomes([&](const Picture& p) { return p.pixels == filled.pixels; })) << "p again: solid";

    pointer(mouse, "press");
    for (int step = 1; step <= 8; ++step) pointer(mouse, at(step * 12, step * 6));
    pointer(mouse, "release");
    closeVirtualPointer(mouse);
    EXPECT_TRUE(pictureBecomes([&](const Picture& p) { return p.pixels != filled.pixels; })) << "the drag turns it";
    EXPECT_TRUE(keepsChanging()) << "released away from its start, the model keeps spinning";

    type({"Escape"});
    EXPECT_EQ(waitForExit(program, 20000), 0) << fileText(errorPath());
    program = -1;
}

class WaylandViewerAtScale : public WaylandViewer, public testing::WithParamInterface<int> {};

// At scale 2 the program works in the output's own pixels, as a program
// aware of the resolution does: the same window, half as many units, drawn
// at every pixel.
TEST_P(WaylandViewerAtScale, TheWindowFitsTheScreenAndTheCompositorsCloseEndsItWithZero) {
    int scale = GetParam();
    startCompositor(Compositor::sway, scale);
    startViewer("vorandile");
    type({"Return"});
    waitForWindow("vorandile ");
    int units = (819 + scale - 1) / scale;
    EXPECT_EQ(window.shown.width, units);
    EXPECT_EQ(window.shown.height, units);
    // The first frame, not the plain picture the window is shown with
    // before it, which has no edges at all.
    Picture shown;
    ASSERT_TRUE(pictureBecomes([&](const Picture& p) {
        shown = p;
        long background = countOf(p, viewerBackground);
        return background > 0 && background < long(p.pixels.size());
    })) << "the model is drawn";
    ASSERT_EQ(shown.width, units * scale);
    // Drawn at the output's pixels: colours change between the two pixels
    // of a unit too, where a picture enlarged from half the size changes
    // only between units.
    bool oddEdge = false;
    for (int y = 0; y < shown.height && !oddEdge; ++y)
        for (int x = 1; x < shown.width && !oddEdge; x += 2)
            oddEdge = shown.pixels[size_t(y * shown.width + x)] != shown.pixels[size_t(y * shown.width + x - 1)];
    EXPECT_TRUE(oddEdge || scale == 1) << "the picture is not sharp at scale " << scale;

    // Hidden on another workspace, the window gets no go-ahead for its
    // frames from the compositor: the viewer must go on all the same.
    std::string why, output;
    ASSERT_TRUE(swayMessage(session, "'[con_id=" + std::to_string(window.id) + "]' move container to workspace 2",
                            &output))
        << output;
    ASSERT_TRUE(closeToplevel(session, window, &why)) << why;
    EXPECT_EQ(waitForExit(program, 20000), 0) << "the close button gives WM_CLOSE; " << fileText(errorPath());
    program = -1;
}

INSTANTIATE_TEST_SUITE_P(Scales, WaylandViewerAtScale, testing::Values(1, 2));

TEST_F(WaylandViewer, ACompositorThatGoesAwayEndsTheViewerWithOneAndSaysSo) {
    startCompositor(Compositor::sway);
    startViewer("vorandile");
    type({"Return"});
    waitForWindow("vorandile ");
    stopWayland(session);
    EXPECT_EQ(waitForExit(program, 20000), 1);
    program = -1;
    EXPECT_NE(fileText(errorPath()).find("lost the connection to the Wayland compositor"), std::string::npos)
        << fileText(errorPath());
}

TEST_F(WaylandViewer, WithoutEGLTheErrorBoxSaysSoAndTheViewerExitsWithOne) {
    startCompositor(Compositor::sway);
    // No EGL vendor library at all: no config can fit.
    startViewer("vorandile", {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent"});
    type({"Return"});
    waitForWindow("Error");
    EXPECT_TRUE(pictureBecomes([](const Picture& p) { return countOf(p, Rgb{0xd0, 0x10, 0x10}) > 20; }))
        << "the box shows its error mark";
    std::vector<ToplevelWindow> all = toplevelWindows(session);
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const ToplevelWindow& w) { return w.title == "vorandile "; }),
              0)
        << "the main window is never shown";
    type({"Return"});
    EXPECT_EQ(waitForExit(program, 20000), 1) << fileText(errorPath());
    program = -1;
}

// The messages of the viewer's window under sway, step by step, as the
// trace of its window procedure writes them (see the X11 desktops' tables).
// sway decides the size of a fullscreen window, as tiling managers do on X11:
// the window draws at that size and goes back to its own when let go.
const Scenario swayScenarios[] = {
    {"FullscreenAndBackThenEscape",
     {{"start", {"WM_CREATE", "WM_SIZE restored client", "WM_PAINT"}},
      {"fullscreen", {"WM_SIZE restored larger", "WM_PAINT?"}},
      {"windowed", {"WM_SIZE restored client", "WM_PAINT?"}},
      {"escape", {"WM_KEYDOWN 27", "WM_CHAR 27", "WM_DESTROY", "exit 0"}}}},
    {"CloseButton",
     {{"start", {"WM_CREATE", "WM_SIZE restored client", "WM_PAINT"}},
      {"close button", {"WM_CLOSE", "WM_DESTROY", "exit 0"}}}},
};

class WaylandMessageSequences : public WaylandViewer, public testing::WithParamInterface<Scenario> {
protected:
    std::string tracePath() const { return testing::TempDir() + "wayland-trace-" + std::to_string(getpid()) + ".txt"; }
    void act(const std::string& action) {
        std::string why, output;
        std::string node = "'[con_id=" + std::to_string(window.id) + "]' ";
        if (action == "start") {
            std::remove(tracePath().c_str());
            program = spawnWaylandClient(session, {TRACE_BINARY, tracePath()}, errorPath());
            waitForWindow("vorandile");
            type({"Return"});
            waitForWindow("vorandile ");
        } else if (action == "fullscreen" || action == "windowed") {
            std::string command = action == "fullscreen" ? "fullscreen enable" : "fullscreen disable";
            ASSERT_TRUE(swayMessage(session, node + command, &output)) << output;
        } else if (action == "escape") {
            type({"Escape"});
        } else if (action == "close button") {
            ASSERT_TRUE(closeToplevel(session, window, &why)) << why;
        } else {
            FAIL() << "no such action: " << action;
        }
    }
};

TEST_P(WaylandMessageSequences, AreThePlatformsStepByStep) {
    startCompositor(Compositor::sway);
    ASSERT_EQ(followSteps(GetParam().steps, tracePath(),
                          [this](const std::string& action) {
                              act(action);
                              return !HasFatalFailure();
                          }),
              "");
    EXPECT_EQ(waitForExit(program, 20000), 0);
    program = -1;
    EXPECT_EQ(fileText(errorPath()), "");
    std::remove(tracePath().c_str());
}

INSTANTIATE_TEST_SUITE_P(Sway, WaylandMessageSequences, testing::ValuesIn(swayScenarios),
                         [](const testing::TestParamInfo<Scenario>& row) { return std::string(row.param.name); });

// The compositor's repeat rate makes the repeats; the window is told of
// them as on X11 and on the platform (the table both back ends share).
TEST_F(WaylandViewer, AHeldKeyIsOnePressItsRepeatsAndOneRelease) {
    startCompositor(Compositor::sway);
    std::string trace = testing::TempDir() + "wayland-held-key-" + std::to_string(getpid()) + ".txt";
    std::remove(trace.c_str());
    program = spawnWaylandClient(session, {TRACE_BINARY, trace}, errorPath());
    waitForWindow("vorandile");
    type({"Return"});
    waitForWindow("vorandile ");
    std::string why;
    ASSERT_TRUE(holdKey(session, "q", 1500, &why)) << why;
    EXPECT_TRUE(waitUntil([&] { return keyMessages(trace) == heldKeyMessages; }, 20000)) << joined(keyMessages(trace));
    type({"Escape"});
    EXPECT_EQ(waitForExit(program, 20000), 0) << fileText(errorPath());
    program = -1;
    std::remove(trace.c_str());
}

// A compositor that maximizes the window (a proxy of the test's adds the
// state to sway's word on it): the window is told SIZE_MAXIMIZED at the
// size imposed, and is zoomed, as on X11 and on the platform.
TEST_F(WaylandViewer, AMaximizedWindowIsToldSo) {
    startCompositor(Compositor::sway);
    WaylandProxy proxy = startWaylandProxy(session, [toplevels = 0, main = 0u](WireMessage& message) mutable {
        if (!message.event && isMessage(message, xdg_surface_interface, "get_toplevel") && ++toplevels == 2)
            main = message.arguments[0].word;
        if (message.event && message.object == main && isMessage(message, xdg_toplevel_interface, "configure")) {
            message.arguments[0].word = 1000;
            message.arguments[1].word = 800;
            const uint32_t states[] = {XDG_TOPLEVEL_STATE_MAXIMIZED, XDG_TOPLEVEL_STATE_ACTIVATED};
            message.arguments[2].bytes.assign(reinterpret_cast<const char*>(states), sizeof states);
        }
        return true;
    });
    ASSERT_GT(proxy.pid, 0) << "no proxy";
    std::string trace = testing::TempDir() + "wayland-maximized-" + std::to_string(getpid()) + ".txt";
    std::remove(trace.c_str());
    ChildSetup setup = waylandClientSetup(session, errorPath());
    setup.environment.push_back("WAYLAND_DISPLAY=" + proxy.name);
    program = spawnCommand({TRACE_BINARY, trace}, "", setup);
    ASSERT_TRUE(waitForToplevel(session, [&](const ToplevelWindow& w) { return w.pid == proxy.pid && w.focused; },
                                &window));
    type({"Return"});
    // Shown at once in the state imposed: the window learns it with its first size.
    Step maximized{"", {"WM_CREATE", "WM_SIZE maximized 1000x800 zoomed", "WM_PAINT"}};
    Size client;
    std::vector<std::string> seen;
    EXPECT_TRUE(traceReaches(trace, 0, maximized, &client, &seen)) << joined(seen);
    type({"Escape"});
    EXPECT_EQ(waitForExit(program, 20000), 0) << fileText(errorPath());
    program = -1;
    stopWaylandProxy(proxy, session);
    std::remove(trace.c_str());
}

// A socket that takes connections and closes them at once, or (`silent`)
// keeps them without a word: no compositor the layer can use. The viewer
// then goes on to the X display.
class ViewerBesideABrokenCompositor : public testing::TestWithParam<bool> {};

TEST_P(ViewerBesideABrokenCompositor, GoesOnToTheXDisplay) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no X display to go on to";
    std::string directory = testing::TempDir(), name = "broken-" + std::to_string(getpid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s", directory.c_str(), name.c_str());
    unlink(address.sun_path);
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    pid_t server = forkChild();
    if (server == 0) {
        std::vector<int> kept;
        for (int client; (client = accept(listener, nullptr, nullptr)) >= 0;)
            GetParam() ? kept.push_back(client) : void(close(client));
        _exit(0);
    }
    close(listener);
    ChildSetup setup;
    setup.environment = {"XDG_RUNTIME_DIR=" + directory, "WAYLAND_DISPLAY=" + name};
    pid_t viewer = spawnCommand({VIEWER_BINARY}, display, setup);
    Display* user = openUserConnection(display);
    ASSERT_NE(user, nullptr);
    EXPECT_NE(waitForWindowNamed(user, "vorandile", 20000), 0u) << "no notice on the X display";
    XCloseDisplay(user);
    stopProgram(viewer);
    stopProgram(server);
    unlink(address.sun_path);
}

INSTANTIATE_TEST_SUITE_P(ClosingOrSilent, ViewerBesideABrokenCompositor, testing::Values(false, true));

// A key held down repeats at the compositor's rate until it is let go,
// each repeat a WM_KEYDOWN marked as such with its character, as on the
// platform. The window procedure runs in the test's process.
struct KeyCount {
    int downs = 0, repeats = 0, characters = 0, ups = 0;
};
KeyCount heldKeys;

LRESULT CALLBACK countKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == 'F') {
        ++heldKeys.downs;
        if (lParam & 0x40000000) ++heldKeys.repeats;
    }
    if (message == WM_CHAR && wParam == 'f') ++heldKeys.characters;
    if (message == WM_KEYUP && wParam == 'F') ++heldKeys.ups;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(WaylandViewer, AKeyHeldDownRepeatsUntilItIsLetGo) {
    startCompositor(Compositor::sway);
    setenv("XDG_RUNTIME_DIR", session.directory.c_str(), 1);
    setenv("WAYLAND_DISPLAY", session.wayland.c_str(), 1);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = countKeys;
    windowClass.lpszClassName = "Keys";
    ASSERT_TRUE(RegisterClassA(&windowClass));
    HWND keys = CreateWindowExA(0, "Keys", "keys", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr, nullptr,
                                  nullptr);
    ShowWindow(keys, SW_SHOW);
    heldKeys = KeyCount{};
    // A timer wakes the loop now and then to look at the time.
    SetTimer(keys, 1, 50, nullptr);
    // Held for a second and a half: the default delay is 600 ms, the rate 25 a second.
    pid_t typist = spawnWaylandClient(session, {"wtype", "-s", "300", "-P", "f", "-s", "1500", "-p", "f"});
    bool letGo = pumpUntil([] { return heldKeys.ups > 0; }, 20000);
    KeyCount counted = heldKeys;
    EXPECT_EQ(waitForExit(typist, 20000), 0);
    DestroyWindow(keys);
    keepGraphicsDriversLoaded();
    terminateLayer();
    unsetenv("WAYLAND_DISPLAY");
    ASSERT_TRUE(letGo) << "no WM_KEYUP; " << counted.downs << " WM_KEYDOWN";
    EXPECT_GE(counted.repeats, 3) << "the key did not repeat";
    EXPECT_EQ(counted.downs, counted.repeats + 1) << "only the first WM_KEYDOWN is not a repeat";
    EXPECT_EQ(counted.characters, counted.downs) << "each WM_KEYDOWN gives its WM_CHAR";
    EXPECT_EQ(counted.ups, 1);
}

// Under weston the layer draws the decorations itself. The window
// procedure runs in this process, without the notice, which headless weston
// (no seat) could never dismiss.
TEST_F(WaylandViewer, UnderWestonTheModelIsDrawnBelowATitleBarOfTheLayers) {
    startCompositor(Compositor::weston);
    setenv("XDG_RUNTIME_DIR", session.directory.c_str(), 1);
    setenv("WAYLAND_DISPLAY", session.wayland.c_str(), 1);
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.lpszClassName = "OpenGL";
    ASSERT_TRUE(RegisterClassA(&windowClass));
    ASSERT_STREQ(native().name, "Wayland");
    viewer.windowWidth = viewer.windowHeight = int32_t(GetSystemMetrics(SM_CYSCREEN) * 0.8);
    HWND main = CreateWindowExA(0, "OpenGL", "vorandile ", WS_OVERLAPPEDWINDOW, 0, 0, viewer.windowWidth,
                                viewer.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(main, nullptr);
    ShowWindow(main, SW_SHOW);
    bool found = false;
    Picture screen, inside;
    std::string why;
    int64_t deadline = nowMs() + 20000;
    while (!found && nowMs() < deadline) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (viewer.idleCallback) viewer.idleCallback();
        if (!findToplevel(session, [](const ToplevelWindow& w) { return w.title == "vorandile "; }, &window) ||
            !takeScreenshot(session, &screen, &why))
            continue;
        inside = cropPicture(session, screen, window.shown);
        found = countOf(inside, viewerBackground) > inside.width * inside.height / 2 &&
                countOf(inside, viewerBackground) < inside.width * inside.height;
    }
    DestroyWindow(main);
    keepGraphicsDriversLoaded();
    terminateLayer();
    unsetenv("WAYLAND_DISPLAY");
    ASSERT_TRUE(found) << "no picture of the model in the window; " << why;
    EXPECT_EQ(window.shown.width, 819);
    // Right above the contents: the title bar, not the desktop.
    Picture titleBar = cropPicture(session, screen, WindowGeometry{window.shown.x, window.shown.y - 12,
                                                                   window.shown.width, 8});
    Rgb desktop = pixelOf(screen, 2, screen.height - 2);
    EXPECT_LT(countOf(titleBar, desktop), titleBar.width * titleBar.height / 10) << "no title bar above the window";
}

}  // namespace
