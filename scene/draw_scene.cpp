#include "scene/scene.h"

#include "app/viewer_state.h"
#include "model/mesh.h"

#include <GL/gl.h>

#include <cmath>

namespace {

// Single-precision products drift away from a rotation (after 2^20 frames
// the model is visibly stretched). Once the drift passes a millionth, bring
// the matrix back with Gram-Schmidt on its three columns; below that it is
// left alone, so a frame that turns by nothing changes nothing.
const double orthonormalTolerance = 1e-6;

double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void orthonormalizeObjectMatrix() {
    float* m = viewer.objectMatrix;
    double c[3][3];
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) c[j][i] = m[4 * j + i];
    double drift = 0;
    for (int j = 0; j < 3; ++j)
        for (int k = j; k < 3; ++k) drift = std::fmax(drift, std::fabs(dot(c[j], c[k]) - (j == k ? 1.0 : 0.0)));
    if (drift <= orthonormalTolerance) return;
    for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < j; ++k) {
            double along = dot(c[j], c[k]);
            for (int i = 0; i < 3; ++i) c[j][i] -= along * c[k][i];
        }
        double length = std::sqrt(dot(c[j], c[j]));
        if (length < 1e-6) return;  // not a rotation at all: leave it as it is
        for (int i = 0; i < 3; ++i) c[j][i] /= length;
    }
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) m[4 * j + i] = float(c[j][i]);
}

void sendLightDirection(int light) { glLightfv(GLenum(GL_LIGHT0 + light), GL_POSITION, lightDirections[light]); }

}  // namespace

void applyRotationStep() {
    // A rotation about the zero axis is undefined in OpenGL; it must leave
    // the model as it is.
    if (viewer.axis.x == 0.0f && viewer.axis.y == 0.0f && viewer.axis.z == 0.0f) return;
    glPushMatrix();
    glLoadIdentity();
    glRotatef(viewer.angle, viewer.axis.x, viewer.axis.y, viewer.axis.z);
    glMultMatrixf(viewer.objectMatrix);
    glGetFloatv(GL_MODELVIEW_MATRIX, viewer.objectMatrix);
    glPopMatrix();
    orthonormalizeObjectMatrix();
}

void drawScene() {
    if (viewer.fogEnabled) {
        glClearColor(0.5f, 0.25f, 0.25f, 1.0f);
        glEnable(GL_FOG);
    } else {
        glClearColor(0.5f, 0.25f, 0.35f, 1.0f);
        glDisable(GL_FOG);
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (viewer.applyRotation == 1) applyRotationStep();
    if (viewer.wireframe) glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);

    glEnable(GL_LIGHTING);
    sendLightDirection(1);
    sendLightDirection(2);
    glEnable(GL_LIGHT2);
    for (int light = 3; light <= 6; ++light) sendLightDirection(light);
    glEnable(GL_DEPTH_TEST);

    glPushMatrix();
    glMultMatrixf(viewer.objectMatrix);
    drawMesh();
    glPopMatrix();

    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
}
