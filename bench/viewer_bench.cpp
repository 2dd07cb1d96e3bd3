// Measures the real viewer against the floor (a bare GLX loop drawing the
// same frames) and against a freeglut program, on a private virtual X
// server: frames per second, CPU while stopped, response times and memory.
// Then, as a native Wayland client of a headless sway and of weston with its
// GL renderer nested in an X server, against a bare EGL loop drawing the
// same frames: frames per second.
// With --long-spin it instead lets the viewer render 2^20 frames and checks
// that the model's matrix is still a rotation.
#include "swap_log.h"
#include "x_server.h"
#include "x_user.h"
#ifdef VIEWER_BENCH_WAYLAND
#include "nested_wayland.h"
#include "wayland.h"
#include "wayland_proxy.h"

#include "fractional-scale-v1-client-protocol.h"
#endif

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

std::string toolDirectory;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A table row: the median, then every round's figure.
void row(const std::string& name, const std::vector<double>& values, const char* format) {
    std::printf("| %s | ", name.c_str());
    std::printf(format, median(values));
    std::printf(" |");
    for (double value : values) {
        std::printf(" ");
        std::printf(format, value);
    }
    std::printf(" |\n");
}

struct Mapped {
    SwapLog* log = nullptr;
    std::string path;
};

Mapped mapLog(const std::string& path) {
    unlink(path.c_str());
    int file = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    Mapped mapped{nullptr, path};
    if (file < 0 || ftruncate(file, sizeof(SwapLog)) != 0) return mapped;
    void* memory = mmap(nullptr, sizeof(SwapLog), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    close(file);
    if (memory != MAP_FAILED) mapped.log = static_cast<SwapLog*>(memory);
    return mapped;
}

pid_t launch(const std::string& program, const Mapped& mapped, const std::string& display,
             const std::vector<std::string>& extraEnvironment = {}) {
    std::vector<std::string> command = {"env", "LD_PRELOAD=" + toolDirectory + "/libswap-counter.so",
                                        "BENCH_SWAP_LOG=" + mapped.path};
    command.insert(command.end(), extraEnvironment.begin(), extraEnvironment.end());
    command.push_back(program);
    return spawnCommand(command, display);
}


long statusKilobytes(pid_t process, const char* key) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return -1;
}

bool waitForSwaps(const SwapLog* log, uint64_t swaps, int timeoutMs) {
    return waitUntil([&] { return log->swaps >= swaps; }, timeoutMs);
}

double framesPerSecond(const SwapLog* log, double seconds) {
    usleep(1000000);  // warm up
    uint64_t s0 = log->swaps;
    double t0 = log->lastSwap;
    usleep(useconds_t(seconds * 1e6));
    uint64_t s1 = log->swaps;
    double t1 = log->lastSwap;
    return t1 > t0 ? double(s1 - s0) / (t1 - t0) : 0;
}

// Time from pressing f to the first frame drawn with the fogged background,
// from the press and from the moment the program read the key event, and
// how many frames that took. The first fogged frame of a run also waits for
// Mesa to compile its fog shader; `warm` presses f twice first, so that only
// the program's own response is left.
struct KeyResponse {
    double fromPress = 0, fromEvent = 0, frames = 0;
};

KeyResponse keyResponse(Display* user, SwapLog* log, bool warm) {
    auto fogged = [&] { return log->clearColour[2] == 0.25f; };
    if (warm) {
        for (int press = 0; press < 2; ++press) {
            bool was = fogged();
            pressKey(user, XK_f);
            waitUntil([&] { return fogged() != was; }, 5000);
        }
        usleep(200000);
    }
    log->keyReadAt = 0;
    double pressed = monotonicSeconds();
    pressKey(user, XK_f);
    waitUntil([&] { return log->clearChangedAt > pressed && fogged(); }, 5000);
    KeyResponse response;
    response.fromPress = log->clearChangedAt - pressed;
    if (log->keyReadAt > 0) {
        response.fromEvent = log->clearChangedAt - log->keyReadAt;
        response.frames = double(log->swapsAtClearChange - log->swapsAtKeyRead);
    }
    return response;
}

