// Scene set-up read back from OpenGL, and frames read back as the user sees
// them, on real Mesa in the viewer's own window.
#include "viewer_window.h"

#include "model/mesh.h"
#include "scene/scene.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>

namespace {

// The fixture's objectMatrix held something else before set-up.
using Scene = ViewerWindowTest;

void expectFloats(const float* actual, std::initializer_list<float> expected, const char* what) {
    int i = 0;
    for (float value : expected) EXPECT_FLOAT_EQ(actual[i++], value) << what << " [" << i - 1 << "]";
}

void expectMatrix(const float* actual, std::initializer_list<float> expected, float tolerance) {
    int i = 0;
    for (float value : expected) EXPECT_NEAR(actual[i++], value, tolerance) << "element " << i - 1;
}

const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST_F(Scene, ProjectionAndViewOffset) {
    float matrix[16];
    glGetFloatv(GL_PROJECTION_MATRIX, matrix);
    // glOrtho(-2, 2, -2, 2, 0, 10)
    expectMatrix(matrix, {0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, -0.2f, 0, 0, 0, -1, 1}, 1e-7f);
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    expectMatrix(matrix, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -0.8f, 1}, 1e-7f);
    GLint mode;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(0, std::memcmp(viewer.objectMatrix, identity, sizeof identity)) << "objectMatrix is reset";
}

TEST_F(Scene, WideWindowsWidenTheProjection) {
    viewer.windowWidth = 800;
    viewer.windowHeight = 400;
    setProjection();
    float matrix[16];
    glGetFloatv(GL_PROJECTION_MATRIX, matrix);
    EXPECT_FLOAT_EQ(matrix[0], 1.0f / 4.0f);  // left -4, right 4
    EXPECT_FLOAT_EQ(matrix[5], 0.5f);
}

TEST_F(Scene, Materials) {
    float value[4];
    glGetMaterialfv(GL_FRONT, GL_AMBIENT, value);
    expectFloats(value, {0.1f, 0.05f, 0.05f, 1.0f}, "front ambient");
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, value);
    expectFloats(value, {0.75f, 0.5f, 0.4f, 0.6f}, "front diffuse");
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, value);
    expectFloats(value, {0.23f, 0.23f, 0.25f, 1.0f}, "front specular");
    glGetMaterialfv(GL_FRONT, GL_SHININESS, value);
    EXPECT_FLOAT_EQ(value[0], 20.0f);
    glGetMaterialfv(GL_BACK, GL_AMBIENT, value);
    expectFloats(value, {0.01f, 0.025f, 0.01f, 1.0f}, "back ambient");
    glGetMaterialfv(GL_BACK, GL_DIFFUSE, value);
    expectFloats(value, {0.5f, 0.75f, 0.4f, 0.6f}, "back diffuse");
    glGetMaterialfv(GL_BACK, GL_SPECULAR, value);
    expectFloats(value, {0.23f, 0.1f, 0.23f, 1.0f}, "back specular");
    glGetMaterialfv(GL_BACK, GL_SHININESS, value);
    EXPECT_FLOAT_EQ(value[0], 20.0f);
    GLint twoSided;
    glGetIntegerv(GL_LIGHT_MODEL_TWO_SIDE, &twoSided);
    EXPECT_EQ(twoSided, 1);
}

TEST_F(Scene, SevenLightsWithLightTwoConfiguredButOff) {
    struct Expected {
        float direction[4], ambient[4], diffuse[4], specular[4];
    };
    const Expected lights[7] = {
        {{0.7f, 0.7f, 1.25f, 0}, {0, 0, 0, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}},
        {{0, 4, 0, 0}, {0.35f, 0.35f, 0.65f, 1}, {0.2f, 0.2f, 0.5f, 1}, {0.2f, 0.2f, 0.65f, 1}},
        {{5, -6, -2, 0}, {0.65f, 0.75f, 0.45f, 1}, {0.4f, 0.3f, 0.3f, 1}, {0.65f, 0.85f, 0.85f, 1}},
        {{0, -3, 4, 0}, {0.65f, 0.65f, 0.35f, 1}, {0.4f, 0.4f, 0.05f, 1}, {0.65f, 0.65f, 0.85f, 1}},
        {{0, -2, -5, 0}, {0.55f, 0.55f, 0.55f, 1}, {0.4f, 0.5f, 0.3f, 1}, {0.2f, 0.7f, 0.35f, 1}},
        {{0, 0, -8, 0}, {0.05f, 0.6f, 0.05f, 1}, {0.0f, 0.5f, 0.0f, 1}, {0.05f, 0.6f, 0.08f, 1}},
        {{-20, -10, -2, 0}, {0.4f, 0.4f, 0.4f, 1}, {0.4f, 0.4f, 0.05f, 1}, {0.65f, 0.55f, 0.55f, 1}},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE("light " + std::to_string(i));
        GLenum light = GLenum(GL_LIGHT0 + i);
        float value[4];
        glGetLightfv(light, GL_POSITION, value);
        const Expected& e = lights[i];
        expectFloats(value, {e.direction[0], e.direction[1], e.direction[2], e.direction[3]}, "direction");
        glGetLightfv(light, GL_AMBIENT, value);
        expectFloats(value, {e.ambient[0], e.ambient[1], e.ambient[2], e.ambient[3]}, "ambient");
        glGetLightfv(light, GL_DIFFUSE, value);
        expectFloats(value, {e.diffuse[0], e.diffuse[1], e.diffuse[2], e.diffuse[3]}, "diffuse");
        glGetLightfv(light, GL_SPECULAR, value);
        expectFloats(value, {e.specular[0], e.specular[1], e.specular[2], e.specular[3]}, "specular");
        EXPECT_EQ(glIsEnabled(light), i != 2);
    }
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_FOG));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(Scene, Fog) {
    GLint mode;
    glGetIntegerv(GL_FOG_MODE, &mode);
    EXPECT_EQ(mode, GL_EXP);
    float density;
    glGetFloatv(GL_FOG_DENSITY, &density);
    uint32_t bits;
    std::memcpy(&bits, &density, sizeof bits);
    EXPECT_EQ(bits, 0x3E78D4FFu);
    float colour[4];
    glGetFloatv(GL_FOG_COLOR, colour);
    expectFloats(colour, {0.4f, 0.4f, 0.5f, 1.0f}, "fog colour");
}

