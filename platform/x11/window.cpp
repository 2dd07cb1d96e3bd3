// Window classes, windows, device contexts, painting and mouse capture.
#include "platform/x11/internal.h"

#include <X11/Xatom.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <strings.h>
#include <utility>

struct HICON__ {
    int resource;
};
struct HCURSOR__ {
    unsigned shape;
};

namespace {

HICON__ applicationIcon{32512};
HCURSOR__ arrowCursor{XC_left_ptr};

const WindowClass* findClass(LPCSTR name) {
    if (!name) return nullptr;
    for (const WindowClass& windowClass : layer.classes)
        if (strcasecmp(windowClass.name.c_str(), name) == 0) return &windowClass;
    return nullptr;
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

// Only the server's own MapNotify says the window is mapped; anyone can send one.
bool waitForMapNotify(Window xid, int timeoutMs) {
    XEvent event;
    return x11WaitForEvent(
        [xid](const XEvent& each) {
            return each.type == MapNotify && !each.xmap.send_event && each.xmap.window == xid;
        },
        x11NowMs() + timeoutMs, &event);
}

// What the frame leaves of an outer size: the client area.
int clientSide(int outer, int frameA, int frameB) { return std::max(outer - frameA - frameB, 1); }
int clientWidthFor(const HWND__* window, int outer) {
    return clientSide(outer, window->sizingFrame.left, window->sizingFrame.right);
}
int clientHeightFor(const HWND__* window, int outer) {
    return clientSide(outer, window->sizingFrame.top, window->sizingFrame.bottom);
}

}  // namespace

const std::vector<HWND>& x11Windows() { return layer.windows; }

void x11ReleaseWindows() {
    // Their X resources go with the connection.
    for (HWND window : layer.windows) delete window;
    layer.windows.clear();
}

HWND x11FindWindow(Window xid) {
    for (HWND window : layer.windows)
        if (window->xid == xid) return window;
    return nullptr;
}

bool x11IsLiveWindow(HWND window) {
    return window && std::find(layer.windows.begin(), layer.windows.end(), window) != layer.windows.end();
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
                            ButtonPressMask | ButtonReleaseMask | PointerMotionMask | FocusChangeMask |
                            ColormapChangeMask | PropertyChangeMask;
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

    // With north-west gravity a manager puts the frame's corner where the
    // window is placed: the outer position, as the platform means it.
    window->xid = XCreateWindow(display, root, window->clientX - window->frame.left,
                                window->clientY - window->frame.top, unsigned(std::max(window->clientWidth, 1)),
                                unsigned(std::max(window->clientHeight, 1)), 0, depth, InputOutput, xvisual, mask,
                                &attributes);
    window->parent = root;
    window->mapped = false;
    x11DescribeToManager(window);
    if (window->visible) XMapWindow(display, window->xid);
    XFlush(display);
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
    if (findClass(windowClass->lpszClassName)) return 0;
    layer.classes.push_back({windowClass->lpszClassName, windowClass->style, windowClass->lpfnWndProc,
                             windowClass->hCursor, windowClass->hIcon});
    return ATOM(0xC000 + layer.classes.size());
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
    window->hasIcon = windowClass->icon != nullptr;
    window->title = windowName ? windowName : "";
    window->style = style;
    window->clientX = x;
    window->clientY = y;
    window->clientWidth = std::max(width, 1);
    window->clientHeight = std::max(height, 1);
    window->deviceContext.window = window;
    if (windowClass->cursor) window->cursor = XCreateFontCursor(display, windowClass->cursor->shape);
    x11CreateNativeWindow(window, nullptr);
    // The size asked for is the outer one: where the manager tells the frame
    // it will draw, the client area is what is left inside it. The window is
    // not mapped yet, so the size is the program's to set.
    x11RequestFrameExtents(window->xid, &window->frame);
    window->sizingFrame = window->frame;
    const FrameExtents& frame = window->frame;
    if (frame.left || frame.right || frame.top || frame.bottom) {
        window->clientX = x + frame.left;
        window->clientY = y + frame.top;
        window->clientWidth = clientWidthFor(window, width);
        window->clientHeight = clientHeightFor(window, height);
        XResizeWindow(display, window->xid, unsigned(window->clientWidth), unsigned(window->clientHeight));
        x11DescribeToManager(window);
    }
    layer.windows.push_back(window);

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
    if (layer.capture == window) ReleaseCapture();
    if (window->visible && !window->destroyedElsewhere) XUnmapWindow(display, window->xid);
    window->visible = false;
    x11Send(window, WM_DESTROY, 0, 0);
    x11ForgetWindow(window);
    layer.windows.erase(std::find(layer.windows.begin(), layer.windows.end(), window));
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
        // ICCCM: a hidden top-level window is withdrawn, so that a manager
        // forgets its frame too.
        if (wasVisible) XWithdrawWindow(display, window->xid, x11Screen());
        window->visible = false;
        XFlush(display);
        return wasVisible;
    }
    if (!wasVisible) {
        window->visible = true;
        window->needsPaint = true;
        // Showing activates: wait until the server has mapped the window so
        // that it can take the focus and its first frame is not discarded.
        // A window manager that is still starting may drop the first request.
        bool mapped = false;
        for (int attempt = 0; attempt < 2 && !mapped; ++attempt) {
            XMapWindow(display, window->xid);
            mapped = waitForMapNotify(window->xid, 1000);
        }
        if (mapped) {
            window->mapped = true;
            XRaiseWindow(display, window->xid);
            x11Activate(window);
        }
        // As on the platform, a window learns its size when first shown.
        if (!window->shownBefore) {
            window->shownBefore = true;
            x11Send(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(window->clientWidth, window->clientHeight));
        }
    }
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    if (!x11IsLiveWindow(window)) return FALSE;
    if (window->visible && window->needsPaint) x11Send(window, WM_PAINT, 0, 0);
    return TRUE;
}