struct ViewerFigures {
    double fps = 0, startup = 0, stoppedCpu = 0;
    KeyResponse coldKey, keyResponse;
    long peakKilobytes = 0;
};

ViewerFigures measureViewer(Display* user, const std::string& display, double seconds) {
    ViewerFigures figures;
    Mapped mapped = mapLog("/tmp/viewer-bench-viewer.log");
    pid_t viewer = launch(toolDirectory + "/vorandile", mapped, display);
    if (!waitForWindowNamed(user, "vorandile", 10000)) return figures;
    double dismissed = monotonicSeconds();
    pressKey(user, XK_Return);
    if (!waitForSwaps(mapped.log, 1, 10000)) return figures;
    figures.startup = mapped.log->firstSwap - dismissed;
    Window window = waitForWindowNamed(user, "vorandile ", 5000);

    figures.fps = framesPerSecond(mapped.log, seconds);

    figures.coldKey = keyResponse(user, mapped.log, false);
    pressKey(user, XK_f);
    figures.keyResponse = keyResponse(user, mapped.log, true);

    WindowGeometry g = rootGeometry(user, window);
    clickAt(user, g.x + g.width / 2, g.y + g.height / 2);
    usleep(1000000);
    double cpu0 = processCpuSeconds(viewer), wall0 = monotonicSeconds();
    usleep(5000000);
    figures.stoppedCpu = (processCpuSeconds(viewer) - cpu0) / (monotonicSeconds() - wall0);
    figures.peakKilobytes = statusKilobytes(viewer, "VmHWM:");

    pressKey(user, XK_Escape);
    waitForExit(viewer, 5000);
    munmap(mapped.log, sizeof(SwapLog));
    return figures;
}

struct LoopFigures {
    double fps = 0;
    KeyResponse keyResponse;
};

LoopFigures measureLoop(Display* user, const std::string& program, const std::string& display, double seconds,
                        bool withKey) {
    Mapped mapped = mapLog("/tmp/viewer-bench-loop.log");
    pid_t loop = launch(program, mapped, display);
    LoopFigures figures;
    if (waitForSwaps(mapped.log, 1, 10000)) {
        figures.fps = framesPerSecond(mapped.log, seconds);
        if (withKey) {
            Window window = waitForWindowNamed(user, "bare-loop", 2000);
            if (window) XSetInputFocus(user, window, RevertToParent, CurrentTime);
            XSync(user, False);
            figures.keyResponse = keyResponse(user, mapped.log, true);
        }
    }
    kill(loop, SIGTERM);
    waitForExit(loop, 5000);
    munmap(mapped.log, sizeof(SwapLog));
    return figures;
}

#ifdef VIEWER_BENCH_WAYLAND
// A native client's frame rate on a Wayland desktop, the size of its window
// there, or why it was not measured.
struct WaylandFigures {
    double fps = 0;
    long pixelsPerFrame = 0;  // of the surface the program last swapped
    int width = 0, height = 0;
    std::string failure;
};

// A Wayland desktop the figures are taken on: how a client starts there,
// how the user sees the notice and presses keys ("Return", "Escape"), and
// the size of a program's main window.
struct BenchDesktop {
    std::string name;
    std::function<ChildSetup(const std::string& errorPath)> clientSetup;
    std::function<bool(pid_t viewer)> noticeShown;
    std::function<bool(const std::string& key)> press;
    std::function<void(pid_t program, WaylandFigures& figures)> measureSize;
    // Where the compositor draws no decorations the loop carries libdecor's,
    // as the viewer's window does: the compositor draws them with each frame.
    bool decoratedLoop = false;
};

pid_t launchWayland(const BenchDesktop& desktop, const std::vector<std::string>& command, const Mapped& mapped,
                    const std::string& errorPath) {
    ChildSetup setup = desktop.clientSetup(errorPath);
    setup.environment.push_back("LD_PRELOAD=" + toolDirectory + "/libswap-counter.so");
    setup.environment.push_back("BENCH_SWAP_LOG=" + mapped.path);
    return spawnCommand(command, "", setup);
}

