// Windows on a Wayland compositor: surfaces with the role of top-level
// windows while they are shown, their decorations, and what the compositor
// says of their size and state. A client cannot place its windows or learn
// where they are: the position is the one the program last asked for.
#include "platform/wayland/internal.h"
#include "platform/pixels/canvas.h"

#include "fractional-scale-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <libdecor.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// How long showing waits for the compositor's first word on a window.
const int firstConfigureMs = 2000;

void bufferReleased(void*, wl_buffer* buffer) {
    auto& buffers = wayland.pixelBuffers;
    buffers.erase(std::remove(buffers.begin(), buffers.end(), buffer), buffers.end());
    wl_buffer_destroy(buffer);
}
const wl_buffer_listener bufferListener = {bufferReleased};

HWND windowOf(const WaylandSurface* shown) {
    for (HWND window : liveWindows())
        if (waylandOf(window) && &waylandOf(window)->shown == shown) return window;
    return nullptr;
}

// The window takes a size (in the platform's pixels, whole surface units,
// no more than the layer draws, nor than the units the compositor imposes)
// and is told, as the platform tells a window whose size changed.
void takeSize(HWND window, int width, int height, int mostUnitsWide = INT_MAX, int mostUnitsHigh = INT_MAX) {
    int scale = waylandOf(window)->scale;
    PixelSize bounded = boundedPixelSize(width, height);
    int unitsWide = std::min(waylandUnits(bounded.width, scale), mostUnitsWide);
    int unitsHigh = std::min(waylandUnits(bounded.height, scale), mostUnitsHigh);
    int clientWidth = waylandPixels(unitsWide, scale), clientHeight = waylandPixels(unitsHigh, scale);
    waylandSetViewport(waylandOf(window)->viewport, unitsWide, unitsHigh);
    bool maximized = waylandOf(window)->shown.maximized;
    bool resized = clientWidth != window->clientWidth || clientHeight != window->clientHeight;
    if (!resized && maximized == window->maximized) return;
    if (resized && waylandOf(window)->eglWindow)
        wl_egl_window_resize(waylandOf(window)->eglWindow, clientWidth, clientHeight, 0, 0);
    inputWindowSize(window, clientWidth, clientHeight,
                    maximized ? WindowSizeState::maximized : WindowSizeState::restored);
}

// A size the compositor imposes, in its units, at the window's scale.
void takeImposedSize(HWND window, int width, int height) {
    int scale = waylandOf(window)->scale;
    takeSize(window, waylandPixels(width, scale), waylandPixels(height, scale), waylandUnitsWithin(width, scale),
             waylandUnitsWithin(height, scale));
}

// The compositor has said how it shows the surface. A size of its own (a
// tiling compositor, fullscreen) is taken; none leaves the choice to the
// window, which goes back to the size the program gave it.
void surfaceConfigured(WaylandSurface* shown, int width, int height) {
    bool first = !shown->configured;
    shown->configured = true;
    shown->configuredWidth = width;
    shown->configuredHeight = height;
    HWND window = windowOf(shown);
    if (!window) return;
    WaylandWindow* waylandWindow = waylandOf(window);
    if (first) inputWindowDamage(window);
    if (width > 0 && height > 0 && shown->sizeImposed)
        takeImposedSize(window, width, height);
    else
        takeSize(window, waylandWindow->ownWidth, waylandWindow->ownHeight);
}

