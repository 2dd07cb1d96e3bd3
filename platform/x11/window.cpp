// Window classes, windows, device contexts, painting and mouse capture.
#include "platform/x11/internal.h"

#include <X11/Xatom.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <strings.h>

struct HICON__ {
    int resource;
};
struct HCURSOR__ {
    unsigned shape;
};

namespace {

struct WindowClass {
    std::string name;
    UINT style;
    WNDPROC windowProc;
    HCURSOR cursor;
};

// Registries live as long as the process: never destroyed, so that what they
// hold stays reachable to the end.
std::vector<WindowClass>& windowClasses = *new std::vector<WindowClass>;
std::vector<HWND>& liveWindows = *new std::vector<HWND>;
HWND captureWindow = nullptr;

HICON__ applicationIcon{32512};
HCURSOR__ arrowCursor{XC_left_ptr};

const WindowClass* findClass(LPCSTR name) {
    if (!name) return nullptr;
    for (const WindowClass& windowClass : windowClasses)
        if (strcasecmp(windowClass.name.c_str(), name) == 0) return &windowClass;
    return nullptr;
}

void setTitle(HWND window) {
    Display* display = x11Display();
    XStoreName(display, window->xid, window->title.c_str());
    XChangeProperty(display, window->xid, x11Atom("_NET_WM_NAME"), x11Atom("UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(window->title.data()),
                    int(window->title.size()));
}

// Tells a window manager where the program placed the window and how big it is.
void setPlacementHints(HWND window) {
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = USPosition | USSize;
    hints->x = window->x;
    hints->y = window->y;
    hints->width = window->width;
    hints->height = window->height;
    XSetWMNormalHints(x11Display(), window->xid, hints);
    XFree(hints);
}

void releaseColormap(HWND window) {
    if (window->colormap && window->colormap != DefaultColormap(x11Display(), x11Screen()))
        XFreeColormap(x11Display(), window->colormap);
    window->colormap = 0;
    window->colormapWritable = false;
}

// A DirectColor visual is a true-colour visual whose ramps are writable:
// fill each channel's ramp linearly, so that pixel values mean what their
// bit layout says.
void fillLinearRamps(Colormap colormap, const XVisualInfo* visual) {
    const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    const char flags[3] = {DoRed, DoGreen, DoBlue};
    for (int channel = 0; channel < 3; ++channel) {
        unsigned long mask = masks[channel];
        if (!mask) continue;
        int shift = __builtin_ctzl(mask);
        int levels = int(mask >> shift) + 1;
        std::vector<XColor> ramp(static_cast<size_t>(levels));
        for (int i = 0; i < levels; ++i) {
            XColor& colour = ramp[size_t(i)];
            colour.pixel = static_cast<unsigned long>(i) << shift;
            colour.red = colour.green = colour.blue =
                static_cast<unsigned short>(levels > 1 ? i * 65535 / (levels - 1) : 65535);
            colour.flags = flags[channel];
        }
        XStoreColors(x11Display(), colormap, ramp.data(), levels);
    }
}

bool waitForMapNotify(Window xid, int timeoutMs) {
    Display* display = x11Display();
    int64_t deadline = x11NowMs() + timeoutMs;
    XEvent event;
    for (;;) {
        if (XCheckTypedWindowEvent(display, xid, MapNotify, &event)) return true;
        int64_t left = deadline - x11NowMs();
        if (left <= 0) return false;
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        XFlush(display);
        poll(&descriptor, 1, int(std::min<int64_t>(left, 50)));
    }
}

void activate(HWND window) {
    Display* display = x11Display();
    XRaiseWindow(display, window->xid);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window->xid, &attributes) && attributes.map_state == IsViewable)
        XSetInputFocus(display, window->xid, RevertToParent, CurrentTime);
}

}  // namespace

const std::vector<HWND>& x11Windows() { return liveWindows; }

HWND x11FindWindow(Window xid) {
    for (HWND window : liveWindows)
        if (window->xid == xid) return window;
    return nullptr;
}

bool x11IsLiveWindow(HWND window) {
    return window && std::find(liveWindows.begin(), liveWindows.end(), window) != liveWindows.end();
}

