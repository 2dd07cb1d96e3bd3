// Native Wayland compositors started for one test, run headless, and what
// a user does with them. Under sway: keys through wtype, the mouse through
// wayland-pointer, pictures through grim, windows and closing through its
// IPC. Under weston: windows through its scene graph and pictures through
// its screenshooter; it has no seat there, so no input, and no way to ask
// for a window to close.
#pragma once

#include "sway.h"
#include "x_server.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class Compositor { sway, weston };

// A running compositor. `wayland` names its display, a socket in
// `directory`, which clients get as XDG_RUNTIME_DIR; sway's IPC `socket` is
// empty under weston, and so is `display`: there is no XWayland.
struct WaylandSession : SwaySession {
    Compositor compositor = Compositor::sway;
    std::string socketPath;    // directory + "/" + wayland
    int width = 0, height = 0;  // the output in the compositor's coordinates
    int scale = 1;              // pixels of a picture per unit of those
    pid_t keyboard = -1;        // the keyboard the seat has from the start (sway)
};

// The programs a session of this compositor needs that are not installed,
// by name; empty when all are.
std::string missingWaylandTools(Compositor compositor);
// Starts the compositor on a 1280x1024 headless output (at scale 2 it is
// 640x512 in the compositor's coordinates; sway only), with a runtime
// directory made in `parent`, and waits until its display takes this
// process's connections and shows the output, and (sway) its seat has a
// keyboard, as a desktop's has before any program starts. On failure `wayland` is
// empty and `why` says what was last seen.
WaylandSession startWayland(Compositor compositor, const std::string& parent, std::string* why, int scale = 1);
void stopWayland(WaylandSession& session);

// What a client of the session is started with: XDG_RUNTIME_DIR and
// WAYLAND_DISPLAY, and no DISPLAY (spawnCommand with an empty display
// unsets it), so that a program that could use X11 too has to use Wayland.
ChildSetup waylandClientSetup(const WaylandSession& session, const std::string& errorPath = "");
pid_t spawnWaylandClient(const WaylandSession& session, const std::vector<std::string>& command,
                         const std::string& errorPath = "");

// A top-level window as the compositor reports it.
struct ToplevelWindow {
    long id = 0;  // sway's, for [con_id=...] criteria
    long pid = 0;
    std::string title, appId;
    std::string shell;     // "xdg_shell" (or, under sway, "xwayland")
    bool focused = false;  // whether keys go to it; sway only
    WindowGeometry shown{};  // its contents, in the output's coordinates
};
using ToplevelTest = std::function<bool(const ToplevelWindow&)>;
// Every top-level window the compositor has, in no particular order.
std::vector<ToplevelWindow> toplevelWindows(const WaylandSession& session);
// The first window `wanted` takes, now; false when there is none.
bool findToplevel(const WaylandSession& session, const ToplevelTest& wanted, ToplevelWindow* found);
// The same, waiting until there is one, for at most timeoutMs.
bool waitForToplevel(const WaylandSession& session, const ToplevelTest& wanted, ToplevelWindow* found,
                     int timeoutMs = 20000);
// Asks the window to close as the compositor's own close would
// (xdg_toplevel.close); sway only.
bool closeToplevel(const WaylandSession& session, const ToplevelWindow& window, std::string* why);

// Types keys, named as keysyms ("Return", "Escape", "f"), to the window
// that has the keyboard focus; sway only. Returns once they are sent.
bool typeKeys(const WaylandSession& session, const std::vector<std::string>& keysyms, std::string* why);
// Holds the key down for `milliseconds`, then lets it go (sway only).
bool holdKey(const WaylandSession& session, const std::string& keysym, int milliseconds, std::string* why);

// A mouse: the wayland-pointer helper, kept running so that a button can
// stay down between commands; sway only. As sway focuses the window the
// pointer moves onto, a move can change where keys go.
struct VirtualPointer {
    pid_t pid = -1;
    int channel = -1;  // its standard input and output
};
bool openVirtualPointer(const WaylandSession& session, VirtualPointer* pointer, std::string* why);
// "move X Y" (output coordinates), "press" or "release" (the left button);
// returns once the compositor has taken it in.
bool pointerCommand(VirtualPointer& pointer, const std::string& command, std::string* why);
// Ends the helper; a button it holds is released.
void closeVirtualPointer(VirtualPointer& pointer);

// What the output shows, as 0xRRGGBB row by row, at its own pixels (at
// scale 2, twice the compositor's coordinates).
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};
bool takeScreenshot(const WaylandSession& session, Picture* picture, std::string* why);
// The part of a screenshot that shows `area`, given in the output's
// coordinates.
Picture cropPicture(const WaylandSession& session, const Picture& screen, const WindowGeometry& area);
// What a window's contents show now: a screenshot cropped to them.
bool windowPicture(const WaylandSession& session, const ToplevelWindow& window, Picture* picture, std::string* why);
// The pixel at (x, y); {-1, -1, -1} outside the picture, as for a window not there.
Rgb pixelOf(const Picture& picture, int x, int y);
