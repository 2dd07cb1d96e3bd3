// The embedded model "Cylinder010": a closed 26-sided cylinder, produced once
// at start-up by its layout rule and constant from then on.
#include "model/mesh.h"

#include <cmath>

namespace {

const double pi = 3.14159265358979323846;
const int sectorCount = 26;
const int realTriangleCount = 26 + 13 * 52 + 26;
const int faceCount = 2 * realTriangleCount;
const int vertexCount = 3 * faceCount;
const int normalCount = 29;

const double axisX = 0.00838;
const double axisZ = 0.00133;
// The level heights the model holds, bottom to top.
const double levelHeights[6] = {-0.501839, -0.300311, -0.098782, 0.102748, 0.304278, 0.505807};

// (ring, level) pairs from the top axis point out, down the side and in to
// the bottom axis point; each two consecutive pairs form a band.
const int profile[16][2] = {{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {5, 4}, {5, 3},
                            {5, 2}, {5, 1}, {5, 0}, {4, 0}, {3, 0}, {2, 0}, {1, 0}, {0, 0}};

const float normalTable[normalCount][3] = {
    {0.000000f, 1.000000f, 0.000000f},   {0.000000f, 0.000000f, 0.000000f},
    {0.992709f, 0.000000f, 0.120539f},   {0.935017f, 0.000000f, 0.354603f},
    {0.822983f, 0.000000f, 0.568065f},   {0.663122f, 0.000000f, 0.748512f},
    {0.464725f, 0.000000f, 0.885455f},   {0.239315f, 0.000000f, 0.970942f},
    {0.000000f, 0.000000f, 1.000000f},   {-0.239315f, 0.000000f, 0.970942f},
    {-0.464725f, 0.000000f, 0.885455f},  {-0.663122f, 0.000000f, 0.748512f},
    {-0.822987f, 0.000000f, 0.568060f},  {-0.935014f, 0.000000f, 0.354610f},
    {-0.992710f, 0.000000f, 0.120531f},  {-0.992709f, 0.000000f, -0.120532f},
    {-0.935014f, 0.000000f, -0.354610f}, {-0.822987f, 0.000000f, -0.568060f},
    {-0.663122f, 0.000000f, -0.748512f}, {-0.464725f, 0.000000f, -0.885455f},
    {-0.239313f, 0.000000f, -0.970943f}, {0.000000f, 0.000000f, -1.000000f},
    {0.239315f, 0.000000f, -0.970942f},  {0.464721f, 0.000000f, -0.885457f},
    {0.663126f, 0.000000f, -0.748508f},  {0.822983f, 0.000000f, -0.568065f},
    {0.935017f, 0.000000f, -0.354603f},  {0.992708f, 0.000000f, -0.120540f},
    {0.000000f, -1.000000f, 0.000000f},
};

const int topNormal = 0;
const int zeroNormal = 1;
const int firstSideNormal = 2;
const int bottomNormal = 28;

struct Point {
    float x, y, z;
};

struct CylinderData {
    MeshFace faces[faceCount];
    float vertices[vertexCount][3];
};

// Positions are held to six places after the point, as the model stores them.
float toSixPlaces(double value) { return float(std::round(value * 1e6) / 1e6); }

Point profilePoint(int pair, int sector) {
    const double sectorAngle = 2.0 * pi / sectorCount;
    double radius = 0.2 * profile[pair][0];
    double angle = (sector % sectorCount) * sectorAngle;
    return Point{toSixPlaces(axisX + radius * std::cos(angle)), float(levelHeights[profile[pair][1]]),
                 toSixPlaces(axisZ + radius * std::sin(angle))};
}

int bandNormal(int band, int sector) {
    if (band < 5) return topNormal;
    if (band < 10) return firstSideNormal + sector;
    return bottomNormal;
}

struct Builder {
    CylinderData* data;
    int faces = 0;

    void addFace(Point p, Point q, Point r, int normal) {
        MeshFace& face = data->faces[faces];
        const Point corners[3] = {p, q, r};
        for (int c = 0; c < 3; ++c) {
            int vertex = 3 * faces + c;
            data->vertices[vertex][0] = corners[c].x;
            data->vertices[vertex][1] = corners[c].y;
            data->vertices[vertex][2] = corners[c].z;
            face.vertexIndices[c] = vertex;
            face.normalIndices[c] = normal;
            face.texCoordIndices[c] = -1;
        }
        ++faces;
    }

    // Every real triangle is followed by its degenerate twin r, r, q.
    void addTriangle(Point p, Point q, Point r, int normal) {
        addFace(p, q, r, normal);
        addFace(r, r, q, zeroNormal);
    }
};

CylinderData buildCylinder() {
    CylinderData data;
    Builder builder{&data};
    for (int band = 0; band < 15; ++band) {
        for (int s = 0; s < sectorCount; ++s) {
            Point a = profilePoint(band, s), b = profilePoint(band, s + 1);
            Point c = profilePoint(band + 1, s + 1), d = profilePoint(band + 1, s);
            int normal = bandNormal(band, s);
            if (band == 0) {
                builder.addTriangle(a, c, d, normal);
            } else if (band == 14) {
                builder.addTriangle(c, a, b, normal);
            } else {
                builder.addTriangle(a, c, d, normal);
                builder.addTriangle(a, b, c, normal);
            }
        }
    }
    return data;
}

const CylinderData cylinderData = buildCylinder();

}  // namespace

const MeshObject cylinderMesh = {
    "Cylinder010", cylinderData.faces, faceCount,      cylinderData.vertices, vertexCount,
    normalTable,   normalCount,        nullptr,        0,                     1,
};
