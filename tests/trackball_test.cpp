// The trackball's mapping, state table and transitions. The trackball never
// touches OpenGL, so these run without a display.
#include "interaction/trackball.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const int side = 819;

class Trackball : public ::testing::Test {
protected:
    void SetUp() override {
        viewer = ViewerState{};
        viewer.windowWidth = side;
        viewer.windowHeight = side;
    }
};

void expectVector(Vector3 v, float x, float y, float z, float tolerance = 1e-6f) {
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

// The rows of the trackball's state table.
struct TrackballState {
    int32_t tracking, applyRotation, continueSpin;
};
const TrackballState spinning{0, 1, 1}, dragging{1, 1, 0}, stopped{0, 0, 0};

void expectState(TrackballState state) {
    EXPECT_EQ(viewer.tracking, state.tracking);
    EXPECT_EQ(viewer.applyRotation, state.applyRotation);
    EXPECT_EQ(viewer.continueSpin, state.continueSpin);
}

double lengthOf(Vector3 v) { return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z); }

TEST_F(Trackball, MappingReferencePoints) {
    expectVector(projectToSphere(400, 300, 800, 600), 0, 0, 1);
    // The left, right, top and bottom edges reach the rim of the hemisphere.
    expectVector(projectToSphere(0, 300, 800, 600), -1, 0, 0, 1e-6f);
    expectVector(projectToSphere(800, 300, 800, 600), 1, 0, 0, 1e-6f);
    expectVector(projectToSphere(400, 0, 800, 600), 0, 1, 0, 1e-6f);
    expectVector(projectToSphere(400, 600, 800, 600), 0, -1, 0, 1e-6f);
    // Half-way to the right edge: z = cos(pi/4).
    Vector3 half = projectToSphere(600, 300, 800, 600);
    EXPECT_NEAR(half.z / half.x, std::cos(M_PI / 4) / 0.5, 1e-5);
    // Outside the inscribed circle the point lands on the rim, in the x-y plane.
    Vector3 corner = projectToSphere(800, 0, 800, 600);
    expectVector(corner, float(M_SQRT1_2), float(M_SQRT1_2), 0, 1e-6f);
}

TEST_F(Trackball, MappingIsUnitLengthAndFiniteEvenAtThe16BitLimits) {
    const int coordinates[] = {-32768, -1000, -1, 0, 1, 409, 410, 818, 819, 5000, 32767};
    for (int x : coordinates)
        for (int y : coordinates) {
            Vector3 p = projectToSphere(x, y, side, side);
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) << x << "," << y;
            EXPECT_NEAR(lengthOf(p), 1.0, 1e-6) << x << "," << y;
            EXPECT_GE(p.z, -1e-7f);
        }
}

TEST_F(Trackball, PressEntersDraggingFromAnyState) {
    for (TrackballState start : {spinning, dragging, stopped}) {
        viewer.tracking = start.tracking;
        viewer.applyRotation = start.applyRotation;
        viewer.continueSpin = start.continueSpin;
        viewer.angle = 3.0f;
        beginDrag(100, 200);
        expectState(dragging);
        EXPECT_EQ(viewer.startX, 100);
        EXPECT_EQ(viewer.startY, 200);
        Vector3 expected = projectToSphere(100, 200, side, side);
        expectVector(viewer.lastPos, expected.x, expected.y, expected.z, 0);
        // The press keeps the previous rotation and asks for no frame.
        EXPECT_EQ(viewer.angle, 3.0f);
        EXPECT_EQ(viewer.idleCallback, nullptr);
    }
}

TEST_F(Trackball, MoveComputesChordAngleAndCrossProductAxis) {
    beginDrag(409, 409);
    Vector3 from = viewer.lastPos;
    dragTo(600, 300);
    Vector3 to = projectToSphere(600, 300, side, side);
    double chord = std::sqrt(std::pow(to.x - from.x, 2) + std::pow(to.y - from.y, 2) + std::pow(to.z - from.z, 2));
    EXPECT_NEAR(viewer.angle, 90.0 * chord, 1e-4);
    expectVector(viewer.axis, from.y * to.z - from.z * to.y, from.z * to.x - from.x * to.z,
                 from.x * to.y - from.y * to.x, 1e-6f);
    expectVector(viewer.lastPos, to.x, to.y, to.z, 0);
    EXPECT_EQ(viewer.idleCallback, idleStep);
}

