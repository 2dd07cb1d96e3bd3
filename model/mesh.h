// The in-memory mesh format and its drawing routine.
#pragma once

#include <cstdint>

struct MeshFace {
    int32_t vertexIndices[3];
    int32_t normalIndices[3];
    int32_t texCoordIndices[3];  // -1: none
};

struct MeshObject {
    const char* name;
    const MeshFace* faces;
    int32_t faceCount;
    const float (*vertices)[3];
    int32_t vertexCount;
    const float (*normals)[3];
    int32_t normalCount;
    const float (*texCoords)[2];
    int32_t texCoordCount;
    int32_t flag;
};

extern const MeshObject cylinderMesh;

// Draws the embedded model with the current OpenGL state.
void drawMesh();
// Emits any mesh as triangles with one normal per corner.
void drawMeshObject(const MeshObject& mesh);
