// The embedded cylinder against the model's stated layout and invariants.
#include "model/mesh.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <tuple>

namespace {

using Vec = std::array<double, 3>;

Vec vertex(int index) {
    const float* v = cylinderMesh.vertices[index];
    return {v[0], v[1], v[2]};
}

Vec normal(int index) {
    const float* n = cylinderMesh.normals[index];
    return {n[0], n[1], n[2]};
}

Vec corner(int face, int c) { return vertex(cylinderMesh.faces[face].vertexIndices[c]); }

Vec minus(Vec a, Vec b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec cross(Vec a, Vec b) { return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}; }
double dot(Vec a, Vec b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double length(Vec a) { return std::sqrt(dot(a, a)); }

void expectNear(Vec actual, Vec expected, double tolerance, const std::string& what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[size_t(i)], expected[size_t(i)], tolerance) << what << " [" << i << "]";
}

TEST(CylinderModel, RecordHoldsTheStatedCountsAndReferences) {
    EXPECT_STREQ(cylinderMesh.name, "Cylinder010");
    EXPECT_EQ(cylinderMesh.faceCount, 1456);
    EXPECT_EQ(cylinderMesh.vertexCount, 4368);
    EXPECT_EQ(cylinderMesh.normalCount, 29);
    EXPECT_EQ(cylinderMesh.texCoords, nullptr);
    EXPECT_EQ(cylinderMesh.texCoordCount, 0);
    EXPECT_EQ(cylinderMesh.flag, 1);
    EXPECT_EQ(sizeof(MeshFace), 36u);
}

TEST(CylinderModel, FacesOwnConsecutiveVerticesWithOneNormalAndNoTextureCoordinates) {
    for (int k = 0; k < cylinderMesh.faceCount; ++k) {
        const MeshFace& face = cylinderMesh.faces[k];
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(face.vertexIndices[c], 3 * k + c) << "face " << k;
            ASSERT_EQ(face.normalIndices[c], face.normalIndices[0]) << "face " << k;
            ASSERT_EQ(face.texCoordIndices[c], -1) << "face " << k;
        }
        ASSERT_GE(face.normalIndices[0], 0);
        ASSERT_LT(face.normalIndices[0], cylinderMesh.normalCount);
    }
}

TEST(CylinderModel, EveryRealTriangleIsFollowedByItsDegenerateTwin) {
    for (int m = 0; m < 728; ++m) {
        int real = 2 * m, twin = real + 1;
        EXPECT_EQ(corner(twin, 0), corner(real, 2)) << "twin " << twin;
        EXPECT_EQ(corner(twin, 1), corner(real, 2)) << "twin " << twin;
        EXPECT_EQ(corner(twin, 2), corner(real, 1)) << "twin " << twin;
        EXPECT_EQ(cylinderMesh.faces[twin].normalIndices[0], 1);
        EXPECT_NE(cylinderMesh.faces[real].normalIndices[0], 1) << "real " << real;
        // Real triangles have area; twins have none.
        EXPECT_GT(length(cross(minus(corner(real, 1), corner(real, 0)), minus(corner(real, 2), corner(real, 0)))), 1e-4);
    }
}

TEST(CylinderModel, RealTrianglesWindCounterClockwiseAroundTheirNormal) {
    for (int face = 0; face < cylinderMesh.faceCount; face += 2) {
        Vec winding = cross(minus(corner(face, 1), corner(face, 0)), minus(corner(face, 2), corner(face, 0)));
        Vec n = normal(cylinderMesh.faces[face].normalIndices[0]);
        EXPECT_GT(dot(winding, n) / length(winding), 0.99) << "face " << face;
    }
}

TEST(CylinderModel, NormalTableIsUnitLengthExceptTheZeroEntry) {
    for (int i = 0; i < cylinderMesh.normalCount; ++i) {
        if (i == 1)
            EXPECT_EQ(length(normal(i)), 0.0);
        else
            EXPECT_NEAR(length(normal(i)), 1.0, 1e-6) << "normal " << i;
    }
    expectNear(normal(0), {0, 1, 0}, 0, "top");
    expectNear(normal(28), {0, -1, 0}, 0, "bottom");
    // Exactly two side normals lie on the z axis, none on the x axis.
    expectNear(normal(8), {0, 0, 1}, 0, "sector 6");
    expectNear(normal(21), {0, 0, -1}, 0, "sector 19");
    for (int i = 2; i < 28; ++i) {
        if (i != 8 && i != 21) {
            EXPECT_NE(normal(i)[0], 0.0) << "normal " << i;
        }
        EXPECT_NE(normal(i)[2], 0.0) << "normal " << i;
        EXPECT_EQ(normal(i)[1], 0.0);
    }
}

TEST(CylinderModel, RegionsFollowInFaceOrderAndEachNormalServesItsShare) {
    std::array<int, 29> uses{};
    for (int face = 0; face < cylinderMesh.faceCount; ++face) {
        int n = cylinderMesh.faces[face].normalIndices[0];
        ++uses[size_t(n)];
        if (face % 2) continue;
        if (face < 468)
            EXPECT_EQ(n, 0) << "top cap face " << face;
        else if (face < 988)
            EXPECT_EQ(n, 2 + ((face - 468) / 4) % 26) << "side face " << face;
        else
            EXPECT_EQ(n, 28) << "bottom cap face " << face;
    }
    EXPECT_EQ(uses[0], 234);
    EXPECT_EQ(uses[1], 728);
    EXPECT_EQ(uses[28], 234);
    for (int i = 2; i < 28; ++i) EXPECT_EQ(uses[size_t(i)], 10) << "side normal " << i;
    // Normals are numbered in the order of first use.
    std::vector<int> firstUse;
    std::set<int> seen;
    for (int face = 0; face < cylinderMesh.faceCount; ++face)
        if (seen.insert(cylinderMesh.faces[face].normalIndices[0]).second) firstUse.push_back(face);
    ASSERT_EQ(firstUse.size(), 29u);
    EXPECT_EQ(firstUse[0], 0);
    EXPECT_EQ(firstUse[1], 1);
    for (int s = 0; s < 26; ++s) EXPECT_EQ(firstUse[size_t(2 + s)], 468 + 4 * s);
    EXPECT_EQ(firstUse[28], 988);
}

