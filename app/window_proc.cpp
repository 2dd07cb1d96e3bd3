#include "app/window_proc.h"

#include "app/viewer_state.h"
#include "interaction/trackball.h"
#include "scene/scene.h"
#include "surface/surface.h"

namespace {

const UINT_PTR timerId = 1;

void createContexts(HWND window) {
    SetTimer(window, timerId, 100, nullptr);
    viewer.deviceContext = GetDC(window);
    configurePixelFormat(viewer.deviceContext);
    buildLogicalPalette(viewer.deviceContext);
    createRenderingContext(viewer.deviceContext);
    initializeScene();
}

// Releases in the reverse order; no frame may follow once the context is gone.
void destroyContexts(HWND window) {
    if (viewer.renderingContext) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(viewer.renderingContext);
        viewer.renderingContext = nullptr;
    }
    viewer.idleCallback = nullptr;
    ReleaseDC(window, viewer.deviceContext);
    viewer.deviceContext = nullptr;
    PostQuitMessage(0);
}

int32_t toggled(int32_t flag) { return flag == 0 ? 1 : 0; }

LRESULT handleCharacter(HWND window, WPARAM character, LPARAM lParam) {
    switch (character) {
    case 27: DestroyWindow(window); return 0;
    case 'f':
        viewer.fogEnabled = toggled(viewer.fogEnabled);
        requestRedraw();
        return 0;
    case 'p':
        viewer.wireframe = toggled(viewer.wireframe);
        requestRedraw();
        return 0;
    case 'j':
    case 'k': requestRedraw(); return 0;
    default: return DefWindowProcA(window, WM_CHAR, character, lParam);
    }
}

}  // namespace

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool hasContext = viewer.renderingContext != nullptr;
    int32_t x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_CREATE: createContexts(window); return 0;
    case WM_DESTROY: destroyContexts(window); return 0;
    case WM_SIZE:
        if (!hasContext) break;
        // The window keeps its fixed size.
        SetWindowPos(window, HWND_TOP, 80, 80, viewer.windowWidth, viewer.windowHeight, SWP_NOMOVE);
        return 0;
    case WM_PAINT: {
        if (!hasContext) break;
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        requestRedraw();
        EndPaint(window, &paint);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (!hasContext) break;
        dragTo(x, y);
        break;
    case WM_LBUTTONDOWN:
        if (!hasContext) break;
        SetCapture(window);
        beginDrag(x, y);
        return 0;
    case WM_LBUTTONUP:
        if (!hasContext) break;
        ReleaseCapture();
        endDrag(x, y);
        return 0;
    case WM_CHAR: return handleCharacter(window, wParam, lParam);
    case WM_QUERYNEWPALETTE:
        if (!viewer.palette) break;
        reselectPalette();
        requestRedraw();
        return 1;
    case WM_PALETTECHANGED:
        if (!viewer.palette || reinterpret_cast<HWND>(wParam) == window) break;
        reselectPalette();
        requestRedraw();
        return 0;
    default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
