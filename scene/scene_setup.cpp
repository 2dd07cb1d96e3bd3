#include "scene/scene.h"

#include "app/viewer_state.h"

#include <GL/gl.h>

#include <cstring>

const float lightDirections[7][4] = {
    {0.7f, 0.7f, 1.25f, 0.0f}, {0.0f, 4.0f, 0.0f, 0.0f},   {5.0f, -6.0f, -2.0f, 0.0f},
    {0.0f, -3.0f, 4.0f, 0.0f}, {0.0f, -2.0f, -5.0f, 0.0f}, {0.0f, 0.0f, -8.0f, 0.0f},
    {-20.0f, -10.0f, -2.0f, 0.0f},
};

namespace {

struct LightColours {
    float ambient[4], diffuse[4], specular[4];
};

// Lights 1 to 6; light 0 keeps OpenGL's own colours.
const LightColours lightColours[6] = {
    {{0.35f, 0.35f, 0.65f, 1.0f}, {0.2f, 0.2f, 0.5f, 1.0f}, {0.2f, 0.2f, 0.65f, 1.0f}},
    {{0.65f, 0.75f, 0.45f, 1.0f}, {0.4f, 0.3f, 0.3f, 1.0f}, {0.65f, 0.85f, 0.85f, 1.0f}},
    {{0.65f, 0.65f, 0.35f, 1.0f}, {0.4f, 0.4f, 0.05f, 1.0f}, {0.65f, 0.65f, 0.85f, 1.0f}},
    {{0.55f, 0.55f, 0.55f, 1.0f}, {0.4f, 0.5f, 0.3f, 1.0f}, {0.2f, 0.7f, 0.35f, 1.0f}},
    {{0.05f, 0.6f, 0.05f, 1.0f}, {0.0f, 0.5f, 0.0f, 1.0f}, {0.05f, 0.6f, 0.08f, 1.0f}},
    {{0.4f, 0.4f, 0.4f, 1.0f}, {0.4f, 0.4f, 0.05f, 1.0f}, {0.65f, 0.55f, 0.55f, 1.0f}},
};

struct Material {
    GLenum face;
    float ambient[4], diffuse[4], specular[4];
    float shininess;
};

const Material materials[2] = {
    {GL_FRONT, {0.1f, 0.05f, 0.05f, 1.0f}, {0.75f, 0.5f, 0.4f, 0.6f}, {0.23f, 0.23f, 0.25f, 1.0f}, 20.0f},
    {GL_BACK, {0.01f, 0.025f, 0.01f, 1.0f}, {0.5f, 0.75f, 0.4f, 0.6f}, {0.23f, 0.1f, 0.23f, 1.0f}, 20.0f},
};

const float fogColour[4] = {0.4f, 0.4f, 0.5f, 1.0f};

// One unit in the last place above the float nearest to 0.243 (0x3E78D4FF).
float fogDensity() {
    const uint32_t bits = 0x3E78D4FFu;
    float density;
    std::memcpy(&density, &bits, sizeof density);
    return density;
}

void setLights() {
    for (int light = 0; light < 7; ++light) {
        GLenum name = GLenum(GL_LIGHT0 + light);
        glLightfv(name, GL_POSITION, lightDirections[light]);
        if (light > 0) {
            const LightColours& colours = lightColours[light - 1];
            glLightfv(name, GL_AMBIENT, colours.ambient);
            glLightfv(name, GL_DIFFUSE, colours.diffuse);
            glLightfv(name, GL_SPECULAR, colours.specular);
        }
        // Light 2 is switched on by every frame instead.
        if (light != 2) glEnable(name);
    }
}

}  // namespace

void setProjection() {
    float aspect = float(viewer.windowWidth) / float(viewer.windowHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2.0 * aspect, 2.0 * aspect, -2.0, 2.0, 0.0, 10.0);
    glMatrixMode(GL_MODELVIEW);
}

void setMaterials() {
    for (const Material& material : materials) {
        glMaterialfv(material.face, GL_AMBIENT, material.ambient);
        glMaterialfv(material.face, GL_DIFFUSE, material.diffuse);
        glMaterialfv(material.face, GL_SPECULAR, material.specular);
        glMaterialf(material.face, GL_SHININESS, material.shininess);
    }
}

void initializeScene() {
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, fogDensity());
    glFogfv(GL_FOG_COLOR, fogColour);
    setProjection();
    glTranslatef(0.0f, 0.0f, -0.8f);
    setMaterials();
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
    setLights();
    for (int i = 0; i < 16; ++i) viewer.objectMatrix[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}