std::string ending(pid_t program, const std::string& errorPath) {
    std::string text;
    if (!isRunning(program)) text = " (it ended with code " + std::to_string(waitForExit(program, 0)) + ")";
    std::ifstream errors(errorPath);
    std::string all((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
    if (!all.empty()) text += "; its errors: " + all.substr(0, 600);
    return text;
}

WaylandFigures measureWaylandViewer(const BenchDesktop& desktop, double seconds) {
    WaylandFigures figures;
    Mapped mapped = mapLog("/tmp/viewer-bench-wayland-viewer.log");
    std::string errorPath = "/tmp/viewer-bench-wayland-viewer-errors.txt";
    pid_t viewer = launchWayland(desktop, {toolDirectory + "/vorandile"}, mapped, errorPath);
    // The notice first: it has the keys once it is shown.
    if (!waitUntil([&] { return desktop.noticeShown(viewer) || !isRunning(viewer); }, 20000) || !isRunning(viewer)) {
        figures.failure = "it showed no notice" + ending(viewer, errorPath);
    } else if (!desktop.press("Return")) {
        figures.failure = "Return did not reach it";
    } else if (!waitUntil([&] { return mapped.log->swaps > 0 || !isRunning(viewer); }, 20000) ||
               mapped.log->swaps == 0) {
        figures.failure = "no frame after the notice was dismissed with Return" + ending(viewer, errorPath);
    } else {
        desktop.measureSize(viewer, figures);
        figures.fps = framesPerSecond(mapped.log, seconds);
        figures.pixelsPerFrame = long(mapped.log->drawnWidth) * mapped.log->drawnHeight;
        desktop.press("Escape");
    }
    waitForExit(viewer, 5000);  // kills it if it does not end
    munmap(mapped.log, sizeof(SwapLog));
    return figures;
}

// The loop paced by EGL's swap interval 1, or (`byCallbacks`) by the
// compositor's frame callbacks with swap interval 0, as the viewer's layer paces.
WaylandFigures measureEglLoop(const BenchDesktop& desktop, double seconds, bool byCallbacks) {
    WaylandFigures figures;
    Mapped mapped = mapLog("/tmp/viewer-bench-egl-loop.log");
    std::string errorPath = "/tmp/viewer-bench-egl-loop-errors.txt";
    std::vector<std::string> command = {toolDirectory + "/egl-loop"};
    if (byCallbacks) command.push_back("--frame-callbacks");
    if (desktop.decoratedLoop) command.push_back("--decorated");
    pid_t loop = launchWayland(desktop, command, mapped, errorPath);
    if (waitUntil([&] { return mapped.log->swaps > 0 || !isRunning(loop); }, 20000) && mapped.log->swaps > 0) {
        desktop.measureSize(loop, figures);
        figures.fps = framesPerSecond(mapped.log, seconds);
    } else {
        figures.failure = "no frame" + ending(loop, errorPath);
    }
    kill(loop, SIGTERM);
    waitForExit(loop, 5000);
    munmap(mapped.log, sizeof(SwapLog));
    return figures;
}

// The viewer and the bare loop's two pacings in turn, as many rounds as
// under X11, and the table of their figures.
void measureOn(const BenchDesktop& desktop, int rounds, double seconds) {
    // The floor is the faster of the two pacings of the bare loop.
    std::vector<double> viewerFps, intervalFps, callbackFps, ratio;
    WaylandFigures viewer, interval, callbacks;
    std::string viewerFailure;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 3; ++turn) {
            switch ((round + turn) % 3) {
            case 0:
                if (!viewerFailure.empty()) break;  // no use starting it again
                viewer = measureWaylandViewer(desktop, seconds);
                viewerFailure = viewer.failure;
                if (viewerFailure.empty()) viewerFps.push_back(viewer.fps);
                break;
            default: {
                bool byCallbacks = (round + turn) % 3 == 2;
                WaylandFigures& loop = byCallbacks ? callbacks : interval;
                loop = measureEglLoop(desktop, seconds, byCallbacks);
                if (!loop.failure.empty()) {
                    std::printf("Native Wayland, %s: the bare EGL loop drew %s\n", desktop.name.c_str(),
                                loop.failure.c_str());
                    return;
                }
                (byCallbacks ? callbackFps : intervalFps).push_back(loop.fps);
            }
            }
        }
        double floor = std::max(interval.fps, callbacks.fps);
        if (viewerFailure.empty()) ratio.push_back(floor > 0 ? viewer.fps / floor : 0);
        std::fprintf(stderr,
                     "Wayland, %s, round %d: viewer %.1f, bare EGL loop %.1f (swap interval 1), %.1f (frame "
                     "callbacks) frames/s\n",
                     desktop.name.c_str(), round + 1, viewerFailure.empty() ? viewer.fps : 0.0, interval.fps,
                     callbacks.fps);
    }
    if (!viewerFailure.empty())
        std::printf("The viewer does not run as a native Wayland client of %s: %s\n"
                    "Only the bare EGL loop was measured.\n\n",
                    desktop.name.c_str(), viewerFailure.c_str());
    std::printf("| native Wayland, %s (%d rounds, %.0f s each) | median | per round |\n", desktop.name.c_str(), rounds,
                seconds);
    std::printf("|---|---|---|\n");
    auto size = [](const WaylandFigures& figures) {
        return " (window " + std::to_string(figures.width) + "x" + std::to_string(figures.height) + ")";
    };
    if (viewerFailure.empty()) row("viewer, frames/s" + size(viewer), viewerFps, "%.1f");
    std::string loop = desktop.decoratedLoop ? "bare EGL loop with libdecor's decorations" : "bare EGL loop";
    row(loop + ", swap interval 1, frames/s" + size(interval), intervalFps, "%.1f");
    row(loop + ", frame callbacks, frames/s" + size(callbacks), callbackFps, "%.1f");
    if (viewerFailure.empty()) row("viewer / the faster bare loop", ratio, "%.3f");
}

