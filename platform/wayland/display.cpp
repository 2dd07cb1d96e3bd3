// The connection to the Wayland compositor: the globals the layer binds, the
// outputs that give the screen's size, and how the queue reads and waits
// for events.
#include "platform/wayland/internal.h"

#include "fractional-scale-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <libdecor.h>

#include <algorithm>
#include <numeric>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>

// Never destroyed, so that what it holds stays reachable to the end.
WaylandState& wayland = *new WaylandState;

namespace {


// Answered once a batch of events is in, the newest of them only, which is
// what a compositor waits for.
void pinged(void*, xdg_wm_base*, uint32_t serial) { wayland.pingSerial = serial; }
const xdg_wm_base_listener wmBaseListener = {pinged};

// What a batch of events leaves to send: each a few requests, however many
// events asked for them.
void finishBatch() {
    if (wayland.pingSerial && wayland.wmBase) xdg_wm_base_pong(wayland.wmBase, wayland.pingSerial);
    wayland.pingSerial = 0;
    waylandShowPendingArrow();
}

void outputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                    int32_t) {}
void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    auto* output = static_cast<WaylandOutput*>(data);
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    PixelSize mode = waylandBoundedSize(width, height);
    output->modeWidth = mode.width;
    output->modeHeight = mode.height;
}
void outputDone(void*, wl_output*) {}
void outputScale(void* data, wl_output*, int32_t factor) {
    static_cast<WaylandOutput*>(data)->scale = std::clamp(factor, 1, largestOutputScale);
}
// Bound at version 3: the name and description events never come.
const wl_output_listener outputListener = {outputGeometry, outputMode, outputDone, outputScale, nullptr, nullptr};

void logicalPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* output = static_cast<WaylandOutput*>(data);
    PixelSize logical = waylandBoundedSize(width, height);
    output->logicalWidth = logical.width;
    output->logicalHeight = logical.height;
}
void logicalDone(void*, zxdg_output_v1*) {}
void logicalName(void*, zxdg_output_v1*, const char*) {}
void logicalDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener xdgOutputListener = {logicalPosition, logicalSize, logicalDone, logicalName,
                                                   logicalDescription};

void describeOutput(WaylandOutput* output) {
    if (!wayland.outputManager || output->xdgOutput) return;
    output->xdgOutput = zxdg_output_manager_v1_get_xdg_output(wayland.outputManager, output->output);
    zxdg_output_v1_add_listener(output->xdgOutput, &xdgOutputListener, output);
}

