// The floor under Wayland: the viewer's frames drawn by a bare EGL loop,
// a native client with nothing else in it, in a window of the viewer's
// size, swapping at the interval the viewer uses.
#include "app/viewer_state.h"
#include "scene/scene.h"
#include "xdg-shell-client-protocol.h"

#include <libdecor.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-egl.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>

namespace {

wl_compositor* compositor;
xdg_wm_base* shell;
wl_seat* seat;
wl_output* output;
int outputHeight, outputScale = 1;
bool configured, closed;
xkb_context* keys;
xkb_keymap* keymap;
xkb_state* keyState;

void outputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                    int32_t) {}
void outputMode(void*, wl_output*, uint32_t flags, int32_t, int32_t height, int32_t) {
    if (flags & WL_OUTPUT_MODE_CURRENT) outputHeight = height;
}
void outputDone(void*, wl_output*) {}
void outputScaleChanged(void*, wl_output*, int32_t factor) { outputScale = factor; }
void outputName(void*, wl_output*, const char*) {}  // later versions than bound
const wl_output_listener outputListener = {outputGeometry, outputMode, outputDone, outputScaleChanged, outputName,
                                           outputName};

void ping(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener shellListener = {ping};

void surfaceConfigure(void*, xdg_surface* surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    configured = true;
}
const xdg_surface_listener surfaceListener = {surfaceConfigure};

// The window keeps the size it chose, as the viewer's does.
void toplevelConfigure(void*, xdg_toplevel*, int32_t, int32_t, wl_array*) {}
void toplevelClose(void*, xdg_toplevel*) { closed = true; }
void toplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}  // later versions than bound
void toplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener toplevelListener = {toplevelConfigure, toplevelClose, toplevelBounds,
                                                toplevelCapabilities};

void keyboardKeymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            xkb_keymap* next = xkb_keymap_new_from_string(keys, static_cast<const char*>(text),
                                                          XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(text, size);
            if (next) {
                xkb_state_unref(keyState);
                xkb_keymap_unref(keymap);
                keymap = next;
                keyState = xkb_state_new(keymap);
            }
        }
    }
    close(fd);
}
void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyboardKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    if (!keyState || state != WL_KEYBOARD_KEY_STATE_PRESSED) return;
    xkb_keysym_t symbol = xkb_state_key_get_one_sym(keyState, key + 8);  // evdev to XKB key codes
    if (symbol == XKB_KEY_Escape) closed = true;
    if (symbol == XKB_KEY_f) viewer.fogEnabled = !viewer.fogEnabled;  // as the viewer does
}
void keyboardModifiers(void*, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                       uint32_t group) {
    if (keyState) xkb_state_update_mask(keyState, depressed, latched, locked, 0, 0, group);
}
void keyboardRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {keyboardKeymap, keyboardEnter, keyboardLeave, keyboardKey,
                                               keyboardModifiers, keyboardRepeat};

// A headless compositor has a keyboard only while a virtual one types.
wl_keyboard* keyboard;
void seatCapabilities(void*, wl_seat* which, uint32_t capabilities) {
    bool has = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (has && !keyboard) {
        keyboard = wl_seat_get_keyboard(which);
        wl_keyboard_add_listener(keyboard, &keyboardListener, nullptr);
    } else if (!has && keyboard) {
        wl_keyboard_destroy(keyboard);
        keyboard = nullptr;
    }
}
const wl_seat_listener seatListener = {seatCapabilities, nullptr};

void announce(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        shell = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(shell, &shellListener, nullptr);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        wl_seat_add_listener(seat, &seatListener, nullptr);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0 && !output && version >= 2) {
        output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
        wl_output_add_listener(output, &outputListener, nullptr);
    }
}
void withdraw(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {announce, withdraw};

// With --decorated the window is decorated as the viewer's layer decorates
// its windows where the compositor draws no decorations: by libdecor, whose
// title bar and shadow the compositor draws with each frame.
void decorationsFailed(libdecor*, libdecor_error, const char* message) {
    std::fprintf(stderr, "egl-loop: decorations failed: %s\n", message);
}
int decoratedSide;
void frameConfigure(libdecor_frame* frame, libdecor_configuration* configuration, void*) {
    libdecor_state* state = libdecor_state_new(decoratedSide, decoratedSide);
    libdecor_frame_commit(frame, state, configuration);
    libdecor_state_free(state);
    configured = true;
}
void frameClose(libdecor_frame*, void*) { closed = true; }
void frameCommit(libdecor_frame*, void* surface) { wl_surface_commit(static_cast<wl_surface*>(surface)); }
void frameDismissPopup(libdecor_frame*, const char*, void*) {}

int fail(const char* why) {
    std::fprintf(stderr, "egl-loop: %s\n", why);
    return 1;
}

}  // namespace

// With --frame-callbacks the loop paces itself as the viewer's layer does:
// swap interval 0, and each frame swapped once the compositor has shown the
// one before (wl_surface.frame). Without it, EGL's own swap interval 1 does.
bool frameShown = true;
void frameDone(void*, wl_callback* callback, uint32_t) {
    wl_callback_destroy(callback);
    frameShown = true;
}
const wl_callback_listener frameListener = {frameDone};

