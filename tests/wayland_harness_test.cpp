// The Wayland harness itself, on the distribution's own demo clients: what
// the viewer's tests take from it on trust and could not tell wrong by
// themselves. A client gets the compositor's display and no X11 one; the
// pointer lands on the very surface pixel the harness aims at; a window's
// picture is its contents to the edge, at either output scale, under sway
// and under weston.
#include "wayland_test_base.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

const char* const demoAppId = "org.freedesktop.weston.simple-egl";

std::string scratchPath(const std::string& what) {
    return testing::TempDir() + "wayland-harness-" + what + "-" + std::to_string(getpid()) + ".txt";
}

class WaylandHarness : public WaylandTestBase {
protected:
    void start(Compositor compositor, int scale = 1) {
        if (!inPath("weston-simple-egl") || !inPath("weston-eventdemo"))
            GTEST_SKIP() << "weston's demo clients are not installed (scripts/setup.sh installs weston)";
        startCompositor(compositor, scale);
    }
    // Starts a demo client and waits for its window.
    void startClient(const std::vector<std::string>& command, const std::string& appId,
                     const std::string& output = "") {
        std::vector<std::string> line = command;
        if (!output.empty()) {
            // A shell that sends its standard output to the file, then becomes the client.
            line = {"sh", "-c", "exec \"$@\" >'" + output + "'", "sh"};
            line.insert(line.end(), command.begin(), command.end());
        }
        program = spawnWaylandClient(session, line, scratchPath("client-errors"));
        ASSERT_TRUE(waitForToplevel(
            session, [&](const ToplevelWindow& w) { return w.appId == appId && w.pid == program; }, &window))
            << command[0] << " shows no window; its errors: " << fileText(scratchPath("client-errors"));
    }
    // Every pixel of the picture's outermost rows and columns.
    static std::vector<uint32_t> edges(const Picture& p) {
        std::vector<uint32_t> found;
        for (int x = 0; x < p.width; ++x) {
            found.push_back(p.pixels[size_t(x)]);
            found.push_back(p.pixels[size_t(p.height - 1) * size_t(p.width) + size_t(x)]);
        }
        for (int y = 0; y < p.height; ++y) {
            found.push_back(p.pixels[size_t(y) * size_t(p.width)]);
            found.push_back(p.pixels[size_t(y) * size_t(p.width) + size_t(p.width - 1)]);
        }
        return found;
    }
    // The window's picture is its contents to the edge: once it is drawn,
    // its edges are all the client's clear colour, which the compositor
    // does not draw round it, and a ring one unit outside it has only the
    // colours that it does.
    void expectPictureEndsAtTheWindowsEdges(const std::vector<uint32_t>& around) {
        auto drawnRound = [&](uint32_t pixel) { return std::find(around.begin(), around.end(), pixel) != around.end(); };
        const WindowGeometry& g = window.shown;
        std::string where = std::to_string(g.width) + "x" + std::to_string(g.height) + " at " + std::to_string(g.x) +
                            ", " + std::to_string(g.y);
        Picture screen, inside;
        std::string why;
        std::vector<uint32_t> insideEdges;
        ASSERT_TRUE(waitUntil(
            [&] {
                if (!takeScreenshot(session, &screen, &why)) return false;
                inside = cropPicture(session, screen, g);
                if (inside.pixels.empty()) return false;
                insideEdges = edges(inside);
                return !drawnRound(insideEdges[0]) &&
                       std::count(insideEdges.begin(), insideEdges.end(), insideEdges[0]) == long(insideEdges.size());
            },
            20000))
            << "the window's edges are never all one colour of its own: " << where << "; " << why;
        ASSERT_EQ(screen.width, 1280) << "the output's own pixels";
        ASSERT_EQ(screen.height, 1024);
        ASSERT_EQ(inside.width, g.width * session.scale) << where;
        ASSERT_EQ(inside.height, g.height * session.scale) << where;
        Picture ring = cropPicture(session, screen, WindowGeometry{g.x - 1, g.y - 1, g.width + 2, g.height + 2});
        ASSERT_EQ(ring.width, inside.width + 2 * session.scale) << "not at the output's edge: " << where;
        ASSERT_EQ(ring.height, inside.height + 2 * session.scale) << "not at the output's edge: " << where;
        for (uint32_t pixel : edges(ring))
            ASSERT_TRUE(drawnRound(pixel)) << std::hex << pixel << " is not drawn round the window " << where;
    }