// The compositor's scale for the window, which it says again as the window
// moves between outputs. The window keeps its size in the platform's pixels,
// as a program aware of the screen's resolution from its start only keeps
// it there: the surface takes the units that size now is. What a compositor
// says before the window is shown is said of no output (kwin says 1), and
// the output's own scale stands.
void preferredScale(void* data, wp_fractional_scale_v1*, uint32_t scale) {
    HWND window = static_cast<HWND>(data);
    WaylandWindow* waylandWindow = waylandOf(window);
    WaylandSurface& shown = waylandWindow->shown;
    int taken = int(std::clamp<uint32_t>(scale, wholeScale, uint32_t(largestOutputScale) * wholeScale));
    if (!shown.configured || taken == waylandWindow->scale) return;
    waylandWindow->scale = taken;
    if (shown.sizeImposed && shown.configuredWidth > 0 && shown.configuredHeight > 0) {
        takeImposedSize(window, shown.configuredWidth, shown.configuredHeight);
        return;
    }
    waylandFixSurfaceSize(shown, waylandUnits(waylandWindow->ownWidth, taken),
                          waylandUnits(waylandWindow->ownHeight, taken));
    takeSize(window, waylandWindow->ownWidth, waylandWindow->ownHeight);
}
const wp_fractional_scale_v1_listener preferredScaleListener = {preferredScale};

void surfaceClosed(WaylandSurface* shown) {
    shown->closeRequested = true;
    if (HWND window = windowOf(shown)) inputWindowCloseRequest(window);
}

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array* states) {
    auto* shown = static_cast<WaylandSurface*>(data);
    PixelSize size = waylandBoundedSize(width, height);
    shown->configuredWidth = size.width;
    shown->configuredHeight = size.height;
    bool imposed = false, maximized = false;
    for (auto* state = static_cast<const uint32_t*>(states->data);
         reinterpret_cast<const char*>(state) < static_cast<const char*>(states->data) + states->size; ++state) {
        if (*state == XDG_TOPLEVEL_STATE_FULLSCREEN || *state == XDG_TOPLEVEL_STATE_MAXIMIZED ||
            *state == XDG_TOPLEVEL_STATE_TILED_LEFT || *state == XDG_TOPLEVEL_STATE_TILED_RIGHT ||
            *state == XDG_TOPLEVEL_STATE_TILED_TOP || *state == XDG_TOPLEVEL_STATE_TILED_BOTTOM)
            imposed = true;
        if (*state == XDG_TOPLEVEL_STATE_MAXIMIZED) maximized = true;
    }
    shown->sizeImposed = imposed;
    shown->maximized = maximized;
}
void toplevelClose(void* data, xdg_toplevel*) { surfaceClosed(static_cast<WaylandSurface*>(data)); }
// Bound at version 2: the bounds and capabilities events never come.
const xdg_toplevel_listener toplevelListener = {toplevelConfigure, toplevelClose, nullptr, nullptr};

void xdgSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    auto* shown = static_cast<WaylandSurface*>(data);
    xdg_surface_ack_configure(surface, serial);
    surfaceConfigured(shown, shown->configuredWidth, shown->configuredHeight);
}
const xdg_surface_listener xdgSurfaceListener = {xdgSurfaceConfigure};

// Where the compositor draws no decorations, the layer draws them.
void decorationsFailed(libdecor*, libdecor_error error, const char* message) {
    std::fprintf(stderr, "%s: window decorations failed (%d): %s\n", program_invocation_short_name, int(error),
                 message);
}
libdecor_interface decorationsInterface = [] {
    libdecor_interface callbacks{};
    callbacks.error = decorationsFailed;
    return callbacks;
}();