// Under headless sway, where both programs float, so that each window has
// the size its program chooses, as under the virtual X server.
void measureUnderSway(int rounds, double seconds) {
    std::string missing = missingWaylandTools(Compositor::sway);
    if (!missing.empty()) {
        std::printf("Native Wayland: not measured: %s not installed (bench/run.sh installs them)\n", missing.c_str());
        return;
    }
    std::string why;
    WaylandSession session = startWayland(Compositor::sway, "/tmp/", &why);
    if (session.wayland.empty()) {
        std::printf("Native Wayland: not measured: headless sway did not start: %s\n", why.c_str());
        return;
    }
    std::string reply;
    if (!swayMessage(session, "'for_window [app_id=\"^(org.vorandile.vorandile|egl-loop)$\"] floating enable'",
                     &reply)) {
        std::printf("Native Wayland: not measured: sway took no rule to float the windows: %s\n", reply.c_str());
        stopWayland(session);
        return;
    }
    long noticeId = 0;
    BenchDesktop desktop;
    desktop.name = "headless sway";
    desktop.clientSetup = [&](const std::string& errorPath) { return waylandClientSetup(session, errorPath); };
    desktop.noticeShown = [&](pid_t viewer) {
        ToplevelWindow notice;
        bool shown = findToplevel(session, [&](const ToplevelWindow& w) { return w.pid == viewer && w.focused; },
                                  &notice);
        noticeId = notice.id;
        return shown;
    };
    desktop.press = [&](const std::string& key) {
        std::string ignored;
        return typeKeys(session, {key}, &ignored);
    };
    desktop.measureSize = [&](pid_t program, WaylandFigures& figures) {
        ToplevelWindow window;
        if (waitForToplevel(
                session, [&](const ToplevelWindow& w) { return w.pid == program && w.id != noticeId; }, &window)) {
            figures.width = window.shown.width;
            figures.height = window.shown.height;
        }
    };
    measureOn(desktop, rounds, seconds);
    stopWayland(session);
}

