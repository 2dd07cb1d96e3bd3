#include "viewer_window.h"

#include "app/window_proc.h"
#include "scene/scene.h"

#include <GL/gl.h>

#include <cmath>

void ViewerWindowTest::SetUp() {
    PrivateServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    viewer = ViewerState{};
    for (float& value : viewer.objectMatrix) value = 7.0f;
    side = windowSide();
    registerViewerClass();
    viewer.windowWidth = side;
    viewer.windowHeight = side;
    window = CreateWindowExA(0, "OpenGL", "vorandile ", WS_OVERLAPPEDWINDOW, 0, 0, side, side, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(viewer.renderingContext, nullptr);
    ShowWindow(window, SW_SHOW);
    xid = layerWindow(user, "vorandile ");
}

bool registerViewerClass() {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.lpszClassName = "OpenGL";
    return RegisterClassA(&windowClass) != 0;
}

double orthonormalDeviation(const float* m) {
    double worst = 0;
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) {
            double dot = 0;
            for (int i = 0; i < 3; ++i) dot += double(m[4 * j + i]) * m[4 * k + i];
            double deviation = std::fabs(dot - (j == k ? 1.0 : 0.0));
            if (!(deviation <= worst)) worst = deviation;  // a non-number stays one
        }
    return worst;
}

std::vector<uint32_t> ViewerWindowTest::screen() {
    int width = 0, height = 0;
    return captureWindow(user, xid, &width, &height);
}

Rgb ViewerWindowTest::screenPixel(int x, int y) { return pixelAt(user, xid, x, y); }

void ViewerWindowTest::renderAndWait() {
    renderFrame();
    glFinish();
    XSync(user, False);
}

bool sameImage(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) { return !a.empty() && a == b; }

size_t countColour(const std::vector<uint32_t>& image, Rgb colour, int tolerance) {
    size_t count = 0;
    for (uint32_t pixel : image)
        if (closeTo(Rgb{int(pixel >> 16 & 255), int(pixel >> 8 & 255), int(pixel & 255)}, colour, tolerance)) ++count;
    return count;
}
