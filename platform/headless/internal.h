// The headless display's state: one record, reset when the layer ends.
#pragma once

#include "platform/headless/headless.h"

#include <EGL/egl.h>

#include <deque>
#include <mutex>

struct HeadlessWindow {
    // OpenGL draws into a buffer of the window's size, read back at each swap.
    EGLSurface surface = EGL_NO_SURFACE;
    int surfaceWidth = 0, surfaceHeight = 0;
    HeadlessPicture picture;
    int framesShown = 0;
};
inline HeadlessWindow* headlessOf(HWND window) { return static_cast<HeadlessWindow*>(window->backendWindow); }

// What the test played, as a display system's events: read in order.
struct HeadlessEvent {
    enum class Kind { pointer, button, key, resize, move, closeRequest, uncover, focus, destroy };
    Kind kind = Kind::pointer;
    HWND window = nullptr;  // for the desktop's doings
    int x = 0, y = 0;       // a position, or a size
    uint32_t symbol = 0;
    unsigned code = 0;  // a scan code, or a mouse button
    bool on = false;    // pressed, focused
    HeldModifiers modifiers;
    WindowSizeState state = WindowSizeState::restored;
};

struct HeadlessState {
    ScreenSize screen{1280, 1024};
    // Filled by the test, perhaps from another thread; `wake` tells a
    // waiting program that something came.
    std::mutex lock;
    std::deque<HeadlessEvent> events;
    int wake = -1;
    // The display's own view of input: where the pointer is, the window a
    // held button keeps, the one with the focus.
    POINT pointer{0, 0};
    HWND buttonWindow = nullptr;
    unsigned buttonsDown = 0;  // a bit for each MouseButton
    HWND focus = nullptr;
    HeldModifiers modifiers;

    EGLDisplay egl = EGL_NO_DISPLAY;
    std::vector<EGLConfig> configs;  // by pixel format, from 1
    std::function<void(const HeadlessBox&)> boxPainted;
};
extern HeadlessState& headless;

void headlessPlay(const HeadlessEvent& event);
// The test's events that the box's loop takes (pointer, buttons, keys, a
// close request without a window); others wait for the program's queue.
bool headlessTakeBoxEvent(HeadlessEvent* event);
// Waits until the test plays something new, or for `timeoutMs` (-1: no end).
void headlessWaitForNewEvents(int timeoutMs);

std::vector<ListedPixelFormat> headlessListPixelFormats();
void headlessSetPixelFormat(HWND window, int format);
void headlessSwapBuffers(HWND window);
bool headlessCreateContext(HGLRC context, HWND window);
bool headlessMakeCurrent(HWND window, HGLRC context);
void headlessDeleteContext(HGLRC context);
void headlessReleaseSurface(HWND window);
void headlessEndOpenGl();
std::unique_ptr<BoxWindow> headlessMessageBoxWindow(HWND owner, const char* text, const char* caption);