void frameConfigure(libdecor_frame* frame, libdecor_configuration* configuration, void* data) {
    auto* shown = static_cast<WaylandSurface*>(data);
    int width = 0, height = 0;
    if (!libdecor_configuration_get_content_size(configuration, frame, &width, &height)) width = height = 0;
    PixelSize size = waylandBoundedSize(width, height);
    width = size.width;
    height = size.height;
    libdecor_window_state state = LIBDECOR_WINDOW_STATE_NONE;
    if (libdecor_configuration_get_window_state(configuration, &state)) {
        shown->sizeImposed = state & (LIBDECOR_WINDOW_STATE_FULLSCREEN | LIBDECOR_WINDOW_STATE_MAXIMIZED |
                                      LIBDECOR_WINDOW_STATE_TILED_LEFT | LIBDECOR_WINDOW_STATE_TILED_RIGHT |
                                      LIBDECOR_WINDOW_STATE_TILED_TOP | LIBDECOR_WINDOW_STATE_TILED_BOTTOM);
        shown->maximized = state & LIBDECOR_WINDOW_STATE_MAXIMIZED;
    }
    surfaceConfigured(shown, width, height);
    // The content keeps its fixed size unless the compositor imposes one.
    int contentWidth = width, contentHeight = height;
    if (contentWidth <= 0 || contentHeight <= 0 || !shown->sizeImposed)
        libdecor_frame_get_min_content_size(frame, &contentWidth, &contentHeight);
    libdecor_state* content = libdecor_state_new(std::max(contentWidth, 1), std::max(contentHeight, 1));
    libdecor_frame_commit(frame, content, configuration);
    libdecor_state_free(content);
}
void frameClose(libdecor_frame*, void* data) { surfaceClosed(static_cast<WaylandSurface*>(data)); }
void frameCommit(libdecor_frame*, void* data) { wl_surface_commit(static_cast<WaylandSurface*>(data)->surface); }
void frameDismissPopup(libdecor_frame*, const char*, void*) {}
libdecor_frame_interface frameInterface = [] {
    libdecor_frame_interface callbacks{};
    callbacks.configure = frameConfigure;
    callbacks.close = frameClose;
    callbacks.commit = frameCommit;
    callbacks.dismiss_popup = frameDismissPopup;
    return callbacks;
}();

libdecor* layerDecorations() {
    if (!wayland.decorations) wayland.decorations = libdecor_new(wayland.display, &decorationsInterface);
    return wayland.decorations;
}

// Compositors, docks and task switchers match a window to its desktop entry
// by this id, which names the entry's file.
const char* applicationId() { return LAYER_APPLICATION_ID; }

}  // namespace

HWND waylandFindWindow(wl_surface* surface) {
    if (!surface) return nullptr;
    for (HWND window : platform.windows)
        if (waylandOf(window) && waylandOf(window)->shown.surface == surface) return window;
    return nullptr;
}

bool waylandShowPixels(WaylandSurface& shown, int width, int height, const std::function<void(Canvas&)>& paint) {
    int stride = width * 4;
    size_t size = size_t(stride) * size_t(height);
    int file = memfd_create("layer-pixels", MFD_CLOEXEC);
    if (file < 0) return false;
    void* pixels = ftruncate(file, off_t(size)) == 0
                       ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0)
                       : MAP_FAILED;
    if (pixels == MAP_FAILED) {
        close(file);
        return false;
    }
    Canvas canvas{static_cast<uint32_t*>(pixels), width, height, width};
    paint(canvas);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(wayland.shm, file, int32_t(size));
    // Opaque, as EGL's buffers for the window are: KDE's compositor draws
    // the later frames of a surface whose first buffer had alpha wrongly.
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(file);
    // Freed once the compositor has let go of it, or with the layer.
    wl_buffer_add_listener(buffer, &bufferListener, nullptr);
    wayland.pixelBuffers.push_back(buffer);
    wl_surface_attach(shown.surface, buffer, 0, 0);
    wl_surface_damage_buffer(shown.surface, 0, 0, width, height);
    wl_surface_commit(shown.surface);
    return true;
}

void waylandFixSurfaceSize(WaylandSurface& shown, int width, int height) {
    if (shown.frame) {
        libdecor_frame_set_min_content_size(shown.frame, width, height);
        libdecor_frame_set_max_content_size(shown.frame, width, height);
    } else if (shown.toplevel) {
        xdg_toplevel_set_min_size(shown.toplevel, width, height);
        xdg_toplevel_set_max_size(shown.toplevel, width, height);
    }
}