// Under weston with its GL renderer, nested in an X server: a desktop that
// composites with OpenGL, as users' do. No compositor there says where a
// window is; the viewer's and the loop's are found by their background.
// A compositor nested in an X server, its clients started on `display`:
// the notice and windows are found by what they show.
BenchDesktop nestedBenchDesktop(const NestedDesktop& nested, const std::string& display) {
    const Rgb background = rgbOf(0.5f, 0.25f, 0.35f), boxFace{0xf0, 0xf0, 0xf0};
    BenchDesktop desktop;
    desktop.name = nestedName(nested.compositor);
    desktop.clientSetup = [&nested, display](const std::string& errorPath) {
        ChildSetup setup;
        setup.errorPath = errorPath;
        setup.environment = {"XDG_RUNTIME_DIR=" + nested.directory, "WAYLAND_DISPLAY=" + display};
        return setup;
    };
    desktop.noticeShown = [&nested, boxFace](pid_t) {
        return regionOf(screenPicture(nested), boxFace, 0).count > 5000;
    };
    desktop.press = [&nested](const std::string& key) {
        pressChord(nested, {XStringToKeysym(key.c_str())});
        return true;
    };
    desktop.measureSize = [&nested, background](pid_t, WaylandFigures& figures) {
        Region shown;
        waitUntil([&] { return (shown = regionOf(screenPicture(nested), background)).width() >= 700; }, 20000);
        figures.width = shown.width();
        figures.height = shown.height();
    };
    return desktop;
}

// The compositor nested at `scale`; false, and why, where it cannot be.
bool startNestedForBench(NestedCompositor compositor, double scale, NestedDesktop* nested) {
    std::string missing = missingNestedTools(compositor);
    if (!missing.empty()) {
        std::printf("Nested %s: not measured: %s not installed (bench/run.sh installs them)\n", nestedName(compositor),
                    missing.c_str());
        return false;
    }
    std::string why;
    *nested = startNested(compositor, "/tmp/", &why, scale);
    if (!nested->wayland.empty()) return true;
    std::printf("Nested %s: not measured: it did not start: %s\n", nestedName(compositor), why.c_str());
    return false;
}

void measureUnderNestedWeston(int rounds, double seconds) {
    NestedDesktop nested;
    if (!startNestedForBench(NestedCompositor::westonGl, 1, &nested)) return;
    BenchDesktop desktop = nestedBenchDesktop(nested, nested.wayland);
    desktop.name = "weston with its GL renderer, nested in Xvfb";
    desktop.decoratedLoop = true;
    measureOn(desktop, rounds, seconds);
    stopNested(nested);
}