TEST_F(Trackball, MoveToTheSamePointGivesNoRotation) {
    beginDrag(300, 300);
    dragTo(300, 300);
    EXPECT_EQ(viewer.angle, 0.0f);
    expectVector(viewer.axis, 0, 0, 0, 0);
}

TEST_F(Trackball, MovesOutsideADragChangeNothing) {
    ViewerState before = viewer;
    dragTo(10, 10);
    EXPECT_EQ(viewer.angle, before.angle);
    expectVector(viewer.axis, before.axis.x, before.axis.y, before.axis.z, 0);
    expectVector(viewer.lastPos, 0, 0, 0, 0);
    EXPECT_EQ(viewer.idleCallback, nullptr);
}

TEST_F(Trackball, ReleaseAtThePressPointStops) {
    beginDrag(250, 260);
    dragTo(400, 400);
    dragTo(250, 260);  // back to the press point
    endDrag(250, 260);
    expectState(stopped);
    EXPECT_EQ(viewer.angle, 0.0f);
    EXPECT_EQ(viewer.idleCallback, idleStep);
}

TEST_F(Trackball, ReleaseElsewhereSpinsSlowlyAboutTheLastAxis) {
    beginDrag(250, 260);
    dragTo(300, 300);
    dragTo(350, 310);
    Vector3 lastAxis = viewer.axis;
    endDrag(351, 310);
    expectState(spinning);
    EXPECT_EQ(viewer.angle, 0.2f);
    expectVector(viewer.axis, lastAxis.x, lastAxis.y, lastAxis.z, 0);
    EXPECT_EQ(viewer.idleCallback, idleStep);
}

TEST_F(Trackball, ReleaseWhileStoppedChangesNothingAndAsksForNoFrame) {
    beginDrag(5, 5);
    endDrag(5, 5);
    viewer.idleCallback = nullptr;
    endDrag(90, 90);
    expectState(stopped);
    EXPECT_EQ(viewer.angle, 0.0f);
    EXPECT_EQ(viewer.idleCallback, nullptr);
}

TEST_F(Trackball, ReleaseWhileSpinningWithoutAPressUsesThePreviousPressPoint) {
    // No press since start-up: the press point is (0, 0).
    endDrag(0, 0);
    expectState(stopped);

    SetUp();
    viewer.angle = 7.0f;
    endDrag(12, 0);
    expectState(spinning);
    EXPECT_EQ(viewer.angle, 0.2f);
    expectVector(viewer.axis, 0.2f, 0.3f, 1.0f, 0);
}

// Chaining the moves' rotations as successive frames would.
TEST_F(Trackball, CentreToEdgeTurnsAQuarterCircleInSmallStepsAndLessInOneJump) {
    int centre = side / 2;
    beginDrag(centre, centre);
    double total = 0;
    for (int x = centre + 1; x <= side; ++x) {
        dragTo(x, centre);
        total += viewer.angle;
        // A horizontal drag turns about the vertical axis (the centre of an
        // odd-sized window lies half a pixel off the mapping's centre).
        if (viewer.angle > 0) EXPECT_GT(viewer.axis.y / lengthOf(viewer.axis), 0.9999);
    }
    EXPECT_NEAR(total, 90.0 * M_PI / 2, 0.5);  // about 141 degrees

    SetUp();
    beginDrag(centre, centre);
    dragTo(side, centre);
    EXPECT_NEAR(viewer.angle, 90.0 * std::sqrt(2.0), 0.5);  // about 127 degrees
}

TEST_F(Trackball, FarOutsidePointsAddLittleRotation) {
    beginDrag(side / 2, side / 2);
    dragTo(side, side / 2);
    dragTo(20000, side / 2);
    EXPECT_LT(viewer.angle, 0.5f);
    dragTo(-32768, 32767);
    EXPECT_TRUE(std::isfinite(viewer.angle));
    EXPECT_TRUE(std::isfinite(viewer.axis.x) && std::isfinite(viewer.axis.y) && std::isfinite(viewer.axis.z));
}

}  // namespace
