// Pixel formats are the EGL configs that draw with OpenGL into windows,
// numbered from 1; rendering contexts and buffer swaps over EGL.
#include "platform/wayland/internal.h"

#include <EGL/eglext.h>

#include <algorithm>
#include <cstdio>
#include <poll.h>

namespace {

// A hidden or covered window gets no go-ahead from the compositor: a swap
// waits for it this long at most, so that the program never stops. Once
// one has not come in time, the window is taken as unseen (Wayland says
// nothing of a minimized window), and its frames wait as long as any
// unseen window's do, or until the program's input comes.
const int frameWaitMs = 100;
// Nor does a swap read more than this while it waits: what it reads for
// the rest of the program waits until the swap is done, and a compositor
// sending a storm meanwhile would have it all held in memory. Each read
// takes in at most a few kilobytes (libwayland's buffer).
const int frameWaitReads = 32;

EGLint configAttribute(EGLConfig config, EGLint attribute) {
    EGLint value = 0;
    return eglGetConfigAttrib(wayland.egl, config, attribute, &value) ? value : 0;
}

PIXELFORMATDESCRIPTOR describeConfig(EGLConfig config) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    // Window surfaces are double-buffered: swapping shows the back buffer.
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cRedBits = BYTE(configAttribute(config, EGL_RED_SIZE));
    pfd.cGreenBits = BYTE(configAttribute(config, EGL_GREEN_SIZE));
    pfd.cBlueBits = BYTE(configAttribute(config, EGL_BLUE_SIZE));
    pfd.cAlphaBits = BYTE(configAttribute(config, EGL_ALPHA_SIZE));
    // The compositor's formats put red highest, then green, blue, and
    // alpha above them all.
    pfd.cBlueShift = 0;
    pfd.cGreenShift = pfd.cBlueBits;
    pfd.cRedShift = BYTE(pfd.cGreenBits + pfd.cBlueBits);
    if (pfd.cAlphaBits) pfd.cAlphaShift = BYTE(pfd.cRedBits + pfd.cGreenBits + pfd.cBlueBits);
    pfd.cColorBits = BYTE(pfd.cRedBits + pfd.cGreenBits + pfd.cBlueBits);
    pfd.cDepthBits = BYTE(configAttribute(config, EGL_DEPTH_SIZE));
    pfd.cStencilBits = BYTE(configAttribute(config, EGL_STENCIL_SIZE));
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}

// As a screen lists the formats of its own depth, the layer offers those of
// the desktop's colour: eight bits a channel, which every compositor shows.
bool hasDesktopColour(EGLConfig config) {
    return configAttribute(config, EGL_RED_SIZE) == 8 && configAttribute(config, EGL_GREEN_SIZE) == 8 &&
           configAttribute(config, EGL_BLUE_SIZE) == 8;
}

// EGL on the compositor's connection, opened on first use; the formats it
// offers for OpenGL in windows. Without EGL there are none, and the program
// reports that as it would anywhere no format fits.
void listFormats() {
    if (wayland.formatsListed) return;
    wayland.formatsListed = true;
    wayland.egl = eglGetPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, wayland.display, nullptr);
    if (wayland.egl == EGL_NO_DISPLAY) return;
    // The driver starts with a round trip of its own, which has no
    // deadline: one of the layer's comes first, and the driver's is watched.
    if (!waylandRoundTrip(compositorPatienceMs)) waylandCompositorSilent();
    DriverCall call;
    if (!eglInitialize(wayland.egl, nullptr, nullptr) || !eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(wayland.egl);
        wayland.egl = EGL_NO_DISPLAY;
        return;
    }
    EGLint count = 0;
    eglGetConfigs(wayland.egl, nullptr, 0, &count);
    std::vector<EGLConfig> configs(size_t(std::max(count, 0)));
    eglGetConfigs(wayland.egl, configs.data(), count, &count);
    for (EGLConfig config : configs) {
        bool usable = (configAttribute(config, EGL_SURFACE_TYPE) & EGL_WINDOW_BIT) &&
                      (configAttribute(config, EGL_RENDERABLE_TYPE) & EGL_OPENGL_BIT) &&
                      configAttribute(config, EGL_COLOR_BUFFER_TYPE) == EGL_RGB_BUFFER &&
                      configAttribute(config, EGL_CONFIG_CAVEAT) != EGL_NON_CONFORMANT_CONFIG &&
                      configAttribute(config, EGL_SAMPLES) == 0 && hasDesktopColour(config);
        if (usable) wayland.formats.push_back({config, describeConfig(config)});
    }
}

const PixelFormatEntry* formatAt(int index) {
    listFormats();
    return index >= 1 && index <= int(wayland.formats.size()) ? &wayland.formats[size_t(index - 1)] : nullptr;
}

void frameShown(void* data, wl_callback* callback, uint32_t) {
    auto* waylandWindow = static_cast<WaylandWindow*>(data);
    if (waylandWindow->frameDone == callback) waylandWindow->frameDone = nullptr;
    waylandWindow->unseen = false;
    wl_callback_destroy(callback);
}
const wl_callback_listener frameListener = {frameShown};

