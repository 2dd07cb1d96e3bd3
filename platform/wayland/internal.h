// What the files of the Wayland back end share: the compositor's objects
// behind the handles, the connection and the few entry points one area
// needs from another.
#pragma once

#include "platform/common/internal.h"

#include <EGL/egl.h>
#include <wayland-client.h>
#include <wayland-egl.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <functional>
#include <vector>

struct xdg_wm_base;
struct xdg_surface;
struct xdg_toplevel;
struct zxdg_decoration_manager_v1;
struct zxdg_toplevel_decoration_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct libdecor;
struct libdecor_frame;
struct wl_cursor_theme;
struct wp_viewporter;
struct wp_viewport;
struct wp_fractional_scale_manager_v1;
struct wp_fractional_scale_v1;

struct WaylandContext {
    EGLContext context = EGL_NO_CONTEXT;
};

// A surface the layer shows as a top-level window: the program's windows
// and the message boxes alike. Its role objects exist while it is shown.
struct WaylandSurface {
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    zxdg_toplevel_decoration_v1* decoration = nullptr;
    libdecor_frame* frame = nullptr;  // where the layer draws the decorations
    bool configured = false;          // the compositor has said how to show it
    int configuredWidth = 0, configuredHeight = 0;  // in surface units; 0: the client's choice
    // Fullscreen, maximized or tiled: the compositor decides the size. In
    // any other state its size is a hint that a fixed size overrides.
    bool sizeImposed = false;
    bool maximized = false;
    bool closeRequested = false;
    // Input to the layer's own surfaces (message boxes), for their loop.
    std::deque<uint32_t> keysPressed;  // their symbols, the first few since the loop last looked
    bool pointerPressed = false, pointerReleased = false;
    double pointerX = 0, pointerY = 0;
};

// The OpenGL driver's side of one window surface, as far as the layer
// follows it: the buffers the compositor was given and has let go of, and
// whether the compositor has caught up with the driver's last swap.
struct DriverSurface {
    EGLSurface surface = EGL_NO_SURFACE;  // the driver's data for its buffers' events
    wl_event_queue* queue = nullptr;      // the driver's, where their releases come
    const wl_buffer_listener* listener = nullptr;  // the driver's, once it made a buffer
    long attached = 0, released = 0;
    wl_callback* catchingUp = nullptr;  // the layer's sync after the last swap, unanswered
    bool heldTold = false;  // that the compositor held every buffer, once
};

// The platform's pixels per surface unit, in 120ths as the compositor gives
// fractional scales: whole where the layer sets a buffer scale, any where a
// viewport maps the buffer's pixels to surface units.
const int wholeScale = 120;
// A size in the platform's pixels as surface units (no fewer pixels, where
// the scale allows whole ones), and back: pixels made from units give the
// same units again.
int waylandUnits(int pixels, int scale);
int waylandPixels(int units, int scale);
// The most units, up to `units`, that make whole pixels where the scale allows.
int waylandUnitsWithin(int units, int scale);

// A window of the layer: the surface is the client area, in the platform's
// pixels scaled down by the scale.
struct WaylandWindow {
    WaylandSurface shown;
    int scale = wholeScale;
    wp_viewport* viewport = nullptr;              // where the compositor offers fractional scales
    wp_fractional_scale_v1* preferred = nullptr;  // the compositor's word on the scale to draw at
    // The size the program last gave the window, which it keeps unless the
    // compositor imposes one.
    int ownWidth = 0, ownHeight = 0;
    wl_egl_window* eglWindow = nullptr;
    EGLSurface eglSurface = EGL_NO_SURFACE;
    wl_callback* frameDone = nullptr;  // the compositor's go-ahead for the next frame
    DriverSurface* driver = nullptr;  // of the EGL surface
    // The compositor gave no go-ahead in time for the last frame: it does
    // not show the window, until a go-ahead comes.
    bool unseen = false;
};
// The Wayland back end's own part of a window and of a context.
inline WaylandWindow* waylandOf(const HWND__* window) { return static_cast<WaylandWindow*>(window->backendWindow); }
inline WaylandContext* waylandOf(HGLRC context) { return static_cast<WaylandContext*>(context->backendContext); }

struct WaylandOutput {
    wl_output* output = nullptr;
    uint32_t name = 0;
    int scale = 1;  // whole, as wl_output says it
    int modeWidth = 0, modeHeight = 0;        // in the output's pixels
    int logicalWidth = 0, logicalHeight = 0;  // as xdg-output says, in surface units
    zxdg_output_v1* xdgOutput = nullptr;
};