TEST_F(Scene, BackgroundFollowsTheFogSwitchAndTheModelSitsInTheMiddle) {
    const Rgb clear = rgbOf(0.5f, 0.25f, 0.35f), foggyClear = rgbOf(0.5f, 0.25f, 0.25f);
    viewer.applyRotation = 0;
    renderAndWait();
    EXPECT_TRUE(closeTo(screenPixel(3, 3), clear));
    EXPECT_TRUE(closeTo(screenPixel(side - 3, side - 3), clear));
    Rgb centre = screenPixel(side / 2, side * 3 / 8);
    EXPECT_FALSE(closeTo(centre, clear, 10)) << "the model covers the middle";
    // The model spans a quarter of the 4-unit-wide view each side of the centre.
    std::vector<uint32_t> plain = screen();
    size_t background = countColour(plain, clear);
    EXPECT_GT(background, size_t(side * side) / 2);
    EXPECT_LT(background, size_t(side * side) * 9 / 10);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING)) << "the frame restores what it switched on";
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT2));

    viewer.fogEnabled = 1;
    renderAndWait();
    EXPECT_TRUE(closeTo(screenPixel(3, 3), foggyClear));
    EXPECT_FALSE(closeTo(screenPixel(side / 2, side * 3 / 8), centre, 3)) << "fog changes the model's colours";
    EXPECT_TRUE(glIsEnabled(GL_FOG));
    viewer.fogEnabled = 0;
    renderAndWait();
    EXPECT_TRUE(sameImage(screen(), plain));
}

TEST_F(Scene, WireframeShowsOutlinesAndTheNextFrameIsFilledAgain) {
    const Rgb clear = rgbOf(0.5f, 0.25f, 0.35f);
    viewer.applyRotation = 0;
    renderAndWait();
    std::vector<uint32_t> filled = screen();
    viewer.wireframe = 1;
    renderAndWait();
    std::vector<uint32_t> outlined = screen();
    EXPECT_GT(countColour(outlined, clear), countColour(filled, clear) + size_t(side * side) / 20)
        << "the background shows between the outlines";
    EXPECT_LT(countColour(outlined, clear), size_t(side * side)) << "outlines are drawn";
    float width;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_FLOAT_EQ(width, 1.5f);
    GLint modes[2];
    glGetIntegerv(GL_POLYGON_MODE, modes);
    EXPECT_EQ(modes[0], GL_FILL) << "the frame restores filled polygons";
    viewer.wireframe = 0;
    renderAndWait();
    EXPECT_TRUE(sameImage(screen(), filled));
}

