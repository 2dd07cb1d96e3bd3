// The redraw mechanism and the idle-driven message loop. Nothing draws
// except idleStep; everything else asks for a frame with requestRedraw.
#include "app/viewer_state.h"
#include "scene/scene.h"

void requestRedraw() {
    if (!viewer.idleCallback) viewer.idleCallback = idleStep;
}

void idleStep() {
    if (!viewer.continueSpin) viewer.idleCallback = nullptr;
    renderFrame();
}

int32_t runMessageLoop() {
    MSG msg = {};
    for (;;) {
        // Waiting messages always win over rendering.
        while (viewer.idleCallback) {
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) break;
            viewer.idleCallback();
        }
        BOOL result = GetMessageA(&msg, nullptr, 0, 0);
        // A failed retrieval is never reported as success.
        if (result == -1) return 1;
        if (result != 1) return int32_t(msg.wParam);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
