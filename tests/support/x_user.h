// The user's side of the X server: a connection of its own that finds
// windows, reads what they show and sends real input through XTEST.
#pragma once

#include "packaging/png.h"

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rgb {
    int red, green, blue;
};

struct WindowGeometry {
    int x, y, width, height;
};

Display* openUserConnection(const std::string& display = "");

// Polls `condition` until it holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// Top-level windows whose WM_NAME is exactly `name`.
std::vector<Window> windowsNamed(Display* display, const std::string& name);
Window waitForWindowNamed(Display* display, const std::string& name, int timeoutMs);
std::string textProperty(Display* display, Window window, const char* property);
// The items of a 32-bit property of this type, as Xlib hands them out (longs,
// sign-extended); none when it is not set. `more` is set where it has more.
std::vector<long> property32(Display* display, Window window, const char* property, Atom type, long maximumItems,
                             bool* more = nullptr);
bool isViewable(Display* display, Window window);
// Sends the client of `window` a _NET_WM_PING, as a window manager does, and
// waits for its answer on the root window. A client reads its events in
// order, so an answer says it has taken in every event the server delivered
// to it before, among them what this connection's requests caused.
bool answersPing(Display* display, Window window, int timeoutMs);
// Whether what the window shows differs, within the time, from `before`
// where given, else from what it shows now.
bool pictureChanges(Display* display, Window window, int timeoutMs, const std::vector<uint32_t>* before = nullptr);
WindowGeometry rootGeometry(Display* display, Window window);

void pressKey(Display* display, unsigned long keysym, bool withShift = false);
// Presses the key down, or lets it go.
void setKey(Display* display, unsigned long keysym, bool down);
void movePointer(Display* display, int rootX, int rootY);
void setButton(Display* display, unsigned button, bool down);
void clickAt(Display* display, int rootX, int rootY);
void requestClose(Display* display, Window window);

Rgb pixelAt(Display* display, Window window, int x, int y);
// The window's contents as 0xRRGGBB values, row by row.
std::vector<uint32_t> captureWindow(Display* display, Window window, int* width, int* height);
bool closeTo(Rgb colour, Rgb expected, int tolerance = 2);
Rgb rgbOf(float red, float green, float blue);

