// What the files of the X11 back end share: the X state behind the handles,
// the X connection and the few entry points one area needs from another.
#pragma once

#include "platform/common/internal.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <GL/glx.h>

#include <functional>
#include <memory>
#include <string>
#include <csignal>
#include <vector>

struct X11Context {
    GLXContext context = nullptr;
};

// What a window manager draws around a window, as it publishes it.
struct FrameExtents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

// The state a manager holds a window in (ICCCM WM_STATE, EWMH _NET_WM_STATE).
struct ManagedState {
    bool minimized = false, maximized = false, fullscreen = false;
    bool sizeHeld = false;  // maximized in either direction
    bool operator==(const ManagedState& other) const {
        return minimized == other.minimized && maximized == other.maximized && fullscreen == other.fullscreen &&
               sizeHeld == other.sizeHeld;
    }
};

// A window of the layer on the X server: the X window is the client area.
struct X11Window {
    Window xid = 0;
    Window parent = 0;      // the root, or the frame a window manager put around it
    Colormap colormap = 0;  // owned by the window when not the screen default
    bool colormapWritable = false;
    Cursor cursor = 0;
    FrameExtents frame;
    // The frame known when the window was created: outer sizes the program
    // gives become client sizes through it for the window's whole life, so
    // that a frame a manager publishes later never changes the client area
    // the program's drawing was set up for.
    FrameExtents sizingFrame;
    ManagedState state;           // as the server last said
    bool managerResizes = false;  // in the normal state (EWMH allowed actions)
    // Read at the end of a batch of events, once however many arrived.
    bool stateChanged = false, frameChanged = false, actionsChanged = false;
    bool sizeChanged = false;
    int64_t stateUntoldSince = 0;                 // a new state waits for its size since then
    int confirmedWidth = 0, confirmedHeight = 0;  // the server's last word, not yet told
    bool mapped = false;                          // mapped, as the server last said
    bool destroyedElsewhere = false;              // another client destroyed the X window
};
// The X11 back end's own part of a window and of a context.
inline X11Window* x11Of(const HWND__* window) { return static_cast<X11Window*>(window->backendWindow); }
inline X11Context* x11Of(HGLRC context) { return static_cast<X11Context*>(context->backendContext); }

// Atoms the event filters compare with, interned once with the connection:
// a filter runs inside Xlib and may not ask the server anything.
struct LayerAtoms {
    Atom wmProtocols, wmDeleteWindow, netWmPing, netFrameExtents, wmState, netWmState, netWmAllowedActions;
};

// A range of request serials whose errors are expected.
struct QuietRange {
    unsigned long first, last;
    bool open;       // requests are still being added to it
    int firstError;  // what the server answered, for checked ranges
};

// A protocol error told once; its repeats are only counted, so that no
// fault can fill a disk.
struct ErrorKind {
    int code, request, minor;
    unsigned long repeats;  // since it was last told
    int64_t lastToldMs;
};

// A monitor's place and size on the root window.
struct ScreenArea {
    int x = 0, y = 0, width = 0, height = 0;
};

struct PixelFormat {
    XVisualInfo visual;
    PIXELFORMATDESCRIPTOR descriptor;
};

// All that the X11 back end holds, in one record. x11Terminate releases
// it and leaves the back end as before its first call.
struct X11State {
    Display* display = nullptr;
    LayerAtoms atoms{};
    // What the process had before the layer connected, given back at its end.
    XErrorHandler previousErrorHandler = nullptr;
    XIOErrorHandler previousIOErrorHandler = nullptr;
    void (*previousPipeHandler)(int) = SIG_DFL;
    std::vector<QuietRange> quietRanges;
    std::vector<ErrorKind> errorKinds;

    std::vector<PixelFormat> formats;
    bool formatsListed = false;

    // The message boxes shown, whose events the filters see too.
    std::vector<Window> boxes;
    // What the event filter keeps of what it drops: the newest ping for
    // each window; and the newest change of each mapping, read at the end
    // of a batch.
    std::vector<XClientMessageEvent> waitingPings;
    std::vector<XMappingEvent> changedMappings;
    // The monitors, the primary first (monitors.cpp); never empty once
    // connected. RandR's events start at its base (-1: no RandR 1.5).
    std::vector<ScreenArea> monitors{ScreenArea{}};
    int randrEventBase = -1;
    bool monitorsChanged = false;  // read again once a batch is in
    // The last read took in a flood: until one reads no more than a
    // desktop sends, no round trip is made, frames included.
    bool behind = false;
    long eventsReadBefore = 0;  // by the start of the last read
};
extern X11State& x11;

inline int outerWidth(HWND window) {
    return window->clientWidth + x11Of(window)->frame.left + x11Of(window)->frame.right;
}
inline int outerHeight(HWND window) {
    return window->clientHeight + x11Of(window)->frame.top + x11Of(window)->frame.bottom;
}

