// What the OpenGL driver does on the compositor's connection that the layer
// must bound: its round trips and waits, which have no deadline of their
// own, and its window buffers, which it draws into only once the compositor
// has let go of them.
#include "platform/wayland/internal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The function of that name in the library after the program.
template <typename Real>
Real realFunction(const char* name) {
    return reinterpret_cast<Real>(dlsym(RTLD_NEXT, name));
}

// Ends the program from the watchdog's own thread, whatever the driver's
// wait holds; only async-signal-safe calls.
void driverHung(sigval) {
    const char* name = program_invocation_short_name;
    const char* text = ": the Wayland compositor did not answer the OpenGL driver for 5 s\n";
    ssize_t ignored = write(STDERR_FILENO, name, std::strlen(name));
    ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
    _exit(1);
}

struct Watchdog {
    timer_t timer{};
    bool made = false;
    int depth = 0;  // calls of the driver under way, one within another
};
Watchdog watchdog;

void setWatchdog(int seconds) {
    if (!watchdog.made) {
        sigevent notice{};
        notice.sigev_notify = SIGEV_THREAD;
        notice.sigev_notify_function = driverHung;
        watchdog.made = timer_create(CLOCK_MONOTONIC, &notice, &watchdog.timer) == 0;
        if (!watchdog.made) return;
    }
    itimerspec due{};
    due.it_value.tv_sec = seconds;
    timer_settime(watchdog.timer, 0, &due, nullptr);
}

// The driver's surface whose buffer `proxy` is, by the surface it gave
// the buffer's listener as `data`.
DriverSurface* driverSurfaceOf(wl_proxy* proxy, void* data) {
    if (!data || std::strcmp(wl_proxy_get_class(proxy), wl_buffer_interface.name) != 0) return nullptr;
    // The newest first: a surface made anew may have an old one's address.
    for (auto each = wayland.driverSurfaces.rbegin(); each != wayland.driverSurfaces.rend(); ++each)
        if ((*each)->surface == data) return *each;
    return nullptr;
}

void driverBufferReleased(void* data, wl_buffer* buffer) {
    auto* driver = static_cast<DriverSurface*>(data);
    ++driver->released;
    driver->listener->release(driver->surface, buffer);
}
const wl_buffer_listener countedRelease = {driverBufferReleased};

void caughtUp(void* data, wl_callback* callback, uint32_t) {
    auto* driver = static_cast<DriverSurface*>(data);
    if (driver->catchingUp == callback) driver->catchingUp = nullptr;
    wl_callback_destroy(callback);
}
const wl_callback_listener caughtUpListener = {caughtUp};

// What came on the driver's queue is the driver's to hear, and the layer's
// to count, before it is looked at.
void dispatchDriverQueue(const DriverSurface* driver) {
    if (driver->queue) wl_display_dispatch_queue_pending(wayland.display, driver->queue);
}

}  // namespace

DriverCall::DriverCall() {
    if (watchdog.depth++ == 0) setWatchdog(driverPatienceMs / 1000);
}

DriverCall::~DriverCall() {
    if (--watchdog.depth == 0 && watchdog.made) setWatchdog(0);
}

EGLSurface waylandMakeDriverSurface(WaylandWindow* window, EGLConfig config) {
    wayland.driverMakingSurface = true;
    wayland.driverQueue = nullptr;
    EGLSurface surface;
    {
        DriverCall call;
        surface = eglCreatePlatformWindowSurface(wayland.egl, config, window->eglWindow, nullptr);
    }
    wayland.driverMakingSurface = false;
    if (surface == EGL_NO_SURFACE) return surface;
    window->driver = new DriverSurface{surface, wayland.driverQueue};
    wayland.driverSurfaces.push_back(window->driver);
    return surface;
}

void waylandDestroyDriverSurface(WaylandWindow* window) {
    // The driver's queue goes with its surface: nothing of the layer's may
    // be left on it.
    if (window->driver && window->driver->catchingUp) wl_callback_destroy(window->driver->catchingUp);
    if (window->driver) window->driver->catchingUp = nullptr;
    window->driver = nullptr;
    if (window->eglSurface != EGL_NO_SURFACE) eglDestroySurface(wayland.egl, window->eglSurface);
    window->eglSurface = EGL_NO_SURFACE;
}

bool waylandDriverHasFreeBuffer(DriverSurface* driver) {
    // Until the driver has made a buffer, or where it made none the layer
    // knows of, it is trusted.
    if (!driver || !driver->listener || !driver->queue) return true;
    dispatchDriverQueue(driver);
    return driver->attached - driver->released < driverBuffersPerSurface;
}

bool waylandDriverCaughtUp(DriverSurface* driver) {
    if (!driver) return true;
    dispatchDriverQueue(driver);
    return !driver->catchingUp;
}

// The driver asks the compositor for an answer at each swap and waits for
// it at the next, reading all that comes before it: the layer asks right
// after, on the driver's queue, and the answers come in order.
void waylandDriverSwapped(DriverSurface* driver) {
    if (!driver) return;
    ++driver->attached;
    if (!driver->queue) return;
    auto* onDriverQueue = static_cast<wl_display*>(wl_proxy_create_wrapper(wayland.display));
    if (!onDriverQueue) return;
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(onDriverQueue), driver->queue);
    driver->catchingUp = wl_display_sync(onDriverQueue);
    wl_callback_add_listener(driver->catchingUp, &caughtUpListener, driver);
    wl_proxy_wrapper_destroy(onDriverQueue);
}

// The driver gives each of a surface's buffers a listener for the
// compositor's release, with its surface as the listener's data (Mesa's
// EGL surface is its own handle). Those listeners are counted on the way:
// the driver's count of its free buffers is the layer's too. The program
// exports both symbols (CMakeLists.txt), so that the driver binds to them.
extern "C" int wl_proxy_add_listener(wl_proxy* proxy, void (**implementation)(void), void* data) {
    static auto real = realFunction<int (*)(wl_proxy*, void (**)(void), void*)>("wl_proxy_add_listener");
    DriverSurface* driver = driverSurfaceOf(proxy, data);
    if (!driver) return real(proxy, implementation, data);
    driver->listener = reinterpret_cast<const wl_buffer_listener*>(implementation);
    return real(proxy, reinterpret_cast<void (**)(void)>(const_cast<wl_buffer_listener*>(&countedRelease)), driver);
}

// The queue a window surface's buffers are released on is the one the
// driver makes for it as it makes the surface.
extern "C" wl_event_queue* wl_display_create_queue(wl_display* display) {
    static auto real = realFunction<wl_event_queue* (*)(wl_display*)>("wl_display_create_queue");
    wl_event_queue* queue = real(display);
    if (wayland.driverMakingSurface) wayland.driverQueue = queue;
    return queue;
}
