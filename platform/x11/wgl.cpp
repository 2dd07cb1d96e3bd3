// Rendering contexts over GLX.
#include "platform/x11/internal.h"

#include <algorithm>
#include <dlfcn.h>

namespace {

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

bool x11CreateContext(HGLRC context, HWND window) {
    XVisualInfo visual = *x11PixelFormatVisual(window->pixelFormat);
    Display* display = x11Display();
    GLXContext made = createCheckedContext(display, &visual, True);
    if (!made) made = createCheckedContext(display, &visual, False);
    if (!made) return false;
    context->backendContext = new X11Context{made};
    return true;
}

bool x11MakeCurrent(HWND window, HGLRC context) {
    Display* display = x11Display();
    if (!context) return glXMakeCurrent(display, None, nullptr);
    unsigned long first = x11BeginQuietRequests();
    bool made = glXMakeCurrent(display, x11Of(window)->xid, x11Of(context)->context);
    return x11EndCheckedRequests(first) == Success && made;
}

void x11DeleteContext(HGLRC context) {
    glXDestroyContext(x11Display(), x11Of(context)->context);
    delete x11Of(context);
    context->backendContext = nullptr;
}

void x11ReleaseContexts() {
    if (platform.currentContext) glXMakeCurrent(x11.display, None, nullptr);
    for (HGLRC context : platform.contexts)
        if (x11Of(context)) x11DeleteContext(context);
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
