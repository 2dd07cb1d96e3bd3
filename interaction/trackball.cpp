#include "interaction/trackball.h"

#include <cmath>

Vector3 projectToSphere(int32_t x, int32_t y, int32_t width, int32_t height) {
    float vx = (2.0f * float(x) - float(width)) / float(width);
    float vy = (float(height) - 2.0f * float(y)) / float(height);
    float d = std::sqrt(vx * vx + vy * vy);
    if (!(d < 1.0f)) d = 1.0f;  // also catches a non-number
    float vz = std::cos(d * 1.5707964f);
    float a = 1.0f / std::sqrt(vx * vx + vy * vy + vz * vz);
    return Vector3{vx * a, vy * a, vz * a};
}

void beginDrag(int32_t x, int32_t y) {
    viewer.tracking = 1;
    viewer.applyRotation = 1;
    viewer.continueSpin = 0;
    viewer.startX = x;
    viewer.startY = y;
    viewer.lastPos = projectToSphere(x, y, viewer.windowWidth, viewer.windowHeight);
}

void dragTo(int32_t x, int32_t y) {
    if (!viewer.tracking) return;
    Vector3 cur = projectToSphere(x, y, viewer.windowWidth, viewer.windowHeight);
    const Vector3& last = viewer.lastPos;
    float dx = cur.x - last.x, dy = cur.y - last.y, dz = cur.z - last.z;
    viewer.angle = 90.0f * std::sqrt(dx * dx + dy * dy + dz * dz);
    viewer.axis = Vector3{last.y * cur.z - last.z * cur.y, last.z * cur.x - last.x * cur.z,
                          last.x * cur.y - last.y * cur.x};
    viewer.lastPos = cur;
    requestRedraw();
}

void endDrag(int32_t x, int32_t y) {
    if (viewer.applyRotation != 1) return;
    viewer.tracking = 0;
    if (x == viewer.startX && y == viewer.startY) {
        viewer.angle = 0.0f;
        viewer.continueSpin = 0;
        viewer.applyRotation = 0;
    } else {
        viewer.continueSpin = 1;
        viewer.angle = 0.2f;
    }
    requestRedraw();
}