TEST_F(Scene, FramesWithoutRotationAreIdenticalAndEachFrameTurnsOnce) {
    viewer.applyRotation = 0;
    renderAndWait();
    std::vector<uint32_t> first = screen();
    renderAndWait();
    EXPECT_TRUE(sameImage(screen(), first));
    EXPECT_EQ(0, std::memcmp(viewer.objectMatrix, identity, sizeof identity));

    viewer.applyRotation = 1;
    viewer.angle = 1.5f;
    viewer.axis = Vector3{0, 0, 2};
    for (int frame = 0; frame < 20; ++frame) renderFrame();
    double turned = 30.0 * M_PI / 180.0;
    float c = float(std::cos(turned)), s = float(std::sin(turned));
    expectMatrix(viewer.objectMatrix, {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, 1e-5f);
    EXPECT_FALSE(sameImage(screen(), first));

    float modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    EXPECT_FLOAT_EQ(modelview[14], -0.8f) << "the stack is left as it was";
}

TEST_F(Scene, NoAngleOrNoAxisLeavesTheMatrixExactlyAsItWas) {
    viewer.angle = 33.0f;
    viewer.axis = Vector3{0.2f, 0.3f, 1.0f};
    renderFrame();
    float before[16];
    std::memcpy(before, viewer.objectMatrix, sizeof before);
    viewer.angle = 0.0f;
    renderFrame();
    EXPECT_EQ(0, std::memcmp(viewer.objectMatrix, before, sizeof before));
    viewer.angle = 0.2f;
    viewer.axis = Vector3{0, 0, 0};
    renderFrame();
    EXPECT_EQ(0, std::memcmp(viewer.objectMatrix, before, sizeof before));
    for (float value : viewer.objectMatrix) EXPECT_TRUE(std::isfinite(value));
}

TEST_F(Scene, ALongSpinStaysARotation) {
    for (int frame = 0; frame < (1 << 20); ++frame) applyRotationStep();
    const float* m = viewer.objectMatrix;
    EXPECT_LT(orthonormalDeviation(m), 1e-5);
    // The spin has gone round the axis: 2^20 frames of 0.2 degrees.
    double turns = (1 << 20) * 0.2 / 360.0;
    double expectedAngle = (turns - std::floor(turns)) * 2 * M_PI;
    double trace = m[0] + m[5] + m[10];
    EXPECT_NEAR(std::acos((trace - 1) / 2), std::min(expectedAngle, 2 * M_PI - expectedAngle), 0.05);
}

// Captures what drawMesh sends: window coordinates map back to positions,
// and with one white light along each axis the corner colours are the
// normal's components (positive ones in the first pass, negative in the second).
class MeshDrawing : public Scene {
protected:
    std::vector<float> feedback(const MeshObject& mesh, float sign) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-2, 2, -2, 2, -2, 2);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glViewport(0, 0, 4, 4);
        glDisable(GL_FOG);
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_LIGHTING);
        const float none[4] = {0, 0, 0, 1};
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
        glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
        for (int i = 0; i < 8; ++i) glDisable(GLenum(GL_LIGHT0 + i));
        const float white[4] = {1, 1, 1, 1};
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, none);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, none);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
        for (int axis = 0; axis < 3; ++axis) {
            GLenum light = GLenum(GL_LIGHT0 + axis);
            float colour[4] = {0, 0, 0, 1}, direction[4] = {0, 0, 0, 0};
            colour[axis] = 1;
            direction[axis] = sign;
            glLightfv(light, GL_AMBIENT, none);
            glLightfv(light, GL_SPECULAR, none);
            glLightfv(light, GL_DIFFUSE, colour);
            glLightfv(light, GL_POSITION, direction);
            glEnable(light);
        }
        std::vector<float> buffer(size_t(mesh.faceCount) * 3 * 8 * 2 + 64);
        glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR, buffer.data());
        glRenderMode(GL_FEEDBACK);
        drawMeshObject(mesh);
        GLint used = glRenderMode(GL_RENDER);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        buffer.resize(size_t(std::max(used, 0)));
        return buffer;
    }
};

TEST_F(MeshDrawing, SendsEveryCornerWithItsNormalInStoredOrder) {
    for (float sign : {1.0f, -1.0f}) {
        std::vector<float> buffer = feedback(cylinderMesh, sign);
        size_t at = 0;
        int corners = 0;
        while (at < buffer.size()) {
            ASSERT_EQ(buffer[at], float(GL_POLYGON_TOKEN));
            ASSERT_EQ(buffer[at + 1], 3.0f);
            at += 2;
            for (int c = 0; c < 3; ++c, ++corners, at += 7) {
                ASSERT_LT(corners, 3 * cylinderMesh.faceCount);
                const MeshFace& face = cylinderMesh.faces[corners / 3];
                const float* position = cylinderMesh.vertices[face.vertexIndices[c]];
                const float* normal = cylinderMesh.normals[face.normalIndices[c]];
                // Window x, y = position / 2 + 1 on a 4-pixel viewport; z = (position / 2 + 1) / 2.
                ASSERT_NEAR(buffer[at], position[0] + 2, 1e-4) << "corner " << corners;
                ASSERT_NEAR(buffer[at + 1], position[1] + 2, 1e-4) << "corner " << corners;
                ASSERT_NEAR(buffer[at + 2], (-position[2] / 2 + 1) / 2, 1e-4) << "corner " << corners;
                for (int k = 0; k < 3; ++k)
                    ASSERT_NEAR(buffer[at + 3 + size_t(k)], std::max(0.0f, sign * normal[k]), 2e-3)
                        << "corner " << corners << " normal component " << k;
            }
        }
        EXPECT_EQ(corners, 4368);
    }
}

TEST_F(MeshDrawing, AnEmptyMeshStillIssuesAMatchedBeginAndEnd) {
    MeshObject empty = cylinderMesh;
    empty.faceCount = 0;
    glLineWidth(1.0f);
    EXPECT_TRUE(feedback(empty, 1.0f).empty());
    float width;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_FLOAT_EQ(width, 1.5f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "glBegin and glEnd paired";
}

}  // namespace