void releaseOutput(WaylandOutput* output) {
    if (output->xdgOutput) zxdg_output_v1_destroy(output->xdgOutput);
    if (wl_output_get_version(output->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release(output->output);
    else
        wl_output_destroy(output->output);
    delete output;
}

void seatCapabilities(void*, wl_seat*, uint32_t capabilities) { waylandSeatChanged(capabilities); }
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener = {seatCapabilities, seatName};

void globalAdded(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto bind = [&](const wl_interface* wanted, uint32_t highest) {
        return wl_registry_bind(registry, name, wanted, std::min(version, highest));
    };
    if (!std::strcmp(interface, wl_compositor_interface.name)) {
        wayland.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (!std::strcmp(interface, wl_shm_interface.name)) {
        wayland.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (!std::strcmp(interface, xdg_wm_base_interface.name)) {
        wayland.wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 2));
        xdg_wm_base_add_listener(wayland.wmBase, &wmBaseListener, nullptr);
    } else if (!std::strcmp(interface, zxdg_decoration_manager_v1_interface.name)) {
        wayland.decorationManager =
            static_cast<zxdg_decoration_manager_v1*>(bind(&zxdg_decoration_manager_v1_interface, 1));
    } else if (!std::strcmp(interface, zxdg_output_manager_v1_interface.name)) {
        wayland.outputManager = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
        for (WaylandOutput* output : wayland.outputs) describeOutput(output);
    } else if (!std::strcmp(interface, wp_viewporter_interface.name)) {
        wayland.viewporter = static_cast<wp_viewporter*>(bind(&wp_viewporter_interface, 1));
    } else if (!std::strcmp(interface, wp_fractional_scale_manager_v1_interface.name)) {
        wayland.fractionalScales = static_cast<wp_fractional_scale_manager_v1*>(
            bind(&wp_fractional_scale_manager_v1_interface, 1));
    } else if (!std::strcmp(interface, wl_output_interface.name)) {
        auto* output = new WaylandOutput;
        output->name = name;
        output->output = static_cast<wl_output*>(bind(&wl_output_interface, 3));
        wl_output_add_listener(output->output, &outputListener, output);
        describeOutput(output);
        wayland.outputs.push_back(output);
    } else if (!std::strcmp(interface, wl_seat_interface.name) && !wayland.seat) {
        wayland.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(wayland.seat, &seatListener, nullptr);
    }
}

void globalRemoved(void*, wl_registry*, uint32_t name) {
    auto gone = std::find_if(wayland.outputs.begin(), wayland.outputs.end(),
                             [name](const WaylandOutput* output) { return output->name == name; });
    if (gone == wayland.outputs.end()) return;
    releaseOutput(*gone);
    wayland.outputs.erase(gone);
}

const wl_registry_listener registryListener = {globalAdded, globalRemoved};

[[noreturn]] void reportLostConnection() {
    int error = wl_display_get_error(wayland.display);
    std::fprintf(stderr, "%s: lost the connection to the Wayland compositor (%s)\n", program_invocation_short_name,
                 std::strerror(error ? error : EPIPE));
    std::exit(1);
}

// A connection that fails while the layer only tries it leaves the choice
// to X11; once the layer runs on it, the program cannot go on.
bool connectionFailed() {
    if (!wayland.connected) return false;
    reportLostConnection();
}

}  // namespace

// A compositor that does not answer is not usable.
bool waylandRoundTrip(int timeoutMs) {
    wl_callback* done = wl_display_sync(wayland.display);
    bool answered = false;
    static const wl_callback_listener listener = {[](void* data, wl_callback*, uint32_t) {
        *static_cast<bool*>(data) = true;
    }};
    wl_callback_add_listener(done, &listener, &answered);
    int64_t deadline = nowMs() + timeoutMs;
    while (!answered && nowMs() < deadline)
        if (!waylandDispatch(deadline)) break;
    wl_callback_destroy(done);
    return answered;
}

void waylandCompositorSilent() {
    std::fprintf(stderr, "%s: the Wayland compositor did not answer for %d s\n", program_invocation_short_name,
                 compositorPatienceMs / 1000);
    std::exit(1);
}

bool waylandConnects() {
    if (wayland.display) return true;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if ((!name || !*name) && !std::getenv("WAYLAND_SOCKET")) return false;
    wayland.display = wl_display_connect(nullptr);
    if (!wayland.display) return false;
    wayland.registry = wl_display_get_registry(wayland.display);
    wl_registry_add_listener(wayland.registry, &registryListener, nullptr);
    // Twice: the globals, then what the outputs and the seat say of themselves.
    bool usable = waylandRoundTrip(compositorPatienceMs) && waylandRoundTrip(compositorPatienceMs) &&
                  wayland.compositor && wayland.shm && wayland.wmBase;
    if (!usable) {
        waylandTerminate();
        return false;
    }
    wayland.connected = true;
    return true;
}

namespace {

// Until the compositor has sent something or the deadline passes; with
// `dispatch`, what it sent is read and its handlers run. Without, nothing
// is read: false only when waiting failed.
bool awaitCompositor(int64_t deadlineMs, bool dispatch) {
    wl_display* display = wayland.display;
    while (wl_display_prepare_read(display) != 0) {
        // Read already, by a wait on a queue of the layer's own.
        if (!dispatch) return true;
        if (wl_display_dispatch_pending(display) < 0) return connectionFailed();
        finishBatch();
    }
    // A full socket is no lost connection: what is left is written once the
    // compositor has read some of it, and meanwhile what it sends is read,
    // so that a compositor that waits for the program to read does not wait
    // for ever.
    bool unsent = false;
    if (wl_display_flush(display) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display);
            return connectionFailed();
        }
        unsent = true;
    }
    int timeout = deadlineMs < 0 ? -1 : int(std::clamp<int64_t>(deadlineMs - nowMs(), 0, 60000));
    pollfd descriptor{wl_display_get_fd(display), short(POLLIN | (unsent ? POLLOUT : 0)), 0};
    int ready = poll(&descriptor, 1, timeout);
    if (ready <= 0 || !(descriptor.revents & (POLLIN | POLLERR | POLLHUP)) || !dispatch) {
        wl_display_cancel_read(display);
        return ready >= 0 || errno == EINTR;
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) return connectionFailed();
    finishBatch();
    return true;
}

}  // namespace

bool waylandDispatch(int64_t deadlineMs) { return awaitCompositor(deadlineMs, true); }

void waylandReadEvents() {
    // What arrived is taken in for a bounded time: a client flooding the
    // compositor cannot keep the program from its frames.
    int64_t deadline = nowMs() + eventReadingBudgetMs;
    do {
        if (wl_display_dispatch_pending(wayland.display) < 0) reportLostConnection();
        finishBatch();
        pollfd descriptor{wl_display_get_fd(wayland.display), POLLIN, 0};
        if (poll(&descriptor, 1, 0) <= 0) break;
        waylandDispatch(0);
    } while (nowMs() < deadline);
    waylandRepeatKeys();
    if (wl_display_flush(wayland.display) < 0 && errno != EAGAIN) reportLostConnection();
}

// Only waits: what comes is read, and its handlers run, where the program
// reads its queue (waylandReadEvents), never inside a frame's swap.
bool waylandWaitForEvents(int timeoutMs) {
    int repeatIn = waylandRepeatKeys();
    if (repeatIn >= 0 && (timeoutMs < 0 || repeatIn < timeoutMs)) timeoutMs = repeatIn;
    return awaitCompositor(timeoutMs < 0 ? -1 : nowMs() + timeoutMs, false);
}

