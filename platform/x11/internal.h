// What the files of the X11 layer share: the structs behind the handles,
// the X connection and the few entry points one area needs from another.
#pragma once

#include "platform/win32.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <GL/glx.h>

#include <string>
#include <vector>

struct HPALETTE__ {
    std::vector<PALETTEENTRY> entries;
    bool realized = false;
};

// With CS_OWNDC every window has exactly one device context for its life.
struct HDC__ {
    HWND window = nullptr;
    HPALETTE palette = nullptr;
    bool paletteInForeground = false;
};

struct HGLRC__ {
    GLXContext context = nullptr;
    int pixelFormat = 0;
};

struct WindowTimer {
    UINT_PTR id;
    UINT periodMs;
    int64_t dueMs;
    TIMERPROC proc;
};

struct HWND__ {
    Window xid = 0;
    Colormap colormap = 0;   // owned by the window when not the screen default
    bool colormapWritable = false;
    WNDPROC windowProc = nullptr;
    UINT classStyle = 0;
    Cursor cursor = 0;
    std::string className;
    std::string title;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int pixelFormat = 0;
    bool visible = false;
    bool needsPaint = false;
    bool focused = false;
    bool destroying = false;
    bool destroyedElsewhere = false;  // another client destroyed the X window
    HDC__ deviceContext;
    std::vector<WindowTimer> timers;
};

// The X connection, opened on first use. Exits with a message when no
// display can be opened: the program cannot do anything without one.
Display* x11Display();
int x11Screen();
Atom x11Atom(const char* name);
int64_t x11NowMs();

// Windows of the layer, found by their X id; null for foreign windows.
HWND x11FindWindow(Window xid);
bool x11IsLiveWindow(HWND window);
const std::vector<HWND>& x11Windows();

// Creates (or re-creates, keeping the handle) the X window of `window` on the
// given visual. Used by window creation and by SetPixelFormat.
void x11CreateNativeWindow(HWND window, const XVisualInfo* visual);

// Reads every X event that has arrived and turns it into messages.
void x11ProcessEvents();
// Sends a message straight to a window procedure, as SendMessageA does.
LRESULT x11Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Forgets queued messages and timers of a window that is going away.
void x11ForgetWindow(HWND window);

// Pixel formats are the screen's visuals, numbered from 1.
int x11PixelFormatCount();
const XVisualInfo* x11PixelFormatVisual(int format);
bool x11VisualHasWritableColormap(const XVisualInfo* visual);

