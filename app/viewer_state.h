// The one process-wide record of the viewer's mutable state.
#pragma once

#include "platform/win32.h"

#include <cstdint>

struct Vector3 {
    float x, y, z;
};

struct ViewerState {
    void (*idleCallback)() = nullptr;
    HDC deviceContext = nullptr;
    HGLRC renderingContext = nullptr;
    HPALETTE palette = nullptr;
    int32_t windowWidth = 0;
    int32_t windowHeight = 0;
    int32_t continueSpin = 1;
    int32_t applyRotation = 1;
    int32_t tracking = 0;
    float angle = 0.2f;
    Vector3 axis = {0.2f, 0.3f, 1.0f};
    Vector3 lastPos = {0.0f, 0.0f, 0.0f};
    int32_t startX = 0;
    int32_t startY = 0;
    float objectMatrix[16] = {};
    int32_t fogEnabled = 0;
    int32_t wireframe = 0;
};

extern ViewerState viewer;

// The redraw mechanism and the main loop.
void requestRedraw();
void idleStep();
int32_t runMessageLoop();