struct PixelFormatEntry {
    EGLConfig config;
    PIXELFORMATDESCRIPTOR descriptor;
};

// All that the Wayland back end holds, in one record. waylandTerminate
// releases it and leaves the back end as before its first call.
struct WaylandState {
    wl_display* display = nullptr;
    bool connected = false;  // tried and found usable: the layer runs on it
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    zxdg_decoration_manager_v1* decorationManager = nullptr;
    zxdg_output_manager_v1* outputManager = nullptr;
    wp_viewporter* viewporter = nullptr;
    wp_fractional_scale_manager_v1* fractionalScales = nullptr;
    libdecor* decorations = nullptr;  // opened when the compositor draws none
    std::vector<WaylandOutput*> outputs;

    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    xkb_context* xkb = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* keyState = nullptr;
    bool keymapRefusalTold = false;  // that keys are ignored for want of a usable keymap
    wl_cursor_theme* cursorTheme = nullptr;
    int cursorScale = 1;  // the output's whole scale the theme was read at
    wl_surface* cursorSurface = nullptr;
    wl_surface* keyboardFocus = nullptr;
    wl_surface* pointerFocus = nullptr;
    double pointerX = 0, pointerY = 0;  // in the focused surface's units
    uint32_t arrowSerial = 0;           // of the pointer's entry whose arrow is still to set
    uint32_t pingSerial = 0;            // of the newest ping still to answer
    uint32_t pressSerial = 0;           // of the last button or finger down, which moving a window needs
    wl_touch* touch = nullptr;
    bool touchDown = false;  // the primary touch point is down
    int32_t primaryTouch = 0;
    wl_surface* touchFocus = nullptr;  // where the primary touch went down
    double touchX = 0, touchY = 0;     // in that surface's units
    // Key repeat, at the compositor's rate.
    int repeatRate = 25, repeatDelayMs = 600;
    uint32_t repeatKey = 0;  // 0: none repeating
    int64_t repeatDueMs = 0;

    EGLDisplay egl = EGL_NO_DISPLAY;
    // The compositor's go-ahead for the next frame comes on a queue of its
    // own, so that waiting for it runs no window procedure.
    wl_event_queue* frameQueue = nullptr;
    std::vector<PixelFormatEntry> formats;
    bool formatsListed = false;
    // Every window surface the driver made, kept to the end: its buffers'
    // releases may come after the surface is gone.
    std::vector<DriverSurface*> driverSurfaces;
    bool driverMakingSurface = false;
    wl_event_queue* driverQueue = nullptr;  // the last queue the driver made meanwhile

    // The surfaces of message boxes shown, whose input the box loop takes.
    std::vector<WaylandSurface*> boxes;
    // Shared-memory buffers the compositor has not let go of yet.
    std::vector<wl_buffer*> pixelBuffers;
};
extern WaylandState& wayland;

// The back end's side of the contract (see DisplayBackend).
void waylandReadEvents();
bool waylandWaitForEvents(int timeoutMs);
int waylandKeyText(const MSG& keyDown, unsigned keyState, char* text, int size);
void waylandCreateWindow(HWND window, const WindowClass& windowClass, int x, int y, int width, int height);
void waylandShowWindow(HWND window);
void waylandHideWindow(HWND window);
void waylandSetWindowPos(HWND window, int x, int y, int width, int height, UINT flags);
RECT waylandWindowRect(HWND window);
void waylandDestroyWindow(HWND window);
std::vector<ListedPixelFormat> waylandListPixelFormats();
void waylandSetPixelFormat(HWND window, int format);
void waylandSwapBuffers(HWND window);
bool waylandCreateContext(HGLRC context, HWND window);
bool waylandMakeCurrent(HWND window, HGLRC context);
void waylandDeleteContext(HGLRC context);
ScreenSize waylandScreenSize();
std::unique_ptr<BoxWindow> waylandMessageBoxWindow(HWND owner, const char* text, const char* caption);
void waylandTerminate();
// The resolution text is drawn at on the first output.
double waylandScreenDpi();
// The resolution a box's text is drawn at `scale`, the platform's pixels
// per surface unit.
double waylandFontDpi(double scale);

// A size the compositor gives (a window's, an output's), bounded as the
// layer bounds every size it takes; none (0 or less) stays none: 0 by 0.
PixelSize waylandBoundedSize(int width, int height);
// The largest output scale the layer takes, beyond any screen's: a
// compositor that claims more is taken at this.
const int largestOutputScale = 8;

