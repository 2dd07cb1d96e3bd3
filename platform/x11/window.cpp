// Windows on the X server: creation, showing, placing, and what the server
// says of their size and state; the pointer's capture.
#include "platform/x11/internal.h"

#include <X11/Xatom.h>
#include <X11/cursorfont.h>

#include <algorithm>
#include <utility>

namespace {

void releaseColormap(HWND window) {
    if (x11Of(window)->colormap && x11Of(window)->colormap != DefaultColormap(x11Display(), x11Screen()))
        XFreeColormap(x11Display(), x11Of(window)->colormap);
    x11Of(window)->colormap = 0;
    x11Of(window)->colormapWritable = false;
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
    return x11AwaitEvent(
        [xid](const XEvent& each) {
            return each.type == MapNotify && !each.xmap.send_event && each.xmap.window == xid;
        },
        nowMs() + timeoutMs, &event);
}

// What the frame leaves of an outer size: the client area.
int clientSide(int outer, int frameA, int frameB) { return std::max(outer - frameA - frameB, 1); }
int clientWidthFor(const HWND__* window, int outer) {
    return clientSide(outer, x11Of(window)->sizingFrame.left, x11Of(window)->sizingFrame.right);
}
int clientHeightFor(const HWND__* window, int outer) {
    return clientSide(outer, x11Of(window)->sizingFrame.top, x11Of(window)->sizingFrame.bottom);
}

}  // namespace

void x11ReleaseWindows() {
    // Their X resources go with the connection.
    for (HWND window : platform.windows) {
        delete x11Of(window);
        window->backendWindow = nullptr;
    }
}

HWND x11FindWindow(Window xid) {
    for (HWND window : platform.windows)
        if (x11Of(window) && x11Of(window)->xid == xid) return window;
    return nullptr;
}

void x11CreateNativeWindow(HWND window, const XVisualInfo* visual) {
    Display* display = x11Display();
    int screen = x11Screen();
    Window root = RootWindow(display, screen);
    if (x11Of(window)->xid) {
        XDestroyWindow(display, x11Of(window)->xid);
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
        x11Of(window)->colormapWritable = x11VisualHasWritableColormap(visual);
        bool allocateAll = x11Of(window)->colormapWritable || visual->c_class == DirectColor;
        x11Of(window)->colormap = XCreateColormap(display, root, xvisual, allocateAll ? AllocAll : AllocNone);
        if (visual->c_class == DirectColor) fillLinearRamps(x11Of(window)->colormap, visual);
    } else {
        x11Of(window)->colormap = DefaultColormap(display, screen);
    }
    attributes.colormap = x11Of(window)->colormap;
    mask |= CWColormap;
    if (x11Of(window)->cursor) {
        attributes.cursor = x11Of(window)->cursor;
        mask |= CWCursor;
    }

    // With north-west gravity a manager puts the frame's corner where the
    // window is placed: the outer position, as the platform means it.
    POINT corner = x11ToRoot(window->clientX - x11Of(window)->frame.left, window->clientY - x11Of(window)->frame.top);
    x11Of(window)->xid =
        XCreateWindow(display, root, corner.x, corner.y, unsigned(std::max(window->clientWidth, 1)),
                      unsigned(std::max(window->clientHeight, 1)), 0, depth, InputOutput, xvisual, mask, &attributes);
    x11Of(window)->parent = root;
    x11Of(window)->mapped = false;
    x11DescribeToManager(window);
    if (window->visible) XMapWindow(display, x11Of(window)->xid);
    XFlush(display);
}