const WaylandOutput* waylandPrimaryOutput() { return wayland.outputs.empty() ? nullptr : wayland.outputs.front(); }

PixelSize waylandBoundedSize(int width, int height) {
    if (width <= 0 || height <= 0) return PixelSize{0, 0};
    return boundedPixelSize(width, height);
}

bool waylandFractionalScales() { return wayland.viewporter && wayland.fractionalScales; }

// A compositor says a fractional scale only to a surface, once it shows it;
// until then the output's own pixels per logical unit are that scale. The
// longer sides are compared, as a rotated output's mode is not.
int waylandOutputScale() {
    const WaylandOutput* output = waylandPrimaryOutput();
    if (!output) return wholeScale;
    int whole = output->scale * wholeScale;
    int logical = std::max(output->logicalWidth, output->logicalHeight);
    int physical = std::max(output->modeWidth, output->modeHeight);
    if (!waylandFractionalScales() || logical <= 0 || physical <= 0) return whole;
    long scale = (long(physical) * wholeScale * 2 + logical) / (2L * logical);
    return int(std::clamp<long>(scale, wholeScale, long(largestOutputScale) * wholeScale));
}

namespace {

// Surface units come in steps whose pixels are whole, where the steps are
// small: a compositor then maps each of the buffer's pixels to one of the
// output's (at 1.5, two units are three pixels).
int unitStep(int scale) {
    int step = wholeScale / std::gcd(scale, wholeScale);
    return step <= 4 ? step : 0;
}

}  // namespace

int waylandUnits(int pixels, int scale) {
    int64_t step = unitStep(scale);
    if (!step) return std::max(int((int64_t(pixels) * wholeScale * 2 + scale) / (2 * int64_t(scale))), 1);
    int64_t perStep = step * scale;  // in 120ths of a pixel
    return int(std::max<int64_t>((int64_t(pixels) * wholeScale + perStep - 1) / perStep, 1) * step);
}

int waylandUnitsWithin(int units, int scale) {
    int step = unitStep(scale);
    return step ? std::max(units / step, 1) * step : units;
}

int waylandPixels(int units, int scale) { return int((int64_t(units) * scale + wholeScale / 2) / wholeScale); }

wp_viewport* waylandScaleSurface(wl_surface* surface, int scale) {
    if (waylandFractionalScales()) return wp_viewporter_get_viewport(wayland.viewporter, surface);
    if (scale > wholeScale) wl_surface_set_buffer_scale(surface, scale / wholeScale);
    return nullptr;
}

void waylandSetViewport(wp_viewport* viewport, int width, int height) {
    if (viewport) wp_viewport_set_destination(viewport, width, height);
}

// The platform's pixels are the output's: its logical size times the scale
// the layer draws at.
ScreenSize waylandScreenSize() {
    const WaylandOutput* output = waylandPrimaryOutput();
    PixelSize screen{1024, 768};
    int scale = waylandOutputScale();
    if (output && output->logicalWidth > 0 && output->logicalHeight > 0)
        screen = boundedPixelSize(waylandPixels(output->logicalWidth, scale),
                                  waylandPixels(output->logicalHeight, scale));
    else if (output && output->modeWidth > 0 && output->modeHeight > 0)
        screen = PixelSize{output->modeWidth, output->modeHeight};
    return ScreenSize{screen.width, screen.height};
}

double waylandFontDpi(double scale) {
    return std::clamp(96.0 * std::max(scale, 1.0), minimumTextDpi, maximumTextDpi);
}

double waylandScreenDpi() { return waylandFontDpi(double(waylandOutputScale()) / wholeScale); }

void waylandTerminate() {
    if (!wayland.display) {
        wayland = WaylandState{};
        return;
    }
    waylandReleaseContexts();
    waylandReleaseWindows();
    for (wl_buffer* buffer : wayland.pixelBuffers) wl_buffer_destroy(buffer);
    if (wayland.frameQueue) wl_event_queue_destroy(wayland.frameQueue);
    waylandReleaseFormats();
    if (wayland.egl != EGL_NO_DISPLAY) eglTerminate(wayland.egl);
    for (DriverSurface* driver : wayland.driverSurfaces) delete driver;
    waylandReleaseSeat();
    for (WaylandOutput* output : wayland.outputs) releaseOutput(output);
    if (wayland.decorations) libdecor_unref(wayland.decorations);
    if (wayland.outputManager) zxdg_output_manager_v1_destroy(wayland.outputManager);
    if (wayland.fractionalScales) wp_fractional_scale_manager_v1_destroy(wayland.fractionalScales);
    if (wayland.viewporter) wp_viewporter_destroy(wayland.viewporter);
    if (wayland.decorationManager) zxdg_decoration_manager_v1_destroy(wayland.decorationManager);
    if (wayland.wmBase) xdg_wm_base_destroy(wayland.wmBase);
    if (wayland.shm) wl_shm_destroy(wayland.shm);
    if (wayland.compositor) wl_compositor_destroy(wayland.compositor);
    if (wayland.registry) wl_registry_destroy(wayland.registry);
    wl_display_disconnect(wayland.display);
    wayland = WaylandState{};
}
