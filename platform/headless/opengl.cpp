// OpenGL on the headless display: the driver's display-less EGL platform,
// drawing into an off-screen buffer of each window's size, whose back
// buffer each swap reads into the window's picture.
#include "platform/headless/internal.h"

#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstring>

namespace {

bool openEgl() {
    if (headless.egl != EGL_NO_DISPLAY) return true;
    auto platformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!platformDisplay) return false;
    EGLDisplay display = platformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        return false;
    }
    headless.egl = display;
    return true;
}

EGLint attribute(EGLConfig config, EGLint name) {
    EGLint value = 0;
    return eglGetConfigAttrib(headless.egl, config, name, &value) ? value : 0;
}

EGLConfig configOf(HWND window) {
    size_t index = size_t(window->pixelFormat - 1);
    return index < headless.configs.size() ? headless.configs[index] : nullptr;
}

// The window's buffer at its client size, made anew when the size changed.
EGLSurface surfaceFor(HWND window) {
    HeadlessWindow* headlessWindow = headlessOf(window);
    if (headlessWindow->surface != EGL_NO_SURFACE && headlessWindow->surfaceWidth == window->clientWidth &&
        headlessWindow->surfaceHeight == window->clientHeight)
        return headlessWindow->surface;
    headlessReleaseSurface(window);
    const EGLint size[] = {EGL_WIDTH, window->clientWidth, EGL_HEIGHT, window->clientHeight, EGL_NONE};
    headlessWindow->surface = eglCreatePbufferSurface(headless.egl, configOf(window), size);
    headlessWindow->surfaceWidth = window->clientWidth;
    headlessWindow->surfaceHeight = window->clientHeight;
    return headlessWindow->surface;
}

EGLContext contextOf(HGLRC context) { return static_cast<EGLContext>(context->backendContext); }

}  // namespace

// One format: the desktop's eight bits a channel, with depth and stencil.
std::vector<ListedPixelFormat> headlessListPixelFormats() {
    headless.configs.clear();
    if (!openEgl()) return {};
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_PBUFFER_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_RED_SIZE,
                             8,
                             EGL_GREEN_SIZE,
                             8,
                             EGL_BLUE_SIZE,
                             8,
                             EGL_DEPTH_SIZE,
                             16,
                             EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(headless.egl, wanted, configs, 64, &count)) return {};
    for (EGLint i = 0; i < count; ++i) {
        EGLConfig config = configs[i];
        if (attribute(config, EGL_RED_SIZE) != 8 || attribute(config, EGL_GREEN_SIZE) != 8 ||
            attribute(config, EGL_BLUE_SIZE) != 8)
            continue;
        PIXELFORMATDESCRIPTOR pfd{};
        pfd.nSize = sizeof pfd;
        pfd.nVersion = 1;
        pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
        pfd.iPixelType = PFD_TYPE_RGBA;
        pfd.cColorBits = 24;
        pfd.cRedBits = pfd.cGreenBits = pfd.cBlueBits = 8;
        pfd.cRedShift = 16;
        pfd.cGreenShift = 8;
        pfd.cDepthBits = BYTE(attribute(config, EGL_DEPTH_SIZE));
        pfd.cStencilBits = BYTE(attribute(config, EGL_STENCIL_SIZE));
        pfd.iLayerType = PFD_MAIN_PLANE;
        headless.configs.push_back(config);
        return {ListedPixelFormat{pfd, PixelFormatTraits{}}};
    }
    return {};
}

void headlessSetPixelFormat(HWND, int) {}

bool headlessCreateContext(HGLRC context, HWND window) {
    EGLConfig config = configOf(window);
    if (!config) return false;
    EGLContext made = eglCreateContext(headless.egl, config, EGL_NO_CONTEXT, nullptr);
    if (made == EGL_NO_CONTEXT) return false;
    context->backendContext = made;
    return true;
}

bool headlessMakeCurrent(HWND window, HGLRC context) {
    if (headless.egl == EGL_NO_DISPLAY) return !context;
    if (!context) return eglMakeCurrent(headless.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    EGLSurface surface = surfaceFor(window);
    return surface != EGL_NO_SURFACE && eglMakeCurrent(headless.egl, surface, surface, contextOf(context));
}

void headlessDeleteContext(HGLRC context) {
    if (!context->backendContext) return;
    if (eglGetCurrentContext() == contextOf(context))
        eglMakeCurrent(headless.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(headless.egl, contextOf(context));
    context->backendContext = nullptr;
}

void headlessSwapBuffers(HWND window) {
    HeadlessWindow* headlessWindow = headlessOf(window);
    if (headlessWindow->surface == EGL_NO_SURFACE || eglGetCurrentSurface(EGL_DRAW) != headlessWindow->surface) return;
    HeadlessPicture& picture = headlessWindow->picture;
    picture.width = headlessWindow->surfaceWidth;
    picture.height = headlessWindow->surfaceHeight;
    std::vector<uint32_t> rows(size_t(picture.width) * size_t(picture.height));
    glReadPixels(0, 0, picture.width, picture.height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
    // OpenGL's rows go up from the bottom; a picture's go down.
    picture.pixels.resize(rows.size());
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(&picture.pixels[size_t(y) * size_t(picture.width)],
                    &rows[size_t(picture.height - 1 - y) * size_t(picture.width)], size_t(picture.width) * 4);
    ++headlessWindow->framesShown;
    // The next frame is drawn at the window's size as it is now.
    EGLContext current = eglGetCurrentContext();
    EGLSurface surface = surfaceFor(window);
    if (surface != EGL_NO_SURFACE) eglMakeCurrent(headless.egl, surface, surface, current);
}

void headlessReleaseSurface(HWND window) {
    HeadlessWindow* headlessWindow = headlessOf(window);
    if (!headlessWindow || headlessWindow->surface == EGL_NO_SURFACE) return;
    if (eglGetCurrentSurface(EGL_DRAW) == headlessWindow->surface)
        eglMakeCurrent(headless.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(headless.egl, headlessWindow->surface);
    headlessWindow->surface = EGL_NO_SURFACE;
}

void headlessEndOpenGl() {
    if (headless.egl == EGL_NO_DISPLAY) return;
    eglMakeCurrent(headless.egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    for (HWND window : liveWindows()) headlessReleaseSurface(window);
    for (HGLRC context : platform.contexts) headlessDeleteContext(context);
    eglTerminate(headless.egl);
    headless.egl = EGL_NO_DISPLAY;
}
