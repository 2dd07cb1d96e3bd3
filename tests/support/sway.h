// A headless sway, a tiling Wayland compositor, started for one test and
// asked through its IPC socket (swaymsg) where it shows a window: with
// XWayland for X11 clients, or for native Wayland clients alone.
#pragma once

#include "x_user.h"

#include <string>
#include <sys/types.h>

struct SwaySession {
    pid_t pid = -1;
    std::string directory;  // its runtime directory: IPC socket, config, log
    std::string socket;     // the IPC socket swaymsg talks to
    std::string display;    // XWayland's, ":N"; empty when it did not start
    std::string wayland;    // its Wayland display's name, a socket in `directory`
};

struct SwayOptions {
    bool xwayland = true;     // and wait until XWayland lets this process's user in
    int scale = 1;            // of the 1280x1024 output
    std::string extraConfig;  // lines for sway's configuration
};

// Whether sway, swaymsg and Xwayland are installed.
bool swayInstalled();
// Starts sway on a 1280x1024 headless output, with a runtime directory made
// in `parent`, and waits until its displays take this process's
// connections; on failure the Wayland display (and XWayland's, if asked
// for) is empty and `why` says what was last seen.
SwaySession startSway(const std::string& parent, std::string* why, const SwayOptions& options = {});
void stopSway(SwaySession& sway);

// Runs swaymsg with these (shell-quoted) arguments; its standard output, and
// whether it succeeded.
bool swayMessage(const SwaySession& sway, const std::string& arguments, std::string* output);

// The node of sway's tree that holds an X window, and where sway shows the
// window's contents, in the output's coordinates (its "rect" moved by its
// "window_rect").
struct SwayWindow {
    long id = 0;  // for [con_id=...] criteria
    bool fullscreen = false;
    WindowGeometry shown{};
};
bool findSwayWindow(const SwaySession& sway, unsigned long xWindow, SwayWindow* found);
