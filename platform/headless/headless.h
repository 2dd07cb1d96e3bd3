// A display system of the layer's own that shows nothing and opens no
// connection: for tests of the platform's rules without a server. A test
// chooses it before the layer's first call, plays the user and the desktop
// through the functions below, and reads what the program drew. What it
// plays is reported to the common part as any back end reports its
// display system's events: at the program's next read of them.
#pragma once

#include "platform/common/message_box.h"

#include <cstdint>
#include <functional>
#include <vector>

// Makes the layer run on the headless display, with a screen of this size,
// until terminateLayer(); false when another back end runs already.
bool useHeadlessDisplay(int screenWidth = 1280, int screenHeight = 1024);

// The user's input, at the next read of events. Pointer positions are on
// the screen: the window under the pointer, or the one holding the capture,
// gets them. Keys go to the window with the focus (the last one shown).
void headlessPointerTo(int x, int y);
void headlessButton(MouseButton button, bool press);
// A key by its symbol (X11's and xkbcommon's numbering; ASCII for letters
// and digits, upper case with Shift) and the keyboard's scan code; each
// further press while held is a repeat, as a keyboard's auto-repeat sends it.
void headlessKey(uint32_t symbol, unsigned scanCode, bool press, HeldModifiers modifiers = {});

// The desktop's doings: a window manager's or compositor's.
void headlessResize(HWND window, int width, int height, WindowSizeState state = WindowSizeState::restored);
void headlessMove(HWND window, int x, int y);
// The user closes the window (a null window: the open message box).
void headlessCloseRequest(HWND window);
void headlessUncover(HWND window);
void headlessFocus(HWND window, bool focused);
// Another client takes the window away.
void headlessDestroy(HWND window);

// What was drawn. Pixels are 0xAARRGGBB, rows from the top.
struct HeadlessPicture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};
// The window's last frame shown by SwapBuffers; empty before the first.
HeadlessPicture headlessWindowPicture(HWND window);
// How many frames the window has shown.
int headlessFramesShown(HWND window);

// A message box as the headless display shows it: its layout and its last
// picture. `whenBoxPainted` runs each time a box is painted, inside the
// box's loop, so that a test can look at it and play the user's answer.
struct HeadlessBox {
    BoxLayout layout;
    HeadlessPicture picture;
    int x = 0, y = 0;  // the box's top left on the screen
};
void whenBoxPainted(std::function<void(const HeadlessBox&)> look);