void x11CreateNativeWindow(HWND window, const XVisualInfo* visual) {
    Display* display = x11Display();
    int screen = x11Screen();
    Window root = RootWindow(display, screen);
    if (window->xid) {
        XDestroyWindow(display, window->xid);
        releaseColormap(window);
    }

    XSetWindowAttributes attributes{};
    unsigned long mask = CWEventMask | CWBackPixmap | CWBorderPixel;
    attributes.background_pixmap = None;  // no background brush: nothing is erased
    attributes.border_pixel = 0;
    attributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask |
                            ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            FocusChangeMask | ColormapChangeMask;
    Visual* xvisual = DefaultVisual(display, screen);
    int depth = DefaultDepth(display, screen);
    if (visual) {
        xvisual = visual->visual;
        depth = visual->depth;
        window->colormapWritable = x11VisualHasWritableColormap(visual);
        bool allocateAll = window->colormapWritable || visual->c_class == DirectColor;
        window->colormap = XCreateColormap(display, root, xvisual, allocateAll ? AllocAll : AllocNone);
        if (visual->c_class == DirectColor) fillLinearRamps(window->colormap, visual);
    } else {
        window->colormap = DefaultColormap(display, screen);
    }
    attributes.colormap = window->colormap;
    mask |= CWColormap;
    if (window->cursor) {
        attributes.cursor = window->cursor;
        mask |= CWCursor;
    }

    window->xid = XCreateWindow(display, root, window->x, window->y, unsigned(std::max(window->width, 1)),
                                unsigned(std::max(window->height, 1)), 0, depth, InputOutput, xvisual,
                                mask, &attributes);
    setTitle(window);
    setPlacementHints(window);

    XClassHint classHint;
    std::string resourceName = program_invocation_short_name;
    classHint.res_name = resourceName.data();
    classHint.res_class = window->className.data();
    XSetClassHint(display, window->xid, &classHint);

    XWMHints* hints = XAllocWMHints();
    hints->flags = InputHint | StateHint;
    hints->input = True;
    hints->initial_state = NormalState;
    XSetWMHints(display, window->xid, hints);
    XFree(hints);

    Atom protocols[] = {x11Atom("WM_DELETE_WINDOW")};
    XSetWMProtocols(display, window->xid, protocols, 1);
    if (window->visible) XMapWindow(display, window->xid);
    XFlush(display);
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
    if (findClass(windowClass->lpszClassName)) return 0;
    windowClasses.push_back(
        {windowClass->lpszClassName, windowClass->style, windowClass->lpfnWndProc, windowClass->hCursor});
    return ATOM(0xC000 + windowClasses.size());
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    return !instance && name == IDI_APPLICATION ? &applicationIcon : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    return !instance && name == IDC_ARROW ? &arrowCursor : nullptr;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
    const WindowClass* windowClass = findClass(className);
    if (!windowClass || width < 0 || height < 0) return nullptr;
    Display* display = x11Display();

    HWND window = new HWND__;
    window->windowProc = windowClass->windowProc;
    window->classStyle = windowClass->style;
    window->className = windowClass->name;
    window->title = windowName ? windowName : "";
    window->style = style;
    window->x = x;
    window->y = y;
    window->width = width;
    window->height = height;
    window->deviceContext.window = window;
    if (windowClass->cursor) window->cursor = XCreateFontCursor(display, windowClass->cursor->shape);
    x11CreateNativeWindow(window, nullptr);
    liveWindows.push_back(window);

    if (x11Send(window, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(window, SW_SHOW);
    return window;
}

BOOL WINAPI IsWindow(HWND window) { return x11IsLiveWindow(window); }

BOOL WINAPI DestroyWindow(HWND window) {
    if (!x11IsLiveWindow(window) || window->destroying) return FALSE;
    window->destroying = true;
    Display* display = x11Display();
    if (captureWindow == window) ReleaseCapture();
    if (window->visible && !window->destroyedElsewhere) XUnmapWindow(display, window->xid);
    window->visible = false;
    x11Send(window, WM_DESTROY, 0, 0);
    x11ForgetWindow(window);
    liveWindows.erase(std::find(liveWindows.begin(), liveWindows.end(), window));
    if (!window->destroyedElsewhere) XDestroyWindow(display, window->xid);
    releaseColormap(window);
    if (window->cursor) XFreeCursor(display, window->cursor);
    XFlush(display);
    delete window;
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    if (!x11IsLiveWindow(window)) return FALSE;
    Display* display = x11Display();
    BOOL wasVisible = window->visible;
    if (command == SW_HIDE) {
        if (wasVisible) XUnmapWindow(display, window->xid);
        window->visible = false;
        XFlush(display);
        return wasVisible;
    }
    if (!wasVisible) {
        window->visible = true;
        window->needsPaint = true;
        XMapWindow(display, window->xid);
        // Showing activates: wait until the server has mapped the window so
        // that it can take the focus and its first frame is not discarded.
        if (waitForMapNotify(window->xid, 1000)) activate(window);
    }
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    if (!x11IsLiveWindow(window)) return FALSE;
    if (window->visible && window->needsPaint) x11Send(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
    if (!x11IsLiveWindow(window)) return FALSE;
    Display* display = x11Display();
    bool move = !(flags & SWP_NOMOVE) && (x != window->x || y != window->y);
    bool resize = !(flags & SWP_NOSIZE) && (width != window->width || height != window->height);
    if (move) {
        window->x = x;
        window->y = y;
        XMoveWindow(display, window->xid, x, y);
    }
    if (resize) {
        window->width = std::max(width, 0);
        window->height = std::max(height, 0);
        XResizeWindow(display, window->xid, unsigned(std::max(width, 1)), unsigned(std::max(height, 1)));
        if (window->classStyle & (CS_HREDRAW | CS_VREDRAW)) window->needsPaint = true;
    }
    if (!(flags & SWP_NOZORDER) && window->visible) XRaiseWindow(display, window->xid);
    if (!(flags & SWP_NOACTIVATE) && window->visible) activate(window);
    XFlush(display);
    if (move) x11Send(window, WM_MOVE, 0, MAKELPARAM(window->x, window->y));
    if (resize) x11Send(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(window->width, window->height));
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
    if (!x11IsLiveWindow(window) || !rect) return FALSE;
    *rect = RECT{0, 0, window->width, window->height};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, RECT* rect) {
    if (!x11IsLiveWindow(window) || !rect) return FALSE;
    Display* display = x11Display();
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(display, window->xid, RootWindow(display, x11Screen()), 0, 0, &rootX, &rootY, &child);
    *rect = RECT{rootX, rootY, rootX + window->width, rootY + window->height};
    return TRUE;
}

HDC WINAPI GetDC(HWND window) { return x11IsLiveWindow(window) ? &window->deviceContext : nullptr; }

int WINAPI ReleaseDC(HWND window, HDC dc) { return x11IsLiveWindow(window) && dc == &window->deviceContext; }

HWND WINAPI WindowFromDC(HDC dc) { return dc && x11IsLiveWindow(dc->window) ? dc->window : nullptr; }

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    if (!x11IsLiveWindow(window) || !paint) return nullptr;
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = &window->deviceContext;
    paint->rcPaint = RECT{0, 0, window->width, window->height};
    window->needsPaint = false;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT*) { return x11IsLiveWindow(window); }

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!window) {
        for (HWND each : liveWindows) each->needsPaint = true;
        return TRUE;
    }
    if (!x11IsLiveWindow(window)) return FALSE;
    window->needsPaint = true;
    return TRUE;
}

HWND WINAPI SetCapture(HWND window) {
    HWND previous = captureWindow;
    if (!x11IsLiveWindow(window)) return previous;
    Display* display = x11Display();
    XGrabPointer(display, window->xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    XFlush(display);
    captureWindow = window;
    return previous;
}

BOOL WINAPI ReleaseCapture(void) {
    if (captureWindow) {
        XUngrabPointer(x11Display(), CurrentTime);
        XFlush(x11Display());
        captureWindow = nullptr;
    }
    return TRUE;
}

HWND WINAPI GetCapture(void) { return captureWindow; }

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    default: return 0;
    }
}
