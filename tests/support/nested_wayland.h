// The compositors of the mainstream Wayland desktops, each nested in an X
// server of its own with its X11 back end, as the test's user: GNOME's
// (mutter), KDE's (kwin_wayland) and weston with its GL renderer. The user's
// keys and mouse reach the compositor's seat through XTEST on that server,
// and its screen is the compositor's output, so a picture of the screen is
// what the compositor draws. None of them says where it put a window: tests
// find windows by what they show.
#pragma once

#include "wayland.h"
#include "x_server.h"
#include "x_user.h"

#include <X11/Xlib.h>

#include <string>
#include <vector>

enum class NestedCompositor { mutter, kwin, westonGl };
const char* nestedName(NestedCompositor compositor);

struct NestedDesktop {
    NestedCompositor compositor = NestedCompositor::mutter;
    VirtualServer x;           // the server the compositor's output fills
    Display* user = nullptr;   // the test's own connection to it
    pid_t pid = -1;            // the compositor
    pid_t bus = -1;            // its session bus, where it wants one
    std::string directory;     // the runtime directory clients share
    std::string wayland;       // the display's name, a socket in `directory`
    int width = 1280, height = 1024;  // the output, in logical units
    double scale = 1;  // the output's pixels per logical unit (kwin only)
    int pixelsWide() const { return int(width * scale + 0.5); }
    int pixelsHigh() const { return int(height * scale + 0.5); }
};

// The programs this compositor needs that are not installed; empty when all are.
std::string missingNestedTools(NestedCompositor compositor);
// Starts the server and the compositor on it with a 1280x1024 output (of
// `scale` times as many pixels: kwin takes fractional scales) and waits
// until its display offers a seat and an output to clients of this
// process. On failure `wayland` is empty and `why` says what was last seen.
NestedDesktop startNested(NestedCompositor compositor, const std::string& parent, std::string* why,
                          double scale = 1);
void stopNested(NestedDesktop& desktop);
// A native client of the compositor: XDG_RUNTIME_DIR and WAYLAND_DISPLAY set,
// DISPLAY unset, so that a program that could use X11 has to use Wayland.
pid_t spawnNestedClient(const NestedDesktop& desktop, const std::vector<std::string>& command,
                        const std::string& errorPath, const std::vector<std::string>& environment = {});

// The compositor's output as it shows now.
Picture screenPicture(const NestedDesktop& desktop);
// Where a colour shows: the bounding box of the pixels within `tolerance`
// of it, and how many they are (0: nowhere).
struct Region {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    long count = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};
Region regionOf(const Picture& picture, Rgb colour, int tolerance = 2);
Picture cropTo(const Picture& picture, const Region& region);

// Keys pressed together, in order, and released in reverse (XK_ keysyms).
void pressChord(const NestedDesktop& desktop, const std::vector<unsigned long>& keysyms);