int main(int argc, char** argv) {
    bool paceByCallbacks = false, decorated = false;
    for (int i = 1; i < argc; ++i) {
        paceByCallbacks = paceByCallbacks || std::strcmp(argv[i], "--frame-callbacks") == 0;
        decorated = decorated || std::strcmp(argv[i], "--decorated") == 0;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return fail("cannot connect to the Wayland display");
    keys = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);  // the output's mode and scale
    if (!compositor || !shell) return fail("the compositor offers no xdg-shell");

    // The viewer's size: four fifths of the screen's height, square.
    int side = int((outputHeight > 0 ? outputHeight / outputScale : 1024) * 0.8);
    wl_surface* surface = wl_compositor_create_surface(compositor);
    libdecor_interface decorationsInterface{};
    decorationsInterface.error = decorationsFailed;
    libdecor_frame_interface frameInterface{};
    frameInterface.configure = frameConfigure;
    frameInterface.close = frameClose;
    frameInterface.commit = frameCommit;
    frameInterface.dismiss_popup = frameDismissPopup;
    libdecor* decorations = decorated ? libdecor_new(display, &decorationsInterface) : nullptr;
    if (decorations) {
        decoratedSide = side;
        libdecor_frame* frame = libdecor_decorate(decorations, surface, &frameInterface, surface);
        libdecor_frame_set_title(frame, "egl-loop");
        libdecor_frame_set_app_id(frame, "egl-loop");
        libdecor_frame_set_min_content_size(frame, side, side);
        libdecor_frame_set_max_content_size(frame, side, side);
        libdecor_frame_map(frame);
    } else {
        xdg_surface* shellSurface = xdg_wm_base_get_xdg_surface(shell, surface);
        xdg_surface_add_listener(shellSurface, &surfaceListener, nullptr);
        xdg_toplevel* toplevel = xdg_surface_get_toplevel(shellSurface);
        xdg_toplevel_add_listener(toplevel, &toplevelListener, nullptr);
        xdg_toplevel_set_title(toplevel, "egl-loop");
        xdg_toplevel_set_app_id(toplevel, "egl-loop");
        wl_surface_commit(surface);
    }
    while (!configured && !closed)
        if (wl_display_dispatch(display) < 0) return fail("the compositor's connection failed");

    EGLDisplay egl = eglGetPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, display, nullptr);
    if (egl == EGL_NO_DISPLAY || !eglInitialize(egl, nullptr, nullptr)) return fail("no EGL display");
    if (!eglBindAPI(EGL_OPENGL_API)) return fail("no desktop OpenGL through EGL");
    // As the bare GLX loop asks: double-buffered RGB with a depth buffer of
    // at least 16 bits; no alpha, so that the compositor need not blend.
    EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_RED_SIZE, 1,
                           EGL_GREEN_SIZE, 1, EGL_BLUE_SIZE, 1, EGL_DEPTH_SIZE, 16, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(egl, attributes, configs, 64, &count) || count == 0) return fail("no EGL configuration");
    // The best-sorted with eight bits a channel and no alpha, as the viewer's
    // layer offers: deeper colour would cost the compositor a conversion.
    EGLConfig config = configs[0];
    for (EGLint i = count - 1; i >= 0; --i) {
        EGLint alpha = 0, red = 0, green = 0, blue = 0;
        eglGetConfigAttrib(egl, configs[i], EGL_ALPHA_SIZE, &alpha);
        eglGetConfigAttrib(egl, configs[i], EGL_RED_SIZE, &red);
        eglGetConfigAttrib(egl, configs[i], EGL_GREEN_SIZE, &green);
        eglGetConfigAttrib(egl, configs[i], EGL_BLUE_SIZE, &blue);
        if (alpha == 0 && red == 8 && green == 8 && blue == 8) config = configs[i];
    }
    EGLContext context = eglCreateContext(egl, config, EGL_NO_CONTEXT, nullptr);
    wl_egl_window* window = wl_egl_window_create(surface, side, side);
    EGLSurface target = eglCreatePlatformWindowSurface(egl, config, window, nullptr);
    if (context == EGL_NO_CONTEXT || target == EGL_NO_SURFACE || !eglMakeCurrent(egl, target, target, context))
        return fail("no EGL context for the window");
    eglSwapInterval(egl, paceByCallbacks ? 0 : 1);

    viewer.windowWidth = side;
    viewer.windowHeight = side;
    initializeScene();
    while (!closed) {
        // Whatever the compositor has sent, without waiting: the swap waits
        // for it, and reads events then too.
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd incoming{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&incoming, 1, 0) > 0) {
            if (wl_display_read_events(display) < 0) return fail("the compositor's connection failed");
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) return fail("the compositor's connection failed");
        drawScene();
        glFlush();
        if (paceByCallbacks) {
            // Drawn while the compositor shows the frame before: only the swap waits.
            while (!frameShown && !closed)
                if (wl_display_dispatch(display) < 0) return fail("the compositor's connection failed");
            frameShown = false;
            wl_callback_add_listener(wl_surface_frame(surface), &frameListener, nullptr);
        }
        if (!eglSwapBuffers(egl, target)) return fail("a swap failed");
    }
    eglMakeCurrent(egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(egl, target);
    eglDestroyContext(egl, context);
    wl_egl_window_destroy(window);
    eglTerminate(egl);
    if (decorations) libdecor_unref(decorations);
    wl_display_disconnect(display);
    return 0;
}