// Under KDE's compositor at scale 1.5, nested in an X server, as laptops
// run it: the viewer drawing at the output's pixels through the fractional
// scale protocol, and drawing at the whole scale above (2) where a proxy
// hides the protocol, as where a compositor offers none.
void measureUnderNestedKwin(int rounds, double seconds) {
    NestedDesktop nested;
    if (!startNestedForBench(NestedCompositor::kwin, 1.5, &nested)) return;
    WaylandSession session;
    session.directory = nested.directory;
    session.socketPath = nested.directory + "/" + nested.wayland;
    WaylandProxy proxy = startWaylandProxy(session, [](WireMessage& message) {
        return !(message.event && isMessage(message, wl_registry_interface, "global") &&
                 message.arguments[1].bytes.c_str() == std::string(wp_fractional_scale_manager_v1_interface.name));
    });
    BenchDesktop fractional = nestedBenchDesktop(nested, nested.wayland);
    BenchDesktop whole = nestedBenchDesktop(nested, proxy.name);
    std::vector<double> fractionalFps, wholeFps, fractionalPixels, wholePixels;
    WaylandFigures shown[2];
    for (int round = 0; round < rounds; ++round)
        for (int turn = 0; turn < 2; ++turn) {
            bool hidden = (round + turn) % 2;
            WaylandFigures& figures = shown[hidden];
            figures = measureWaylandViewer(hidden ? whole : fractional, seconds);
            if (!figures.failure.empty()) {
                std::printf("Nested kwin at 1.5: the viewer %s: %s\n",
                            hidden ? "without the fractional scale protocol" : "", figures.failure.c_str());
                stopWaylandProxy(proxy, session);
                stopNested(nested);
                return;
            }
            (hidden ? wholeFps : fractionalFps).push_back(figures.fps);
            (hidden ? wholePixels : fractionalPixels).push_back(double(figures.pixelsPerFrame));
        }
    stopWaylandProxy(proxy, session);
    stopNested(nested);
    std::printf("| the viewer on kwin at 1.5, nested in Xvfb (%d rounds, %.0f s each) | median | per round |\n", rounds,
                seconds);
    std::printf("|---|---|---|\n");
    auto size = [](const WaylandFigures& figures) {
        return " (shown " + std::to_string(figures.width) + "x" + std::to_string(figures.height) + ")";
    };
    row("fractional scale protocol, frames/s" + size(shown[0]), fractionalFps, "%.1f");
    row("fractional scale protocol, pixels drawn per frame", fractionalPixels, "%.0f");
    row("whole scale only, frames/s" + size(shown[1]), wholeFps, "%.1f");
    row("whole scale only, pixels drawn per frame", wholePixels, "%.0f");
}

void measureUnderWayland(int rounds, double seconds) {
    std::printf("\n");
    measureUnderSway(rounds, seconds);
    std::printf("\n");
    measureUnderNestedWeston(rounds, seconds);
    std::printf("\n");
    measureUnderNestedKwin(rounds, seconds);
}
#endif

int longSpin(const std::string& display, Display* user) {
    const uint64_t frames = 1u << 20;
    Mapped mapped = mapLog("/tmp/viewer-bench-spin.log");
    pid_t viewer = launch(toolDirectory + "/vorandile", mapped, display, {"BENCH_MATRIX_AT=" + std::to_string(frames)});
    if (!waitForWindowNamed(user, "vorandile", 10000)) return 1;
    pressKey(user, XK_Return);
    double started = monotonicSeconds();
    while (!mapped.log->matrixAtReady) {
        sleep(10);
        std::fprintf(stderr, "\r%llu frames", static_cast<unsigned long long>(mapped.log->swaps));
    }
    double took = monotonicSeconds() - started;
    pressKey(user, XK_Escape);
    int status = waitForExit(viewer, 5000);
    const volatile float* m = mapped.log->matrixAtSwap;
    double worst = 0;
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) {
            double dot = 0;
            for (int i = 0; i < 3; ++i) dot += double(m[4 * j + i]) * double(m[4 * k + i]);
            worst = std::max(worst, std::fabs(dot - (j == k ? 1.0 : 0.0)));
        }
    std::printf("\n%llu frames of the real viewer in %.0f s (%.0f frames/s); exit code %d\n",
                static_cast<unsigned long long>(frames), took, double(frames) / took, status);
    std::printf("largest deviation of the model's matrix from orthonormal: %.2e (limit 1e-5)\n", worst);
    return worst < 1e-5 && status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string self = argv[0];
    toolDirectory = self.substr(0, self.rfind('/'));
    bool spin = argc > 1 && std::strcmp(argv[1], "--long-spin") == 0;
    int rounds = 5;
    double seconds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    }
    std::vector<std::string> serverArguments = {"-screen", "0", spin ? "640x480x24" : "1280x1024x24"};
    // The server's smart scheduler lets a busy client (a spinning viewer)
    // keep the server for time slices of 20 ms, which delays everyone
    // else's input; this runs it without.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--dumb-scheduler") == 0) serverArguments.push_back("-dumbSched");
#ifdef VIEWER_BENCH_WAYLAND
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--wayland-only") == 0) {
            measureUnderWayland(rounds, seconds);
            return 0;
        }
