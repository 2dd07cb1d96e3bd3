#include "surface/surface.h"

#include <cstdlib>

void reportSurfaceFailure(HDC deviceContext, LPCSTR text) {
    MessageBoxA(WindowFromDC(deviceContext), text, "Error", MB_ICONERROR);
    std::exit(1);
}

PIXELFORMATDESCRIPTOR pixelFormatRequest() {
    PIXELFORMATDESCRIPTOR descriptor = {};
    descriptor.nSize = sizeof descriptor;
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = 8;
    descriptor.cDepthBits = 16;
    return descriptor;
}

void configurePixelFormat(HDC deviceContext) {
    PIXELFORMATDESCRIPTOR descriptor = pixelFormatRequest();
    int format = ChoosePixelFormat(deviceContext, &descriptor);
    if (format == 0) reportSurfaceFailure(deviceContext, "ChoosePixelFormat failed\n");
    if (SetPixelFormat(deviceContext, format, &descriptor) != 1) reportSurfaceFailure(deviceContext, "SetPixelFormat failed");
}