void waylandShowSurface(WaylandSurface& shown, const char* title, int width, int height, WaylandSurface* parent,
                        bool decorated) {
    shown.configured = false;
    shown.closeRequested = false;
    if (decorated && !wayland.decorationManager && layerDecorations()) {
        shown.frame = libdecor_decorate(wayland.decorations, shown.surface, &frameInterface, &shown);
        libdecor_frame_set_title(shown.frame, title);
        libdecor_frame_set_app_id(shown.frame, applicationId());
        libdecor_frame_unset_capabilities(shown.frame, LIBDECOR_ACTION_RESIZE);
        libdecor_frame_unset_capabilities(shown.frame, LIBDECOR_ACTION_FULLSCREEN);
        if (parent && parent->frame) libdecor_frame_set_parent(shown.frame, parent->frame);
        waylandFixSurfaceSize(shown, width, height);
        libdecor_frame_map(shown.frame);
    } else {
        shown.xdgSurface = xdg_wm_base_get_xdg_surface(wayland.wmBase, shown.surface);
        xdg_surface_add_listener(shown.xdgSurface, &xdgSurfaceListener, &shown);
        shown.toplevel = xdg_surface_get_toplevel(shown.xdgSurface);
        xdg_toplevel_add_listener(shown.toplevel, &toplevelListener, &shown);
        xdg_toplevel_set_title(shown.toplevel, title);
        xdg_toplevel_set_app_id(shown.toplevel, applicationId());
        xdg_toplevel* parentToplevel = !parent ? nullptr
                                       : parent->frame ? libdecor_frame_get_xdg_toplevel(parent->frame)
                                                       : parent->toplevel;
        if (parentToplevel) xdg_toplevel_set_parent(shown.toplevel, parentToplevel);
        waylandFixSurfaceSize(shown, width, height);
        // A surface that draws its own title bar says so, or the compositor
        // would add one of its own.
        if (wayland.decorationManager) {
            shown.decoration =
                zxdg_decoration_manager_v1_get_toplevel_decoration(wayland.decorationManager, shown.toplevel);
            zxdg_toplevel_decoration_v1_set_mode(shown.decoration, decorated
                                                                       ? ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE
                                                                       : ZXDG_TOPLEVEL_DECORATION_V1_MODE_CLIENT_SIDE);
        }
        wl_surface_commit(shown.surface);
    }
    // The first buffer may only come once the compositor has configured the
    // surface; a compositor that never does is not waited for without end.
    int64_t deadline = nowMs() + firstConfigureMs;
    while (!shown.configured && nowMs() < deadline)
        if (!waylandDispatch(deadline)) break;
}

void waylandHideSurface(WaylandSurface& shown) {
    // Hidden before it is destroyed, a window is not hidden again.
    if (!shown.xdgSurface && !shown.frame) return;
    if (shown.decoration) zxdg_toplevel_decoration_v1_destroy(shown.decoration);
    if (shown.frame) libdecor_frame_unref(shown.frame);
    if (shown.toplevel) xdg_toplevel_destroy(shown.toplevel);
    if (shown.xdgSurface) xdg_surface_destroy(shown.xdgSurface);
    shown.decoration = nullptr;
    shown.frame = nullptr;
    shown.toplevel = nullptr;
    shown.xdgSurface = nullptr;
    shown.configured = false;
    // Without a role and without a buffer the surface is no longer shown.
    wl_surface_attach(shown.surface, nullptr, 0, 0);
    wl_surface_commit(shown.surface);
    wl_display_flush(wayland.display);
}

namespace {

void releaseWindow(HWND window) {
    WaylandWindow* waylandWindow = waylandOf(window);
    if (!waylandWindow) return;
    if (wayland.keyboardFocus == waylandWindow->shown.surface) wayland.keyboardFocus = nullptr;
    if (wayland.pointerFocus == waylandWindow->shown.surface) wayland.pointerFocus = nullptr;
    if (wayland.touchFocus == waylandWindow->shown.surface) wayland.touchFocus = nullptr;
    if (waylandWindow->frameDone) wl_callback_destroy(waylandWindow->frameDone);
    waylandDestroyDriverSurface(waylandWindow);
    if (waylandWindow->eglWindow) wl_egl_window_destroy(waylandWindow->eglWindow);
    waylandHideSurface(waylandWindow->shown);
    if (waylandWindow->preferred) wp_fractional_scale_v1_destroy(waylandWindow->preferred);
    if (waylandWindow->viewport) wp_viewport_destroy(waylandWindow->viewport);
    wl_surface_destroy(waylandWindow->shown.surface);
    delete waylandWindow;
    window->backendWindow = nullptr;
}

}  // namespace