#endif
    VirtualServer server = startVirtualServer(serverArguments);
    if (server.display.empty()) {
        std::fprintf(stderr, "viewer-bench: cannot start Xvfb\n");
        return 1;
    }
    Display* user = openUserConnection(server.display);
    if (spin) {
        int result = longSpin(server.display, user);
        stopVirtualServer(server);
        return result;
    }

    std::vector<double> viewerFps, bareFps, glutFps, bareRatio, glutRatio, startup, coldKey, key, keyInProgram,
        keyFrames, bareKey, bareKeyInProgram, frameTime, cpu;
    std::vector<double> peak;
    for (int round = 0; round < rounds; ++round) {
        // Alternate the order, so that no contender always runs first.
        double v = 0, b = 0, g = 0;
        ViewerFigures figures;
        LoopFigures bare;
        for (int turn = 0; turn < 3; ++turn) {
            switch ((round + turn) % 3) {
            case 0: figures = measureViewer(user, server.display, seconds); v = figures.fps; break;
            case 1:
                bare = measureLoop(user, toolDirectory + "/bare-loop", server.display, seconds, true);
                b = bare.fps;
                break;
            case 2: g = measureLoop(user, toolDirectory + "/glut-loop", server.display, seconds, false).fps; break;
            }
        }
        viewerFps.push_back(v);
        bareFps.push_back(b);
        glutFps.push_back(g);
        bareRatio.push_back(b > 0 ? v / b : 0);
        glutRatio.push_back(g > 0 ? v / g : 0);
        startup.push_back(figures.startup * 1000);
        coldKey.push_back(figures.coldKey.fromPress * 1000);
        keyFrames.push_back(figures.keyResponse.frames);
        key.push_back(figures.keyResponse.fromPress * 1000);
        keyInProgram.push_back(figures.keyResponse.fromEvent * 1000);
        bareKey.push_back(bare.keyResponse.fromPress * 1000);
        bareKeyInProgram.push_back(bare.keyResponse.fromEvent * 1000);
        frameTime.push_back(v > 0 ? 1000 / v : 0);
        cpu.push_back(figures.stoppedCpu * 100);
        peak.push_back(double(figures.peakKilobytes) / 1024);
        std::fprintf(stderr, "round %d: viewer %.1f, bare loop %.1f, freeglut %.1f frames/s\n", round + 1, v, b, g);
    }
    stopVirtualServer(server);

    std::printf("| measure (%d rounds, %.0f s each, window 819x819) | median | per round |\n", rounds, seconds);
    std::printf("|---|---|---|\n");
    row("viewer, frames/s", viewerFps, "%.1f");
    row("bare GLX loop, frames/s", bareFps, "%.1f");
    row("freeglut, frames/s", glutFps, "%.1f");
    row("viewer / bare loop", bareRatio, "%.3f");
    row("viewer / freeglut", glutRatio, "%.3f");
    row("CPU while stopped, % of a core", cpu, "%.2f");
    row("notice dismissed to first frame, ms", startup, "%.1f");
    row("first f of a run to first fogged frame (with Mesa's shader compile), ms", coldKey, "%.1f");
    row("f pressed to first fogged frame, ms", key, "%.2f");
    row("the same in the bare loop, ms", bareKey, "%.2f");
    row("f read by the program to first fogged frame, ms", keyInProgram, "%.2f");
    row("the same in the bare loop, ms", bareKeyInProgram, "%.2f");
    row("frames from reading f to the fogged frame", keyFrames, "%.0f");
    row("viewer frame time, ms", frameTime, "%.2f");
    row("viewer peak resident memory, MiB", peak, "%.1f");
#ifdef VIEWER_BENCH_WAYLAND
    measureUnderWayland(rounds, seconds);
#else
    std::printf("\nNative Wayland: not measured: the build found no libpng for the tests' Wayland driver "
                "(bench/run.sh installs it)\n");
#endif
    return 0;
}
