// Screens of several monitors, as desks have them, on an Xorg screen whose
// dummy driver lets RandR lay out monitors at will. The platform's screen
// is the primary monitor: the notice is centred on it, the window stands at
// its corner at 80 percent of its height, a drag still turns the model and
// Esc ends the viewer with 0; with no window manager and under openbox.
#include "viewer_program.h"  // GoogleTest before Xlib
#include "desktop.h"

#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Monitor {
    int x, y, width, height;
    bool primary;
};

struct Layout {
    const char* name;
    int width, height;  // the screen's, holding every monitor
    std::vector<Monitor> monitors;
    const char* manager;  // empty: none
};

const std::vector<Monitor> oneMonitor = {{0, 0, 1920, 1080, true}};
const std::vector<Monitor> twoEqual = {{0, 0, 1920, 1080, false}, {1920, 0, 1920, 1080, true}};
const std::vector<Monitor> mixedPrimaryRight = {{0, 0, 2560, 1440, false}, {2560, 0, 1920, 1080, true}};
const std::vector<Monitor> stacked = {{0, 0, 1920, 1080, false}, {0, 1080, 1920, 1080, true}};
const std::vector<Monitor> nonePrimary = {{0, 0, 1280, 1024, false}, {1280, 0, 1920, 1080, false}};

const Layout layouts[] = {
    {"One", 1920, 1080, oneMonitor, ""},
    {"OneUnderOpenbox", 1920, 1080, oneMonitor, "openbox"},
    {"TwoEqual", 3840, 1080, twoEqual, ""},
    {"TwoEqualUnderOpenbox", 3840, 1080, twoEqual, "openbox"},
    {"MixedPrimaryRight", 4480, 1440, mixedPrimaryRight, ""},
    {"MixedPrimaryRightUnderOpenbox", 4480, 1440, mixedPrimaryRight, "openbox"},
    {"Stacked", 1920, 2160, stacked, ""},
    {"StackedUnderOpenbox", 1920, 2160, stacked, "openbox"},
    {"NonePrimary", 3200, 1080, nonePrimary, ""},
    {"NonePrimaryUnderOpenbox", 3200, 1080, nonePrimary, "openbox"},
};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

bool run(const std::vector<std::string>& command, const std::string& display) {
    return waitForExit(spawnCommand(command, display, "/dev/null"), 20000) == 0;
}

// A mode of any size that the dummy driver takes, at 60 Hz.
std::vector<std::string> modeLine(const std::string& name, int width, int height) {
    int horizontal = width + 160, vertical = height + 40;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%.2f", double(horizontal) * vertical * 60 / 1e6);
    return {"xrandr", "--newmode", name, clock, std::to_string(width), std::to_string(width + 40),
            std::to_string(width + 80), std::to_string(horizontal), std::to_string(height),
            std::to_string(height + 10), std::to_string(height + 20), std::to_string(vertical)};
}

std::string monitorGeometry(const Monitor& monitor) {
    // Sizes in millimetres at 96 dpi.
    return std::to_string(monitor.width) + "/" + std::to_string(monitor.width * 254 / 960) + "x" +
           std::to_string(monitor.height) + "/" + std::to_string(monitor.height * 254 / 960) + "+" +
           std::to_string(monitor.x) + "+" + std::to_string(monitor.y);
}

// The primary as the server lists the monitors, or the first it lists.
bool serversPrimary(Display* display, Monitor* primary) {
    int count = 0;
    XRRMonitorInfo* listed = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    bool found = false;
    for (int i = 0; listed && i < count; ++i) {
        if (found && !listed[i].primary) continue;
        *primary = Monitor{listed[i].x, listed[i].y, listed[i].width, listed[i].height, bool(listed[i].primary)};
        found = true;
        if (listed[i].primary) break;
    }
    if (listed) XRRFreeMonitors(listed);
    return found;
}

// The viewer on a screen of the test's own that xrandr lays out.
class DummyScreenTest : public ViewerProgramTest {
protected:
    VirtualServer startServer() override {
        return startDummyServer(CONFIG_DIRECTORY "/xorg-dummy.conf", testing::TempDir() + "xorg-dummy-" +
                                                                         std::to_string(getpid()) + ".log");
    }
    // Lays the screen out as `monitors`; the names are the monitors'.
    bool layOut(int width, int height, const std::vector<Monitor>& monitors) {
        // Named apart from the driver's own modes, which may have the size.
        std::string mode = "layout-" + std::to_string(width) + "x" + std::to_string(height);
        if (!run(modeLine(mode, width, height), server.display) ||
            !run({"xrandr", "--addmode", "DUMMY0", mode}, server.display) ||
            !run({"xrandr", "--output", "DUMMY0", "--mode", mode}, server.display))
            return false;
        for (size_t i = 0; i < monitors.size(); ++i) {
            // The last names the output, so that the output's own monitor goes.
            std::string name = std::string(monitors[i].primary ? "*" : "") + "M" + std::to_string(i);
            if (!run({"xrandr", "--setmonitor", name, monitorGeometry(monitors[i]),
                      i + 1 == monitors.size() ? "DUMMY0" : "none"},
                     server.display))
                return false;
        }
        return true;
    }
    // The window manager's frame around `client`, or the client itself.
    WindowGeometry outerGeometry(Window client) { return rootGeometry(user, frameOf(user, client)); }
};

