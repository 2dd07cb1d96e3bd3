// The platform's screen on X11 is the primary monitor, as RandR lists the
// monitors: its size is the screen's metrics, and its top-left corner is
// the origin of the program's coordinates, other monitors lying where they
// lie from it, at negative coordinates too.
#include "platform/x11/internal.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace {

// More monitors than any desk has are another client's doing.
const size_t largestMonitorCount = 16;

ScreenArea wholeRoot() {
    Display* display = x11Display();
    PixelSize size = boundedPixelSize(DisplayWidth(display, x11Screen()), DisplayHeight(display, x11Screen()));
    return ScreenArea{0, 0, size.width, size.height};
}

// The primary first; where none is, the one RandR lists first. Without
// RandR's monitors, the whole screen.
std::vector<ScreenArea> listMonitors() {
    std::vector<ScreenArea> monitors;
    if (x11.randrEventBase >= 0) {
        int count = 0;
        XRRMonitorInfo* listed = XRRGetMonitors(x11Display(), x11Root(), True, &count);
        for (int i = 0; listed && i < count && monitors.size() < largestMonitorCount; ++i) {
            if (listed[i].width <= 0 || listed[i].height <= 0) continue;
            PixelSize size = boundedPixelSize(listed[i].width, listed[i].height);
            ScreenArea area{listed[i].x, listed[i].y, size.width, size.height};
            if (listed[i].primary)
                monitors.insert(monitors.begin(), area);
            else
                monitors.push_back(area);
        }
        if (listed) XRRFreeMonitors(listed);
    }
    if (monitors.empty()) monitors.push_back(wholeRoot());
    return monitors;
}

bool contains(const ScreenArea& area, int x, int y) {
    return x >= area.x && y >= area.y && x < area.x + area.width && y < area.y + area.height;
}

}  // namespace

void x11WatchMonitors() {
    Display* display = x11Display();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    // Monitors came with RandR 1.5.
    if (XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || minor >= 5)) {
        x11.randrEventBase = eventBase;
        XRRSelectInput(display, x11Root(), RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    x11.monitors = listMonitors();
}

bool x11IsMonitorEvent(const XEvent& event) {
    return x11.randrEventBase >= 0 && event.type >= x11.randrEventBase &&
           event.type <= x11.randrEventBase + RRNotify;
}

void x11ReadMonitors() {
    x11.monitorsChanged = false;
    ScreenArea before = x11.monitors.front();
    x11.monitors = listMonitors();
    const ScreenArea& primary = x11.monitors.front();
    if (primary.x == before.x && primary.y == before.y) return;
    // The program's coordinates follow the primary's corner: every window
    // now stands elsewhere in them, where the server keeps it.
    for (HWND window : std::vector<HWND>(liveWindows())) {
        if (!isLiveWindow(window) || !x11Of(window)) continue;
        inputWindowPosition(window, window->clientX + before.x - primary.x, window->clientY + before.y - primary.y);
    }
}

const ScreenArea& x11PrimaryMonitor() { return x11.monitors.front(); }

ScreenArea x11MonitorAt(int rootX, int rootY) {
    for (const ScreenArea& area : x11.monitors)
        if (contains(area, rootX, rootY)) return area;
    return x11PrimaryMonitor();
}

POINT x11FromRoot(int rootX, int rootY) {
    const ScreenArea& primary = x11PrimaryMonitor();
    return POINT{rootX - primary.x, rootY - primary.y};
}

POINT x11ToRoot(int x, int y) {
    const ScreenArea& primary = x11PrimaryMonitor();
    return POINT{x + primary.x, y + primary.y};
}

ScreenSize x11ScreenSize() {
    const ScreenArea& primary = x11PrimaryMonitor();
    return ScreenSize{primary.width, primary.height};
}
