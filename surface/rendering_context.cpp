#include "surface/surface.h"

#include "app/viewer_state.h"

void createRenderingContext(HDC deviceContext) {
    viewer.renderingContext = wglCreateContext(deviceContext);
    if (!viewer.renderingContext) reportSurfaceFailure(deviceContext, "wglCreateContext failed");
    if (wglMakeCurrent(deviceContext, viewer.renderingContext) != TRUE) {
        wglDeleteContext(viewer.renderingContext);
        viewer.renderingContext = nullptr;
        reportSurfaceFailure(deviceContext, "wglMakeCurrent failed");
    }
}
