// Rendering contexts as the platform hands them out and makes them current,
// whatever binding to the display system they have.
#include "platform/common/internal.h"

#include <algorithm>

namespace {

bool isLiveContext(HGLRC context) {
    return context && std::find(platform.contexts.begin(), platform.contexts.end(), context) != platform.contexts.end();
}

}  // namespace

HGLRC WINAPI wglCreateContext(HDC dc) {
    if (!dc || !isLiveWindow(dc->window)) return nullptr;
    int format = dc->window->pixelFormat;
    PIXELFORMATDESCRIPTOR descriptor;
    if (!DescribePixelFormat(dc, format, sizeof descriptor, &descriptor) ||
        !(descriptor.dwFlags & PFD_SUPPORT_OPENGL))
        return nullptr;
    HGLRC context = new HGLRC__;
    context->pixelFormat = format;
    if (!native().createContext(context, dc->window)) {
        delete context;
        return nullptr;
    }
    platform.contexts.push_back(context);
    return context;
}

BOOL WINAPI wglMakeCurrent(HDC dc, HGLRC context) {
    if (!context) {
        native().makeCurrent(nullptr, nullptr);
        platform.currentContext = nullptr;
        platform.currentWindow = nullptr;
        return TRUE;
    }
    // The platform requires the window to have the context's pixel format.
    if (!isLiveContext(context) || !dc || !isLiveWindow(dc->window) ||
        dc->window->pixelFormat != context->pixelFormat)
        return FALSE;
    if (!native().makeCurrent(dc->window, context)) {
        native().makeCurrent(nullptr, nullptr);
        platform.currentContext = nullptr;
        platform.currentWindow = nullptr;
        return FALSE;
    }
    platform.currentContext = context;
    platform.currentWindow = dc->window;
    return TRUE;
}

BOOL WINAPI wglDeleteContext(HGLRC context) {
    if (!isLiveContext(context)) return FALSE;
    // A current context stops being current before it is deleted.
    if (context == platform.currentContext) wglMakeCurrent(nullptr, nullptr);
    native().deleteContext(context);
    platform.contexts.erase(std::find(platform.contexts.begin(), platform.contexts.end(), context));
    delete context;
    return TRUE;
}

HGLRC WINAPI wglGetCurrentContext(void) { return platform.currentContext; }