// The back end's side of the contract (see DisplayBackend).
void x11ReadEvents();
bool x11WaitForEvents(int timeoutMs);
int x11KeyText(const MSG& keyDown, unsigned keyState, char* text, int size);
void x11CreateWindow(HWND window, const WindowClass& windowClass, int x, int y, int width, int height);
void x11ShowWindow(HWND window);
void x11HideWindow(HWND window);
void x11SetWindowPos(HWND window, int x, int y, int width, int height, UINT flags);
RECT x11WindowRect(HWND window);
void x11HideForDestroy(HWND window);
void x11DestroyWindow(HWND window);
std::vector<ListedPixelFormat> x11ListPixelFormats();
void x11SetPixelFormat(HWND window, int format);
void x11SwapBuffers(HWND window);
bool x11WindowShown(HWND window);
bool x11CreateContext(HGLRC context, HWND window);
bool x11MakeCurrent(HWND window, HGLRC context);
void x11DeleteContext(HGLRC context);
ScreenSize x11ScreenSize();
std::unique_ptr<BoxWindow> x11MessageBoxWindow(HWND owner, const char* text, const char* caption);
bool x11RealizePalette(HDC dc, UINT* mapped);
void x11Capture(HWND window);
void x11ReleaseCapture();
void x11Terminate();
// The resolution text is drawn at: the desktop's setting, or the screen's.
double x11ScreenDpi();
std::unique_ptr<BoxFont> x11OpenBoxFont(double dpi);

// The X connection, once x11Connect has opened it.
Display* x11Display();
int x11Screen();
Window x11Root();
Atom x11Atom(const char* name);
const LayerAtoms& x11Atoms();

// Requests whose failure is expected (a window may vanish between two
// requests, a manager may say no) are bracketed so that their errors are
// not reported. The checked form waits for the server and returns the code
// of the first error the requests caused, or Success.
unsigned long x11BeginQuietRequests();
void x11EndQuietRequests(unsigned long first);
int x11EndCheckedRequests(unsigned long first);

// Windows of the layer, found by their X id; null for foreign windows.
HWND x11FindWindow(Window xid);

// Frees what the window and context handles point to, for x11Terminate.
void x11ReleaseWindows();
void x11ReleaseContexts();

// Creates (or re-creates, keeping the handle) the X window of `window` on the
// given visual. Used by window creation and by SetPixelFormat.
void x11CreateNativeWindow(HWND window, const XVisualInfo* visual);
// What the server has said of the window's place, size and frame: noted
// as the events arrive, told to the window once a batch of them is read.
// A new state waits at most this long for the size that comes with it.
const int64_t x11StateSizeGraceMs = 100;
void x11ConfirmGeometry(HWND window, const XConfigureEvent& configure);
void x11ApplyConfirmedChanges(HWND window);

// The window manager, as ICCCM and EWMH let a client see it (desktop.cpp).
// Whether a compliant manager runs (EWMH), and whether it lists this hint as
// supported.
bool x11ManagerRuns();
bool x11ManagerSupports(const char* hint);
// The properties a manager reads of a new top-level window.
void x11DescribeToManager(HWND window);
// Asks the manager for the frame it will draw around `xid`, waiting a
// bounded time; false if none is known.
bool x11RequestFrameExtents(Window xid, FrameExtents* extents);
// The frame a running manager has published; a property any other client
// wrote is not taken when no manager runs.
bool x11ReadFrameExtents(Window xid, FrameExtents* extents);
ManagedState x11ReadManagedState(Window xid);
// Whether the manager lets the window be resized (EWMH allowed actions).
bool x11ManagerAllowsResize(Window xid);
// Asks the manager to take the window out of maximized and fullscreen.
void x11LeaveManagedSizes(HWND window);
// What a manager and a task bar read of any top-level window of the
// program: its class, its process and its machine.
void x11DescribeProgram(Window xid);
// Gives a window the focus, through the manager where one runs; without
// one, only a window the server shows can take it.
void x11Focus(Window xid, bool viewable);
inline void x11Activate(HWND window) { x11Focus(x11Of(window)->xid, x11Of(window)->mapped); }
// Answers a manager's _NET_WM_PING; true if the message was one.
bool x11AnswerPing(const XClientMessageEvent& client);

// Text in the layer's own windows (font.cpp): see the contract.
void x11DrawText(const BoxFont* font, Window window, GC gc, int x, int y, const std::string& text);

// Reads events until one that `isAwaited` holds for arrives, or the
// deadline passes; every other event read on the way goes through the
// translation that x11ReadEvents applies, so that none is lost.
bool x11AwaitEvent(const std::function<bool(const XEvent&)>& isAwaited, int64_t deadlineMs, XEvent* awaited);
// Judges every event as Xlib takes it in, so that what a window of the
// layer ignores never queues up, whatever another client sends, and bounds
// what is queued (message.cpp).
void x11FilterEvents(Display* display);

// Monitors (monitors.cpp): watched from the connection on, read again
// once RandR says they changed (and the program's coordinates moved with
// the primary's corner). Points convert between the root window's
// coordinates and the program's, whose origin is the primary's corner.
void x11WatchMonitors();
bool x11IsMonitorEvent(const XEvent& event);
void x11ReadMonitors();
const ScreenArea& x11PrimaryMonitor();
// The monitor that holds the point, or the primary.
ScreenArea x11MonitorAt(int rootX, int rootY);
POINT x11FromRoot(int rootX, int rootY);
POINT x11ToRoot(int x, int y);

// Pixel formats are the screen's visuals, numbered from 1.
const XVisualInfo* x11PixelFormatVisual(int format);
bool x11VisualHasWritableColormap(const XVisualInfo* visual);