void x11CreateWindow(HWND window, const WindowClass& windowClass, int x, int y, int width, int height) {
    Display* display = x11Display();
    window->backendWindow = new X11Window;
    // The class's cursor can only be the arrow, the one LoadCursorA gives.
    if (windowClass.cursor) x11Of(window)->cursor = XCreateFontCursor(display, XC_left_ptr);
    x11CreateNativeWindow(window, nullptr);
    // The size asked for is the outer one: where the manager tells the frame
    // it will draw, the client area is what is left inside it. The window is
    // not mapped yet, so the size is the program's to set.
    x11RequestFrameExtents(x11Of(window)->xid, &x11Of(window)->frame);
    x11Of(window)->sizingFrame = x11Of(window)->frame;
    const FrameExtents& frame = x11Of(window)->frame;
    if (frame.left || frame.right || frame.top || frame.bottom) {
        window->clientX = x + frame.left;
        window->clientY = y + frame.top;
        window->clientWidth = clientWidthFor(window, width);
        window->clientHeight = clientHeightFor(window, height);
        XResizeWindow(display, x11Of(window)->xid, unsigned(window->clientWidth), unsigned(window->clientHeight));
        x11DescribeToManager(window);
    }
}

void x11HideForDestroy(HWND window) {
    if (!x11Of(window)->destroyedElsewhere) XUnmapWindow(x11Display(), x11Of(window)->xid);
}

void x11DestroyWindow(HWND window) {
    Display* display = x11Display();
    if (!x11Of(window)->destroyedElsewhere) XDestroyWindow(display, x11Of(window)->xid);
    releaseColormap(window);
    if (x11Of(window)->cursor) XFreeCursor(display, x11Of(window)->cursor);
    XFlush(display);
    delete x11Of(window);
    window->backendWindow = nullptr;
}

void x11HideWindow(HWND window) {
    // ICCCM: a hidden top-level window is withdrawn, so that a manager
    // forgets its frame too.
    Display* display = x11Display();
    XWithdrawWindow(display, x11Of(window)->xid, x11Screen());
    XFlush(display);
}

void x11ShowWindow(HWND window) {
    Display* display = x11Display();
    // Showing activates: wait until the server has mapped the window so
    // that it can take the focus and its first frame is not discarded.
    // A window manager that is still starting may drop the first request.
    bool mapped = false;
    for (int attempt = 0; attempt < 2 && !mapped; ++attempt) {
        XMapWindow(display, x11Of(window)->xid);
        mapped = waitForMapNotify(x11Of(window)->xid, 1000);
    }
    if (mapped) {
        x11Of(window)->mapped = true;
        XRaiseWindow(display, x11Of(window)->xid);
        x11Activate(window);
    }
}

// Only asks: the window manager may place and size the window otherwise,
// and WM_MOVE and WM_SIZE follow from what the server then reports, so a
// refusal never leads to another request.
void x11SetWindowPos(HWND window, int x, int y, int width, int height, UINT flags) {
    Display* display = x11Display();
    const FrameExtents& frame = x11Of(window)->frame;
    const ManagedState& state = x11Of(window)->state;
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
        if (x11Of(window)->managerResizes)
            x11LeaveManagedSizes(window);
        else
            resize = false;
    }
    XWindowChanges changes{};
    POINT corner = x11ToRoot(x, y);
    changes.x = corner.x;
    changes.y = corner.y;
    changes.width = clientWidth;
    changes.height = clientHeight;
    unsigned mask = (move ? CWX | CWY : 0) | (resize ? CWWidth | CWHeight : 0);
    if (mask) XConfigureWindow(display, x11Of(window)->xid, mask, &changes);
    // Through a manager, stacking and focus are its to decide, and the
    // platform does not let a program take the foreground this way: a raise
    // or an activation asked for here would be a request, one that restores
    // a window the user has just minimized (openbox takes either so). Only
    // without a manager does the layer do them itself.
    if (!x11ManagerRuns()) {
        if (!(flags & SWP_NOZORDER) && window->visible) XRaiseWindow(display, x11Of(window)->xid);
        if (!(flags & SWP_NOACTIVATE) && window->visible && !window->focused) x11Activate(window);
    }
    XFlush(display);
}

void x11ConfirmGeometry(HWND window, const XConfigureEvent& configure) {
    // A real event's position is relative to the parent, which is the root
    // only until a manager puts a frame around the window; a manager's own
    // (synthetic) event gives the position on the screen (ICCCM 4.1.5).
    if (configure.send_event || x11Of(window)->parent == x11Root()) {
        POINT client = x11FromRoot(configure.x, configure.y);
        inputWindowPosition(window, client.x, client.y);
    }
    // The size is the server's word alone: anyone can send an event.
    if (configure.send_event || !isLiveWindow(window)) return;
    x11Of(window)->confirmedWidth = configure.width;
    x11Of(window)->confirmedHeight = configure.height;
    x11Of(window)->sizeChanged = true;
}