// Reads the connection until `done` or the deadline, dispatching only the
// window's own queues (its go-ahead's, the driver's): nothing else runs
// meanwhile, so that no window procedure runs inside a swap.
void waitOnWindowQueues(WaylandWindow* waylandWindow, const std::function<bool()>& done) {
    wl_display* display = wayland.display;
    wl_event_queue* driverQueue = waylandWindow->driver ? waylandWindow->driver->queue : nullptr;
    bool unseen = waylandWindow->unseen;
    int64_t deadline = nowMs() + (unseen ? unseenFrameWaitMs : frameWaitMs);
    for (int reads = 0;; ++reads) {
        if (wl_display_dispatch_queue_pending(display, wayland.frameQueue) < 0) return;
        if (driverQueue && wl_display_dispatch_queue_pending(display, driverQueue) < 0) return;
        int64_t left = deadline - nowMs();
        if (done() || left <= 0 || reads >= frameWaitReads) return;
        // The program's input, read meanwhile, ends an unseen window's wait.
        if (unseen) {
            if (wl_display_prepare_read(display) != 0) return;
            wl_display_cancel_read(display);
        }
        if (wl_display_prepare_read_queue(display, wayland.frameQueue) != 0) continue;
        wl_display_flush(display);
        pollfd descriptor{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&descriptor, 1, int(left)) <= 0) {
            wl_display_cancel_read(display);
            continue;
        }
        if (wl_display_read_events(display) < 0) return;
    }
}

// Whether the window may show a frame now: the compositor has given the
// go-ahead (or not in time: the next frame does not wait for this one),
// and the driver will not wait. The driver draws a frame into a buffer the
// compositor has let go of, and fails when it holds them all (Mesa 22.3
// then writes through a null pointer); and it waits, without a deadline,
// for the compositor to catch up with its last swap.
bool readyToSwap(HWND window) {
    WaylandWindow* waylandWindow = waylandOf(window);
    DriverSurface* driver = waylandWindow->driver;
    waitOnWindowQueues(waylandWindow, [&] {
        return !waylandWindow->frameDone && waylandDriverCaughtUp(driver) && waylandDriverHasFreeBuffer(driver);
    });
    if (waylandWindow->frameDone) {
        wl_callback_destroy(waylandWindow->frameDone);
        waylandWindow->frameDone = nullptr;
        waylandWindow->unseen = true;
    }
    if (!waylandDriverCaughtUp(driver)) return false;
    if (waylandDriverHasFreeBuffer(driver)) return true;
    if (!driver->heldTold)
        std::fprintf(stderr, "%s: the Wayland compositor holds every buffer of the window \"%s\": its frames are "
                             "not shown until it lets one go\n",
                     program_invocation_short_name, window->title.c_str());
    driver->heldTold = true;
    return false;
}

}  // namespace

void waylandReleaseFormats() { wayland.formats.clear(); }

// A surface with alpha is blended with what lies behind it.
std::vector<ListedPixelFormat> waylandListPixelFormats() {
    listFormats();
    std::vector<ListedPixelFormat> listed;
    for (const PixelFormatEntry& entry : wayland.formats)
        listed.push_back({entry.descriptor, PixelFormatTraits{entry.descriptor.cAlphaBits > 0, false}});
    return listed;
}

void waylandSetPixelFormat(HWND window, int format) {
    WaylandWindow* waylandWindow = waylandOf(window);
    waylandDestroyDriverSurface(waylandWindow);
    if (!waylandWindow->eglWindow)
        waylandWindow->eglWindow = wl_egl_window_create(waylandWindow->shown.surface, window->clientWidth, window->clientHeight);
    waylandWindow->eglSurface = waylandMakeDriverSurface(waylandWindow, formatAt(format)->config);
}

void waylandSwapBuffers(HWND window) {
    WaylandWindow* waylandWindow = waylandOf(window);
    // A hidden window has nothing to show; its surface may take no buffer
    // before the compositor has configured it.
    if (!waylandWindow->shown.configured || waylandWindow->eglSurface == EGL_NO_SURFACE) return;
    if (eglGetCurrentSurface(EGL_DRAW) != waylandWindow->eglSurface) return;
    if (!wayland.frameQueue) wayland.frameQueue = wl_display_create_queue(wayland.display);
    if (!readyToSwap(window)) return;
    wl_callback* next = wl_surface_frame(waylandWindow->shown.surface);
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(next), wayland.frameQueue);
    wl_callback_add_listener(next, &frameListener, waylandWindow);
    waylandWindow->frameDone = next;
    DriverCall call;
    if (eglSwapBuffers(wayland.egl, waylandWindow->eglSurface)) waylandDriverSwapped(waylandWindow->driver);
}

void waylandReleaseContexts() {
    if (wayland.egl == EGL_NO_DISPLAY) return;
    eglMakeCurrent(wayland.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    for (HGLRC context : platform.contexts) waylandDeleteContext(context);
}

bool waylandCreateContext(HGLRC context, HWND window) {
    const PixelFormatEntry* entry = formatAt(window->pixelFormat);
    if (!entry) return false;
    EGLContext made = eglCreateContext(wayland.egl, entry->config, EGL_NO_CONTEXT, nullptr);
    if (made == EGL_NO_CONTEXT) return false;
    context->backendContext = new WaylandContext{made};
    return true;
}

bool waylandMakeCurrent(HWND window, HGLRC context) {
    if (wayland.egl == EGL_NO_DISPLAY) return !context;
    if (!context) return eglMakeCurrent(wayland.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    EGLSurface surface = waylandOf(window)->eglSurface;
    if (!eglMakeCurrent(wayland.egl, surface, surface, waylandOf(context)->context)) return false;
    // The swap waits for the compositor itself, never EGL: EGL's wait has
    // no end when the window is not shown.
    eglSwapInterval(wayland.egl, 0);
    return true;
}

void waylandDeleteContext(HGLRC context) {
    if (!waylandOf(context)) return;
    if (eglGetCurrentContext() == waylandOf(context)->context)
        eglMakeCurrent(wayland.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(wayland.egl, waylandOf(context)->context);
    delete waylandOf(context);
    context->backendContext = nullptr;
}