TEST(CylinderModel, CapsLieFlatAtTheirLevelsAndTheSideAtRadiusOne) {
    for (int face = 0; face < cylinderMesh.faceCount; face += 2)
        for (int c = 0; c < 3; ++c) {
            Vec p = corner(face, c);
            if (face < 468) {
                EXPECT_FLOAT_EQ(float(p[1]), 0.505807f) << "face " << face;
            } else if (face >= 988) {
                EXPECT_FLOAT_EQ(float(p[1]), -0.501839f) << "face " << face;
            } else {
                EXPECT_NEAR(std::hypot(p[0] - 0.00838, p[2] - 0.00133), 1.0, 2e-6) << "face " << face;
            }
        }
}

TEST(CylinderModel, BoundingBoxAndDistinctPositions) {
    Vec low{1e9, 1e9, 1e9}, high{-1e9, -1e9, -1e9};
    std::set<std::tuple<float, float, float>> distinct;
    for (int i = 0; i < cylinderMesh.vertexCount; ++i) {
        const float* v = cylinderMesh.vertices[i];
        distinct.insert({v[0], v[1], v[2]});
        for (size_t k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], double(v[k]));
            high[k] = std::max(high[k], double(v[k]));
        }
    }
    expectNear(low, {-0.991619, -0.501839, -0.991379}, 2e-6, "minimum");
    expectNear(high, {1.008381, 0.505807, 0.994039}, 2e-6, "maximum");
    EXPECT_EQ(distinct.size(), 366u);
}

TEST(CylinderModel, TheSeamClosesOnIdenticalValues) {
    EXPECT_EQ(corner(50, 1), corner(0, 2));
    expectNear(corner(0, 2), {0.208379, 0.505807, 0.001329}, 2e-6, "top seam");
    expectNear(corner(986, 1), {1.008381, -0.300311, 0.001329}, 2e-6, "side seam");
    // ... the very value that sector 0 of the same band starts from.
    EXPECT_EQ(corner(986, 1), corner(884, 0));
}

struct TellingFace {
    int face, normal;
    Vec corners[3];
};

TEST(CylinderModel, TellingFacesHoldTheirStoredCorners) {
    const TellingFace table[] = {
        {0, 0, {{0.008380, 0.505807, 0.001329}, {0.202569, 0.505807, 0.049193}, {0.208379, 0.505807, 0.001329}}},
        {1, 1, {{0.208379, 0.505807, 0.001329}, {0.208379, 0.505807, 0.001329}, {0.202569, 0.505807, 0.049193}}},
        {50, 0, {{0.008380, 0.505807, 0.001329}, {0.208379, 0.505807, 0.001329}, {0.202569, 0.505807, -0.046532}}},
        {52, 0, {{0.208379, 0.505807, 0.001329}, {0.396758, 0.505807, 0.097057}, {0.408381, 0.505807, 0.001329}}},
        {54, 0, {{0.208379, 0.505807, 0.001329}, {0.202569, 0.505807, 0.049193}, {0.396758, 0.505807, 0.097057}}},
        {468, 2, {{1.008381, 0.505807, 0.001329}, {0.979322, 0.304278, 0.240646}, {1.008381, 0.304278, 0.001329}}},
        {470, 2, {{1.008381, 0.505807, 0.001329}, {0.979322, 0.505807, 0.240646}, {0.979322, 0.304278, 0.240646}}},
        {986, 27, {{0.979322, -0.300311, -0.237985}, {1.008381, -0.300311, 0.001329}, {1.008381, -0.501839, 0.001329}}},
        {988, 28, {{1.008381, -0.501839, 0.001329}, {0.785133, -0.501839, 0.192782}, {0.808380, -0.501839, 0.001329}}},
        {990, 28, {{1.008381, -0.501839, 0.001329}, {0.979322, -0.501839, 0.240646}, {0.785133, -0.501839, 0.192782}}},
        {1404, 28, {{0.008380, -0.501839, 0.001329}, {0.208379, -0.501839, 0.001329}, {0.202569, -0.501839, 0.049193}}},
        {1454, 28, {{0.008380, -0.501839, 0.001329}, {0.202569, -0.501839, -0.046532}, {0.208379, -0.501839, 0.001329}}},
        {1455, 1, {{0.208379, -0.501839, 0.001329}, {0.208379, -0.501839, 0.001329}, {0.202569, -0.501839, -0.046532}}},
    };
    for (const TellingFace& row : table) {
        EXPECT_EQ(cylinderMesh.faces[row.face].normalIndices[0], row.normal) << "face " << row.face;
        for (int c = 0; c < 3; ++c)
            expectNear(corner(row.face, c), row.corners[c], 2e-6,
                       "face " + std::to_string(row.face) + " corner " + std::to_string(c));
    }
}

}  // namespace