// Only asks: the window manager may place and size the window otherwise,
// and WM_MOVE and WM_SIZE follow from what the server then reports, so a
// refusal never leads to another request.
BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
    if (!x11IsLiveWindow(window)) return FALSE;
    Display* display = x11Display();
    const FrameExtents& frame = window->frame;
    const ManagedState& state = window->state;
    int clientWidth = clientWidthFor(window, width);
    int clientHeight = clientHeightFor(window, height);
    bool move = !(flags & SWP_NOMOVE) && (x != window->clientX - frame.left || y != window->clientY - frame.top);
    bool resize = !(flags & SWP_NOSIZE) && (clientWidth != window->clientWidth || clientHeight != window->clientHeight);
    if (state.minimized) {
        // A minimized window stays minimized: activating it would restore it.
        flags |= SWP_NOACTIVATE | SWP_NOZORDER;
        resize = false;
    } else if (resize && (state.sizeHeld || state.fullscreen)) {
        // A maximized or fullscreen window takes a size of the program's, as
        // on the platform, where the manager lets it be resized at all; where
        // it imposes the size (a tiling manager), asking would only race
        // with its own changes.
        if (window->managerResizes)
            x11LeaveManagedSizes(window);
        else
            resize = false;
    }
    XWindowChanges changes{};
    changes.x = x;
    changes.y = y;
    changes.width = clientWidth;
    changes.height = clientHeight;
    unsigned mask = (move ? CWX | CWY : 0) | (resize ? CWWidth | CWHeight : 0);
    if (mask) XConfigureWindow(display, window->xid, mask, &changes);
    // Through a manager, stacking and focus are its to decide, and the
    // platform does not let a program take the foreground this way: a raise
    // or an activation asked for here would be a request, one that restores
    // a window the user has just minimized (openbox takes either so). Only
    // without a manager does the layer do them itself.
    if (!x11ManagerRuns()) {
        if (!(flags & SWP_NOZORDER) && window->visible) XRaiseWindow(display, window->xid);
        if (!(flags & SWP_NOACTIVATE) && window->visible && !window->focused) x11Activate(window);
    }
    XFlush(display);
    return TRUE;
}

void x11ConfirmGeometry(HWND window, const XConfigureEvent& configure) {
    // A real event's position is relative to the parent, which is the root
    // only until a manager puts a frame around the window; a manager's own
    // (synthetic) event gives the position on the screen (ICCCM 4.1.5).
    if (configure.send_event || window->parent == x11Root()) {
        if (configure.x != window->clientX || configure.y != window->clientY) {
            window->clientX = configure.x;
            window->clientY = configure.y;
            x11Send(window, WM_MOVE, 0, MAKELPARAM(WORD(configure.x & 0xffff), WORD(configure.y & 0xffff)));
        }
    }
    // The size is the server's word alone: anyone can send an event.
    if (configure.send_event || !x11IsLiveWindow(window)) return;
    window->confirmedWidth = configure.width;
    window->confirmedHeight = configure.height;
    window->sizeChanged = true;
}

