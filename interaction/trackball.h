// The virtual trackball: window points on a hemisphere bulging toward the
// viewer, each move turned into an incremental rotation for the next frame.
#pragma once

#include "app/viewer_state.h"

Vector3 projectToSphere(int32_t x, int32_t y, int32_t width, int32_t height);
void beginDrag(int32_t x, int32_t y);
void dragTo(int32_t x, int32_t y);
void endDrag(int32_t x, int32_t y);
