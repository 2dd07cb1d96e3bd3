#include "model/mesh.h"

#include "platform/win32.h"

#include <GL/gl.h>

void drawMeshObject(const MeshObject& mesh) {
    glLineWidth(1.5f);
    glBegin(GL_TRIANGLES);
    for (int32_t f = 0; f < mesh.faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        for (int c = 0; c < 3; ++c) {
            const float* normal = mesh.normals[face.normalIndices[c]];
            const float* vertex = mesh.vertices[face.vertexIndices[c]];
            glNormal3f(normal[0], normal[1], normal[2]);
            glVertex3f(vertex[0], vertex[1], vertex[2]);
        }
    }
    glEnd();
}

void drawMesh() { drawMeshObject(cylinderMesh); }