// Tells the window once what a batch of events changed: WM_SIZE with the
// platform's code when its size or its minimized or maximized state changed.
void x11ApplyConfirmedChanges(HWND window) {
    // Taken before the server is asked: what the filters note while the
    // answers come in is news for the next batch, not lost with this one.
    bool frameChanged = std::exchange(window->frameChanged, false);
    bool stateChanged = std::exchange(window->stateChanged, false);
    bool actionsChanged = std::exchange(window->actionsChanged, false);
    bool sizeChanged = std::exchange(window->sizeChanged, false);
    // A frame published after the window was created (a manager started
    // later, or replaced) changes the outer size, never the client area: the
    // program's drawing was set up for that.
    if (frameChanged && !x11ReadFrameExtents(window->xid, &window->frame)) window->frame = FrameExtents{};
    ManagedState before = window->state;
    if (stateChanged) window->state = x11ReadManagedState(window->xid);
    // Managers withdraw the resize action while they hold a window's size:
    // what counts is whether they allow it in the normal state.
    const ManagedState& now = window->state;
    if ((stateChanged || actionsChanged) && !now.minimized && !now.sizeHeld && !now.fullscreen)
        window->managerResizes = x11ManagerAllowsResize(window->xid);
    bool resized = sizeChanged &&
                   (window->confirmedWidth != window->clientWidth || window->confirmedHeight != window->clientHeight);
    if (sizeChanged) {
        window->clientWidth = window->confirmedWidth;
        window->clientHeight = window->confirmedHeight;
    }
    if (resized && (window->classStyle & (CS_HREDRAW | CS_VREDRAW))) window->needsPaint = true;
    if (now.minimized) {
        window->stateUntoldSince = 0;
        if (!before.minimized) x11Send(window, WM_SIZE, SIZE_MINIMIZED, 0);
        return;
    }
    // A manager changes a window's state first and its size a moment later:
    // the window is told once, when the size comes, or when it has not come
    // in a while. The platform has no fullscreen state, but a manager that
    // takes a window into it or out of it decides its size, so that too is
    // told, and the window can ask for its own size again.
    if (!(now == before) && !before.minimized && !window->stateUntoldSince) window->stateUntoldSince = x11NowMs();
    bool waitedEnough =
        window->stateUntoldSince && x11NowMs() - window->stateUntoldSince >= x11StateSizeGraceMs;
    if (!resized && !before.minimized && !waitedEnough) return;
    window->stateUntoldSince = 0;
    // Restored, a window is painted again, whether or not the server had
    // kept its pixels (a compositing manager keeps a minimized window mapped).
    if (before.minimized) window->needsPaint = true;
    x11Send(window, WM_SIZE, now.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
            MAKELPARAM(window->clientWidth, window->clientHeight));
}

BOOL WINAPI IsIconic(HWND window) { return x11IsLiveWindow(window) && window->state.minimized; }

BOOL WINAPI IsZoomed(HWND window) { return x11IsLiveWindow(window) && window->state.maximized; }

BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
    if (!x11IsLiveWindow(window) || !rect) return FALSE;
    *rect = RECT{0, 0, window->clientWidth, window->clientHeight};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, RECT* rect) {
    if (!x11IsLiveWindow(window) || !rect) return FALSE;
    Display* display = x11Display();
    int rootX = window->clientX, rootY = window->clientY;
    Window child;
    unsigned long first = x11BeginQuietRequests();
    XTranslateCoordinates(display, window->xid, x11Root(), 0, 0, &rootX, &rootY, &child);
    x11EndQuietRequests(first);
    const FrameExtents& frame = window->frame;
    *rect = RECT{rootX - frame.left, rootY - frame.top, rootX - frame.left + outerWidth(window),
                 rootY - frame.top + outerHeight(window)};
    return TRUE;
}

HDC WINAPI GetDC(HWND window) { return x11IsLiveWindow(window) ? &window->deviceContext : nullptr; }

int WINAPI ReleaseDC(HWND window, HDC dc) { return x11IsLiveWindow(window) && dc == &window->deviceContext; }

HWND WINAPI WindowFromDC(HDC dc) { return dc && x11IsLiveWindow(dc->window) ? dc->window : nullptr; }

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    if (!x11IsLiveWindow(window) || !paint) return nullptr;
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = &window->deviceContext;
    paint->rcPaint = RECT{0, 0, window->clientWidth, window->clientHeight};
    window->needsPaint = false;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT*) { return x11IsLiveWindow(window); }

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!window) {
        for (HWND each : layer.windows) each->needsPaint = true;
        return TRUE;
    }
    if (!x11IsLiveWindow(window)) return FALSE;
    window->needsPaint = true;
    return TRUE;
}

HWND WINAPI SetCapture(HWND window) {
    HWND previous = layer.capture;
    if (!x11IsLiveWindow(window)) return previous;
    Display* display = x11Display();
    XGrabPointer(display, window->xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    XFlush(display);
    layer.capture = window;
    return previous;
}

BOOL WINAPI ReleaseCapture(void) {
    if (layer.capture) {
        XUngrabPointer(x11Display(), CurrentTime);
        XFlush(x11Display());
        layer.capture = nullptr;
    }
    return TRUE;
}

HWND WINAPI GetCapture(void) { return layer.capture; }

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
