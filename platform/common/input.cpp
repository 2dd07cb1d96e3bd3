// The platform's rules for input, once for every display system: a back
// end says what happened (a key, a button, the pointer's move, the focus)
// in the window's client pixels, and these turn it into the messages the
// platform sends, in its order.
#include "platform/common/internal.h"

#include <cstdio>

namespace {

// Client coordinates packed as the platform packs them: 16 bits each, so
// positions left of or above a capturing window arrive negative.
LPARAM pointLParam(int x, int y) { return MAKELPARAM(WORD(x & 0xffff), WORD(y & 0xffff)); }

// A mouse message's wParam: the buttons and modifiers held.
WPARAM heldKeys(HeldModifiers modifiers) {
    return platform.buttonsHeld | (modifiers.shift ? MK_SHIFT : 0) | (modifiers.control ? MK_CONTROL : 0);
}

}  // namespace

void inputPointerMoved(HWND window, int x, int y, POINT onScreen, HeldModifiers modifiers, unsigned keyState) {
    notePointer(onScreen);
    queueInput(window, WM_MOUSEMOVE, heldKeys(modifiers), pointLParam(x, y), keyState);
}

void inputPointerGone() { platform.buttonsHeld = 0; }

void inputButton(HWND window, MouseButton button, bool press, int x, int y, POINT onScreen, HeldModifiers modifiers,
                 unsigned keyState) {
    static const struct {
        UINT down, up;
        WPARAM bit;
    } messages[] = {{WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON},
                    {WM_MBUTTONDOWN, WM_MBUTTONUP, MK_MBUTTON},
                    {WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON}};
    const auto& which = messages[int(button)];
    // The message carries the buttons as they are after it.
    platform.buttonsHeld = press ? platform.buttonsHeld | which.bit : platform.buttonsHeld & ~which.bit;
    WPARAM keys = heldKeys(modifiers);
    notePointer(onScreen);
    queueInput(window, press ? which.down : which.up, keys, pointLParam(x, y), keyState);
}

// A held key gives one press, repeats marked as such, and one release, as
// the platform's keyboard does.
void inputKey(HWND window, uint32_t symbol, unsigned scanCode, bool release, unsigned keyState) {
    size_t held = scanCode & 0xff;
    bool repeated = !release && platform.keysHeld[held];
    platform.keysHeld[held] = !release;
    queueInput(window, release ? WM_KEYUP : WM_KEYDOWN, virtualKeyForSymbol(symbol),
               keyLParamFor(scanCode, release, repeated), keyState);
}

void inputWindowSize(HWND window, int width, int height, WindowSizeState state) {
    bool wasMinimized = window->minimized;
    bool resized = width != window->clientWidth || height != window->clientHeight;
    // Kept while minimized too, for when the window comes back.
    window->clientWidth = width;
    window->clientHeight = height;
    window->minimized = state == WindowSizeState::minimized;
    window->maximized = state == WindowSizeState::maximized;
    if (window->minimized) {
        if (!wasMinimized && window->shownBefore) sendToWindow(window, WM_SIZE, SIZE_MINIMIZED, 0);
        return;
    }
    // Restored, a window is painted again, whether or not the display
    // system kept its pixels (a compositing manager keeps a minimized window).
    if ((resized && (window->classStyle & (CS_HREDRAW | CS_VREDRAW))) || wasMinimized) window->needsPaint = true;
    if (window->shownBefore)
        sendToWindow(window, WM_SIZE, window->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED, MAKELPARAM(width, height));
}

void inputWindowPosition(HWND window, int x, int y) {
    if (x == window->clientX && y == window->clientY) return;
    window->clientX = x;
    window->clientY = y;
    sendToWindow(window, WM_MOVE, 0, pointLParam(x, y));
}

void inputWindowCloseRequest(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

void inputWindowDamage(HWND window) { window->needsPaint = true; }

void inputWindowDestroyed(HWND window) {
    std::fprintf(stderr, "%s: the window \"%s\" was destroyed by another client\n", program_invocation_short_name,
                 window->title.c_str());
    platform.queueBroken = true;
    DestroyWindow(window);
}

void inputFocus(HWND window, bool focused) {
    // Told on a change only, as the platform tells it.
    if (window->focused == focused) return;
    window->focused = focused;
    if (!focused) {
        // Keys released elsewhere are not held when the focus comes back.
        platform.keysHeld.reset();
        sendToWindow(window, WM_KILLFOCUS, 0, 0);
        return;
    }
    // The platform offers the palette first, then the focus.
    sendToWindow(window, WM_QUERYNEWPALETTE, 0, 0);
    if (isLiveWindow(window)) sendToWindow(window, WM_SETFOCUS, 0, 0);
}
