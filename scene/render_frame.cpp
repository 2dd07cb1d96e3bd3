#include "scene/scene.h"

#include "app/viewer_state.h"

#include <GL/gl.h>

void renderFrame() {
    drawScene();
    glFlush();
    SwapBuffers(viewer.deviceContext);
}
