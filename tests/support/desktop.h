// Real desktops for tests: window managers and a compositing manager from
// the distribution, started on a private server, and the requests a user
// makes through them, sent as pagers and task bars send them (EWMH).
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <sys/types.h>

// Starts the named window manager ("openbox", "i3", "jwm", "mutter") with a private
// home in `home` and waits until it has taken over the screen and, unless
// told not to, answers requests; -1 if it could not be started or was not
// ready in time.
pid_t startWindowManager(const std::string& name, const std::string& display, Display* user,
                         const std::string& home, bool untilReady = true);
// Whether the manager takes a newly mapped window in (gives it WM_STATE)
// within the time: it then handles map requests, which one still starting
// up may drop.
bool managesNewWindows(Display* user, int timeoutMs);
// Starts xcompmgr and waits until it composites the screen; -1 otherwise.
pid_t startCompositor(const std::string& display, Display* user);

// What the user asks of a window through the manager.
void setWindowState(Display* display, Window window, bool add, const char* state, const char* second = nullptr);
void minimizeWindow(Display* display, Window window);
void activateWindow(Display* display, Window window);
void closeWindow(Display* display, Window window);  // the frame's close button

// Whether the manager lists `state` (as "_NET_WM_STATE_FULLSCREEN") in the
// window's _NET_WM_STATE.
bool inWindowState(Display* display, Window window, const char* state);
// ICCCM's WM_STATE: 1 normal, 3 iconic, 0 withdrawn or not set.
long windowState(Display* display, Window window);
struct Extents {
    int left, right, top, bottom;
};
bool frameExtents(Display* display, Window window, Extents* extents);
Window activeWindow(Display* display);
// The top-level window that holds `window`: the manager's frame, or itself.
Window frameOf(Display* display, Window window);