void waylandReleaseWindows() {
    for (HWND window : platform.windows) releaseWindow(window);
}

void waylandCreateWindow(HWND window, const WindowClass&, int, int, int width, int height) {
    auto* waylandWindow = new WaylandWindow;
    window->backendWindow = waylandWindow;
    int scale = waylandWindow->scale = waylandOutputScale();
    wl_surface* surface = waylandWindow->shown.surface = wl_compositor_create_surface(wayland.compositor);
    waylandWindow->viewport = waylandScaleSurface(surface, scale);
    if (waylandWindow->viewport) {
        waylandWindow->preferred =
            wp_fractional_scale_manager_v1_get_fractional_scale(wayland.fractionalScales, surface);
        wp_fractional_scale_v1_add_listener(waylandWindow->preferred, &preferredScaleListener, window);
    }
    // Decorations are the compositor's or drawn beside the surface: the
    // outer size the program asks for is all client area. Buffers are whole
    // surface units.
    int unitsWide = waylandUnits(width, scale), unitsHigh = waylandUnits(height, scale);
    window->clientWidth = waylandWindow->ownWidth = waylandPixels(unitsWide, scale);
    window->clientHeight = waylandWindow->ownHeight = waylandPixels(unitsHigh, scale);
    waylandSetViewport(waylandWindow->viewport, unitsWide, unitsHigh);
}

void waylandShowWindow(HWND window) {
    WaylandWindow* waylandWindow = waylandOf(window);
    int scale = waylandWindow->scale;
    waylandShowSurface(waylandWindow->shown, window->title.c_str(), waylandUnits(window->clientWidth, scale),
                       waylandUnits(window->clientHeight, scale), nullptr, true);
    // Shown at once, as on the platform, before the program first draws:
    // a compositor shows no surface without contents. No background brush
    // erases it, so it is black.
    if (waylandWindow->shown.configured)
        waylandShowPixels(waylandWindow->shown, window->clientWidth, window->clientHeight,
                          [](Canvas& canvas) { fillRectangle(canvas, 0, 0, canvas.width, canvas.height, 0xff000000); });
}

void waylandHideWindow(HWND window) {
    WaylandWindow* waylandWindow = waylandOf(window);
    if (waylandWindow->frameDone) wl_callback_destroy(waylandWindow->frameDone);
    waylandWindow->frameDone = nullptr;
    waylandHideSurface(waylandWindow->shown);
}

void waylandDestroyWindow(HWND window) {
    releaseWindow(window);
    wl_display_flush(wayland.display);
}

// The position is the program's to ask for and the compositor's to decide,
// and it never says: the window keeps the one asked for. A size the
// compositor imposes (tiled, fullscreen) stays; otherwise the window takes
// the size at once, as the compositor has no say over a floating window's.
void waylandSetWindowPos(HWND window, int x, int y, int width, int height, UINT flags) {
    WaylandWindow* waylandWindow = waylandOf(window);
    if (!(flags & SWP_NOMOVE)) {
        window->clientX = x;
        window->clientY = y;
    }
    if (flags & SWP_NOSIZE) return;
    int unitsWide = waylandUnits(width, waylandWindow->scale), unitsHigh = waylandUnits(height, waylandWindow->scale);
    waylandWindow->ownWidth = waylandPixels(unitsWide, waylandWindow->scale);
    waylandWindow->ownHeight = waylandPixels(unitsHigh, waylandWindow->scale);
    waylandFixSurfaceSize(waylandWindow->shown, unitsWide, unitsHigh);
    // Kept for when the compositor lets go of the size it imposes.
    if (waylandWindow->shown.sizeImposed && waylandWindow->shown.configuredWidth > 0) return;
    takeSize(window, waylandWindow->ownWidth, waylandWindow->ownHeight);
}

RECT waylandWindowRect(HWND window) {
    return RECT{window->clientX, window->clientY, window->clientX + window->clientWidth,
                window->clientY + window->clientHeight};
}