// Tells the window once what a batch of events changed: WM_SIZE with the
// platform's code when its size or its minimized or maximized state changed.
void x11ApplyConfirmedChanges(HWND window) {
    // Taken before the server is asked: what the filters note while the
    // answers come in is news for the next batch, not lost with this one.
    bool frameChanged = std::exchange(x11Of(window)->frameChanged, false);
    bool stateChanged = std::exchange(x11Of(window)->stateChanged, false);
    bool actionsChanged = std::exchange(x11Of(window)->actionsChanged, false);
    bool sizeChanged = std::exchange(x11Of(window)->sizeChanged, false);
    // A frame published after the window was created (a manager started
    // later, or replaced) changes the outer size, never the client area: the
    // program's drawing was set up for that.
    if (frameChanged && !x11ReadFrameExtents(x11Of(window)->xid, &x11Of(window)->frame))
        x11Of(window)->frame = FrameExtents{};
    ManagedState before = x11Of(window)->state;
    if (stateChanged) x11Of(window)->state = x11ReadManagedState(x11Of(window)->xid);
    // Managers withdraw the resize action while they hold a window's size:
    // what counts is whether they allow it in the normal state.
    const ManagedState& now = x11Of(window)->state;
    if ((stateChanged || actionsChanged) && !now.minimized && !now.sizeHeld && !now.fullscreen)
        x11Of(window)->managerResizes = x11ManagerAllowsResize(x11Of(window)->xid);
    // The server's size, as far as the layer draws.
    PixelSize confirmed = boundedPixelSize(x11Of(window)->confirmedWidth, x11Of(window)->confirmedHeight);
    int width = sizeChanged ? confirmed.width : window->clientWidth;
    int height = sizeChanged ? confirmed.height : window->clientHeight;
    bool resized = width != window->clientWidth || height != window->clientHeight;
    if (now.minimized) {
        x11Of(window)->stateUntoldSince = 0;
        inputWindowSize(window, width, height, WindowSizeState::minimized);
        return;
    }
    // A manager changes a window's state first and its size a moment later:
    // the window is told once, when the size comes, or when it has not come
    // in a while. The platform has no fullscreen state, but a manager that
    // takes a window into it or out of it decides its size, so that too is
    // told, and the window can ask for its own size again.
    if (!(now == before) && !before.minimized && !x11Of(window)->stateUntoldSince)
        x11Of(window)->stateUntoldSince = nowMs();
    bool waitedEnough =
        x11Of(window)->stateUntoldSince && nowMs() - x11Of(window)->stateUntoldSince >= x11StateSizeGraceMs;
    if (!resized && !before.minimized && !waitedEnough) return;
    x11Of(window)->stateUntoldSince = 0;
    inputWindowSize(window, width, height, now.maximized ? WindowSizeState::maximized : WindowSizeState::restored);
}

RECT x11WindowRect(HWND window) {
    Display* display = x11Display();
    POINT known = x11ToRoot(window->clientX, window->clientY);
    int rootX = known.x, rootY = known.y;
    Window child;
    unsigned long first = x11BeginQuietRequests();
    XTranslateCoordinates(display, x11Of(window)->xid, x11Root(), 0, 0, &rootX, &rootY, &child);
    x11EndQuietRequests(first);
    POINT client = x11FromRoot(rootX, rootY);
    const FrameExtents& frame = x11Of(window)->frame;
    return RECT{client.x - frame.left, client.y - frame.top, client.x - frame.left + outerWidth(window),
                client.y - frame.top + outerHeight(window)};
}


void x11Capture(HWND window) {
    Display* display = x11Display();
    XGrabPointer(display, x11Of(window)->xid, False, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    XFlush(display);
}

void x11ReleaseCapture() {
    XUngrabPointer(x11Display(), CurrentTime);
    XFlush(x11Display());
}
