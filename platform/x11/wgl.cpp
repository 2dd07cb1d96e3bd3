// Rendering contexts over GLX.
#include "platform/x11/internal.h"

#include <algorithm>
#include <dlfcn.h>

namespace {

bool isLiveContext(HGLRC context) {
    return context && std::find(layer.contexts.begin(), layer.contexts.end(), context) != layer.contexts.end();
}

// GLX hands out a context before the server has answered for it: one the
// server refused (no driver, so indirect rendering, which it may not offer)
// is no context at all.
GLXContext createCheckedContext(Display* display, XVisualInfo* visual, Bool direct) {
    unsigned long first = x11BeginQuietRequests();
    GLXContext context = glXCreateContext(display, visual, nullptr, direct);
    if (x11EndCheckedRequests(first) == Success) return context;
    if (context) {
        first = x11BeginQuietRequests();
        glXDestroyContext(display, context);
        x11EndQuietRequests(first);
    }
    return nullptr;
}

}  // namespace

HGLRC WINAPI wglCreateContext(HDC dc) {
    if (!dc || !isLiveWindow(dc->window)) return nullptr;
    int format = dc->window->pixelFormat;
    PIXELFORMATDESCRIPTOR descriptor;
    if (!DescribePixelFormat(dc, format, sizeof descriptor, &descriptor) ||
        !(descriptor.dwFlags & PFD_SUPPORT_OPENGL))
        return nullptr;
    XVisualInfo visual = *x11PixelFormatVisual(format);
    Display* display = x11Display();
    GLXContext context = createCheckedContext(display, &visual, True);
    if (!context) context = createCheckedContext(display, &visual, False);
    if (!context) return nullptr;
    HGLRC handle = new HGLRC__{context, format};
    layer.contexts.push_back(handle);
    return handle;
}

BOOL WINAPI wglMakeCurrent(HDC dc, HGLRC context) {
    Display* display = x11Display();
    if (!context) {
        glXMakeCurrent(display, None, nullptr);
        layer.currentContext = nullptr;
        return TRUE;
    }
    // The platform requires the window to have the context's pixel format.
    if (!isLiveContext(context) || !dc || !isLiveWindow(dc->window) ||
        dc->window->pixelFormat != context->pixelFormat)
        return FALSE;
    unsigned long first = x11BeginQuietRequests();
    bool made = glXMakeCurrent(display, dc->window->x11->xid, context->context);
    if (x11EndCheckedRequests(first) != Success || !made) {
        glXMakeCurrent(display, None, nullptr);
        layer.currentContext = nullptr;
        return FALSE;
    }
    layer.currentContext = context;
    return TRUE;
}

BOOL WINAPI wglDeleteContext(HGLRC context) {
    if (!isLiveContext(context)) return FALSE;
    Display* display = x11Display();
    // A current context stops being current before it is deleted.
    if (context == layer.currentContext) wglMakeCurrent(nullptr, nullptr);
    glXDestroyContext(display, context->context);
    layer.contexts.erase(std::find(layer.contexts.begin(), layer.contexts.end(), context));
    delete context;
    return TRUE;
}

HGLRC WINAPI wglGetCurrentContext(void) { return layer.currentContext; }

void x11ReleaseContexts() {
    if (layer.currentContext) glXMakeCurrent(layer.display, None, nullptr);
    for (HGLRC context : layer.contexts) {
        glXDestroyContext(layer.display, context->context);
        delete context;
    }
    layer.contexts.clear();
    layer.currentContext = nullptr;
}

// Mesa's software rasterizer asks for its window's size with XGetGeometry
// and uses the answer even when the request failed, with the size left
// uninitialised: once another client has destroyed the window, the next
// frame may allocate and clear gigabytes. The layer's XGetGeometry answers
// zeros then. The driver, a library loaded at run time, binds to it only
// because the program exports it: the win32 target in CMakeLists.txt links
// with -Wl,--export-dynamic-symbol=XGetGeometry, and without that flag this
// function is silently never called by the driver.
extern "C" Status XGetGeometry(Display* display, Drawable drawable, Window* root, int* x, int* y, unsigned* width,
                               unsigned* height, unsigned* border, unsigned* depth) {
    using Real = Status (*)(Display*, Drawable, Window*, int*, int*, unsigned*, unsigned*, unsigned*, unsigned*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "XGetGeometry"));
    *root = 0;
    *x = *y = 0;
    *width = *height = *border = *depth = 0;
    return real ? real(display, drawable, root, x, y, width, height, border, depth) : 0;
}