class MonitorLayout : public DummyScreenTest, public testing::WithParamInterface<Layout> {};

TEST_P(MonitorLayout, TheScreenIsThePrimaryMonitor) {
    const Layout& layout = GetParam();
    if (getuid() != 0) GTEST_SKIP() << "Xorg's dummy screen needs root";
    ASSERT_TRUE(layOut(layout.width, layout.height, layout.monitors)) << "xrandr could not lay the screen out";
    Monitor primary{};
    ASSERT_TRUE(serversPrimary(user, &primary));
    if (*layout.manager) {
        pid_t manager = startWindowManager(layout.manager, server.display, user, testing::TempDir());
        ASSERT_GT(manager, 0) << "no " << layout.manager;
        helpers.push_back(manager);
    }

    Window notice = startAndWaitForNotice();
    ASSERT_NE(notice, 0u);
    ASSERT_TRUE(waitUntil([&] { return isViewable(user, notice); }, 20000));
    WindowGeometry box{};
    // A manager may place the box before it takes the layer's position.
    EXPECT_TRUE(waitUntil(
        [&] {
            box = outerGeometry(notice);
            return std::abs(box.x + box.width / 2 - (primary.x + primary.width / 2)) <= 2 &&
                   std::abs(box.y + box.height / 2 - (primary.y + primary.height / 2)) <= 2;
        },
        10000))
        << "the notice at " << box.x << "," << box.y << " " << box.width << "x" << box.height << "; the primary at "
        << primary.x << "," << primary.y << " " << primary.width << "x" << primary.height;

    pressKey(user, XK_Return);
    window = waitForWindowNamed(user, "vorandile ", 20000);
    ASSERT_NE(window, 0u);
    int side = primary.height * 8 / 10;
    WindowGeometry outer{};
    EXPECT_TRUE(waitUntil(
        [&] {
            outer = outerGeometry(window);
            return outer.x == primary.x && outer.y == primary.y && std::abs(outer.height - side) <= 1;
        },
        10000))
        << "the window at " << outer.x << "," << outer.y << " " << outer.width << "x" << outer.height
        << "; the primary at " << primary.x << "," << primary.y << ", 80 % of its height " << side;
    std::printf("%s: notice %dx%d at %d,%d; window %dx%d at %d,%d (outer)\n", layout.name, box.width, box.height,
                box.x, box.y, outer.width, outer.height, outer.x, outer.y);

    std::vector<uint32_t> still = stopModel();
    ASSERT_FALSE(still.empty()) << "the model did not stop";
    pressAndDragFromCentre();
    setButton(user, 1, false);
    EXPECT_TRUE(waitUntil([&] { return screen() != still; }, 20000)) << "a drag did not turn the model";
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0) << errorText();
}

INSTANTIATE_TEST_SUITE_P(Layouts, MonitorLayout, testing::ValuesIn(layouts),
                         [](const testing::TestParamInfo<Layout>& row) { return std::string(row.param.name); });

// Monitors change while the viewer runs: one is added and the primary
// taken away. The window keeps its size and goes on drawing.
using MonitorsChanging = DummyScreenTest;

TEST_F(MonitorsChanging, KeepTheWindowsSizeAndItsFrames) {
    if (getuid() != 0) GTEST_SKIP() << "Xorg's dummy screen needs root";
    ASSERT_TRUE(layOut(4480, 1440, mixedPrimaryRight));
    window = start();
    ASSERT_NE(window, 0u);
    WindowGeometry before = geometry();
    ASSERT_TRUE(run({"xrandr", "--setmonitor", "*Added", "1280/339x1024/271+0+0", "none"}, server.display));
    ASSERT_TRUE(run({"xrandr", "--delmonitor", "M1"}, server.display));
    Monitor primary{};
    ASSERT_TRUE(serversPrimary(user, &primary));
    EXPECT_EQ(primary.width, 1280);
    EXPECT_TRUE(keepsChanging()) << "no frames after the change";
    WindowGeometry after = geometry();
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0) << errorText();
}

}  // namespace