    ToplevelWindow window;
};

TEST_F(WaylandHarness, AClientHasTheCompositorsDisplayAndNoX11Display) {
    start(Compositor::sway);
    setenv("DISPLAY", ":98", 1);  // as under a desktop: the client must not inherit it
    std::string seen = scratchPath("environment");
    program = spawnWaylandClient(
        session, {"sh", "-c", "echo \"$XDG_RUNTIME_DIR|$WAYLAND_DISPLAY|${DISPLAY-none}\" >'" + seen + "'"});
    int status = waitForExit(program, 20000);
    unsetenv("DISPLAY");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(fileText(seen), session.directory + "|" + session.wayland + "|none\n");
    EXPECT_EQ(session.socketPath, session.directory + "/" + session.wayland);
    EXPECT_EQ(access(session.socketPath.c_str(), R_OK | W_OK), 0) << "the socket lets the test's user in";
    unlink(seen.c_str());
}

class WaylandHarnessAtScale : public WaylandHarness, public testing::WithParamInterface<int> {};

TEST_P(WaylandHarnessAtScale, ThePointerLandsOnTheSurfacePixelItIsAimedAt) {
    start(Compositor::sway, GetParam());
    // The mouse is there before the client, as on a desktop: a client only
    // gets the pointer's events once it has seen the seat offer a pointer.
    VirtualPointer pointer;
    std::string why;
    ASSERT_TRUE(openVirtualPointer(session, &pointer, &why)) << why;
    // The demo logs pointer events in its surface's coordinates.
    std::string log = scratchPath("events");
    startClient({"stdbuf", "-oL", "weston-eventdemo", "--log-motion", "--log-button"},
                "org.freedesktop.weston.eventdemo", log);
    ASSERT_EQ(window.title, "EventDemo");
    const WindowGeometry& g = window.shown;
    auto at = [&](int x, int y) { return "move " + std::to_string(g.x + x) + " " + std::to_string(g.y + y); };
    // The compositor lists a window as soon as it places it, which may be
    // before it shows it there: the pointer comes onto it until the demo
    // says the pointer is on it.
    EXPECT_TRUE(waitUntil(
        [&] {
            return pointerCommand(pointer, at(31, 41), &why) && pointerCommand(pointer, at(30, 40), &why) &&
                   fileText(log).find("x: 30.000000, y: 40.000000") != std::string::npos;
        },
        20000))
        << why << "; the demo's events:\n" << fileText(log);
    for (const std::string& command : {std::string("press"), at(70, 45), std::string("release")})
        ASSERT_TRUE(pointerCommand(pointer, command, &why)) << why;
    closeVirtualPointer(pointer);
    EXPECT_TRUE(waitUntil(
        [&] {
            std::string events = fileText(log);
            return events.find("state: pressed, x: 30, y: 40") != std::string::npos &&
                   events.find("x: 70.000000, y: 45.000000") != std::string::npos &&
                   events.find("state: released, x: 70, y: 45") != std::string::npos;
        },
        20000))
        << "window at " << g.x << ", " << g.y << "; the demo's events:\n" << fileText(log);
    unlink(log.c_str());
}

TEST_P(WaylandHarnessAtScale, AWindowsPictureEndsAtItsEdges) {
    start(Compositor::sway, GetParam());
    startClient({"weston-simple-egl", "-o"}, demoAppId);
    ASSERT_EQ(window.shell, "xdg_shell");
    ASSERT_EQ(window.title, "simple-egl");
    ASSERT_TRUE(waitForToplevel(
        session, [&](const ToplevelWindow& w) { return w.id == window.id && w.focused; }, &window))
        << "a new window has the focus";
    // sway's default colours of the focused window's title bar, border,
    // and the side where the next window would go.
    expectPictureEndsAtTheWindowsEdges({0x4c7899, 0x285577, 0x2e9ef4});
}

INSTANTIATE_TEST_SUITE_P(Scales, WaylandHarnessAtScale, testing::Values(1, 2));

TEST_F(WaylandHarness, AWindowsPictureUnderWestonEndsAtItsEdges) {
    start(Compositor::weston);
    startClient({"weston-simple-egl", "-o"}, demoAppId);
    EXPECT_EQ(window.title, "simple-egl");
    EXPECT_EQ(window.shell, "xdg_shell");
    // Placed at random: a picture upside down would show it elsewhere.
    expectPictureEndsAtTheWindowsEdges({0x203040});  // the desktop's background
}

}  // namespace