// The output the layer sizes windows for: the first the compositor named.
const WaylandOutput* waylandPrimaryOutput();
// Whether surfaces take fractional scales: the compositor offers both their
// word on the scale and viewports.
bool waylandFractionalScales();
// The scale (in 120ths) the layer draws at on the primary output, before a
// surface of its own has been told better: the output's pixels per logical
// unit where fractional scales are offered, its whole scale otherwise.
int waylandOutputScale();
// Gives a new surface the layer's means to draw at `scale`: a viewport
// (returned) where fractional scales are offered, a buffer scale otherwise.
wp_viewport* waylandScaleSurface(wl_surface* surface, int scale);
// Maps the surface's buffer to `width` x `height` surface units, where it has a viewport.
void waylandSetViewport(wp_viewport* viewport, int width, int height);

// How long the layer waits for the compositor's answer before it takes the
// compositor for gone.
const int compositorPatienceMs = 5000;
// The compositor's answer to what the connection asked so far, read with
// that deadline: false when it did not come.
bool waylandRoundTrip(int timeoutMs);
// Ends the program, with a line, once the compositor has not answered.
[[noreturn]] void waylandCompositorSilent();

// A call of the OpenGL driver that may wait for the compositor, which the
// driver does without a deadline: past the layer's patience the program
// ends with a line, as when the compositor does not answer the layer.
struct DriverCall {
    DriverCall();
    ~DriverCall();
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;
};
const int driverPatienceMs = compositorPatienceMs;
// How many buffers the driver draws a window into (Mesa 22.3's EGL has four,
// and takes the compositor's holding all of them for a free one).
const long driverBuffersPerSurface = 4;
// The window's EGL surface in `config`, made by the driver; EGL_NO_SURFACE
// when it cannot be had.
EGLSurface waylandMakeDriverSurface(WaylandWindow* window, EGLConfig config);
void waylandDestroyDriverSurface(WaylandWindow* window);
// Whether the compositor has let go of a buffer the driver can draw into.
bool waylandDriverHasFreeBuffer(DriverSurface* driver);
// Whether the compositor has answered all the driver asked at its last
// swap: until then a swap would wait for it, and for a storm ahead of it.
bool waylandDriverCaughtUp(DriverSurface* driver);
// After each swap the driver made.
void waylandDriverSwapped(DriverSurface* driver);

// Dispatches what has arrived and waits for more until the deadline (-1:
// none, 0: do not wait); false when waiting failed. A lost connection is
// told and ends the program, as a lost X connection does (while the
// connection is only being tried, it gives false).
bool waylandDispatch(int64_t deadlineMs);

// Windows of the layer, found by their surface; null for others (boxes).
HWND waylandFindWindow(wl_surface* surface);

// Gives the surface its role as a top-level window with a title, a fixed
// size in surface units and, when `decorated`, decorations (the
// compositor's, or libdecor's where it draws none; otherwise the surface
// draws its own), and waits a bounded time for the compositor's first word
// on it; takes the role away again.
void waylandShowSurface(WaylandSurface& shown, const char* title, int width, int height, WaylandSurface* parent,
                        bool decorated);
void waylandHideSurface(WaylandSurface& shown);
// Shows opaque pixels painted into shared memory (width x height, the
// buffer's own pixels) on the surface; false when no shared memory could be had.
struct Canvas;
bool waylandShowPixels(WaylandSurface& shown, int width, int height, const std::function<void(Canvas&)>& paint);
// Fixes the surface's size, in surface units, as the compositor sees it.
void waylandFixSurfaceSize(WaylandSurface& shown, int width, int height);

// Input (input.cpp): the seat's keyboard and pointer, and key repeat.
// Real keymaps take some 60 KB; one this large is not the compositor's keyboard.
const uint32_t largestKeymapBytes = 4u << 20;
// The keymap in the compositor's file `fd`, `size` bytes from its start;
// null, with the reason, when it cannot be had. The file stays open.
xkb_keymap* waylandReadKeymap(xkb_context* xkb, int fd, uint32_t size, std::string* refusal);
void waylandSeatChanged(uint32_t capabilities);
// Sets the arrow for the pointer's last entry, if it is still there.
void waylandShowPendingArrow();
void waylandReleaseSeat();
// When the next repeat of a held key is due, as a timeout from now (-1: none);
// queues the repeats that are due.
int waylandRepeatKeys();

// Frees what the window and context handles point to, for waylandTerminate.
void waylandReleaseWindows();
void waylandReleaseContexts();
void waylandReleaseFormats();
