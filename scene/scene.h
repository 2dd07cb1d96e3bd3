// One-time OpenGL set-up of the scene and the rendering of each frame.
#pragma once

// Directions (w = 0) of the seven directional lights, in eye space.
extern const float lightDirections[7][4];

void initializeScene();
void setProjection();
void setMaterials();

// Draws one frame and presents it in the window.
void renderFrame();
// Everything of a frame but its presentation: pure OpenGL, no window system.
void drawScene();
// Premultiplies objectMatrix by the rotation (angle, axis) through OpenGL.
void applyRotationStep();
