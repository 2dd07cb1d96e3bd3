// The redraw mechanism and the real message loop in the viewer's window.
#include "viewer_window.h"

#include "scene/scene.h"

#include <cmath>
#include <cstring>

namespace {

void otherCallback() {}

TEST(RedrawMechanism, RequestFillsAnEmptySlotAndLeavesAFilledOne) {
    viewer = ViewerState{};
    requestRedraw();
    EXPECT_EQ(viewer.idleCallback, idleStep);
    requestRedraw();
    EXPECT_EQ(viewer.idleCallback, idleStep);
    viewer.idleCallback = otherCallback;
    requestRedraw();
    EXPECT_EQ(viewer.idleCallback, otherCallback);
}

// The rotation that objectMatrix holds: angle in degrees, and unit axis.
double rotationDegrees(const float* m) {
    double cosine = (m[0] + m[5] + m[10] - 1.0) / 2.0;
    return std::acos(std::max(-1.0, std::min(1.0, cosine))) * 180.0 / M_PI;
}

Vector3 rotationAxis(const float* m) {
    double x = m[6] - m[9], y = m[8] - m[2], z = m[1] - m[4];
    double length = std::sqrt(x * x + y * y + z * z);
    return Vector3{float(x / length), float(y / length), float(z / length)};
}

float matrixAtEsc[16];
HWND recorderWindow = nullptr;
float matrixAtPost[16];
float matrixAtDispatch[16];
int ticks = 0;

// Runs on the loop's own thread when its timer message is dispatched.
void CALLBACK pressEscape(HWND window, UINT, UINT_PTR, DWORD) {
    std::memcpy(matrixAtEsc, viewer.objectMatrix, sizeof matrixAtEsc);
    PostMessageA(window, WM_CHAR, 27, 0);
}

// Presses Esc once the loop has rendered enough frames, however long a
// loaded machine takes for them; only a generous deadline bounds the wait.
const double framesWanted = 12;
double escapeDeadline = 0;

void CALLBACK pressEscapeAfterFrames(HWND window, UINT, UINT_PTR id, DWORD) {
    if (rotationDegrees(viewer.objectMatrix) / 0.2 < framesWanted && monotonicSeconds() < escapeDeadline) return;
    KillTimer(window, id);
    pressEscape(window, WM_TIMER, id, 0);
}

void CALLBACK postToRecorder(HWND window, UINT, UINT_PTR id, DWORD) {
    if (++ticks == 1) {
        std::memcpy(matrixAtPost, viewer.objectMatrix, sizeof matrixAtPost);
        PostMessageA(recorderWindow, WM_USER, 0, 0);
        return;
    }
    KillTimer(window, id);
    PostMessageA(window, WM_CHAR, 27, 0);
}

class MainLoop : public ViewerWindowTest {
    int windowSide() const override { return 200; }
};

TEST_F(MainLoop, IdleStepRendersOneFrameAndUninstallsItselfUnlessSpinning) {
    viewer.angle = 10.0f;
    viewer.axis = Vector3{0, 0, 1};
    viewer.continueSpin = 0;
    requestRedraw();
    idleStep();
    EXPECT_EQ(viewer.idleCallback, nullptr);
    EXPECT_NEAR(rotationDegrees(viewer.objectMatrix), 10.0, 1e-3);
    viewer.continueSpin = 1;
    requestRedraw();
    idleStep();
    EXPECT_EQ(viewer.idleCallback, idleStep);
    EXPECT_NEAR(rotationDegrees(viewer.objectMatrix), 20.0, 1e-3);
}

TEST_F(MainLoop, FromStartUpFramesFollowContinuouslyTurningAboutTheStartAxis) {
    escapeDeadline = monotonicSeconds() + 30;
    SetTimer(window, 2, 20, pressEscapeAfterFrames);
    EXPECT_EQ(runMessageLoop(), 0);
    double turned = rotationDegrees(viewer.objectMatrix);
    double frames = turned / 0.2;
    EXPECT_GE(frames, framesWanted - 0.05) << "frames follow each other without input";
    EXPECT_NEAR(frames, std::round(frames), 0.05) << "each frame turns 0.2 degrees";
    Vector3 axis = rotationAxis(viewer.objectMatrix);
    double length = std::sqrt(0.2 * 0.2 + 0.3 * 0.3 + 1.0);
    EXPECT_NEAR(axis.x, 0.2 / length, 1e-3);
    EXPECT_NEAR(axis.y, 0.3 / length, 1e-3);
    EXPECT_NEAR(axis.z, 1.0 / length, 1e-3);
    // Esc renders no further frame.
    EXPECT_EQ(0, std::memcmp(viewer.objectMatrix, matrixAtEsc, sizeof matrixAtEsc));
    EXPECT_EQ(viewer.idleCallback, nullptr);
    EXPECT_EQ(viewer.renderingContext, nullptr);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(MainLoop, AMessageArrivingWhileAnimatingIsDispatchedBeforeTheNextFrame) {
    recordingBehaviour = [](HWND w, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_USER) std::memcpy(matrixAtDispatch, viewer.objectMatrix, sizeof matrixAtDispatch);
        return DefWindowProcA(w, message, wParam, lParam);
    };
    recorderWindow = createRecordingWindow("recorder", 300, 0, 20, 20, false);
    SetTimer(window, 3, 150, postToRecorder);
    EXPECT_EQ(runMessageLoop(), 0);
    ASSERT_NE(lastRecorded(WM_USER), nullptr);
    EXPECT_GT(rotationDegrees(matrixAtPost), 0.0) << "the model was spinning";
    EXPECT_EQ(0, std::memcmp(matrixAtPost, matrixAtDispatch, sizeof matrixAtPost));
}

TEST_F(MainLoop, WithNothingScheduledTheLoopBlocks) {
    viewer.continueSpin = 0;
    viewer.applyRotation = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);  // the first paint
    idleStep();
    ASSERT_EQ(viewer.idleCallback, nullptr);
    double before = cpuSecondsUsed();
    SetTimer(window, 2, 500, pressEscape);
    EXPECT_EQ(runMessageLoop(), 0);
    // Typically a few milliseconds; spinning would take about half a second.
    EXPECT_LT(cpuSecondsUsed() - before, 0.25) << "half a second of waiting must cost next to nothing";
}

TEST_F(MainLoop, AClickStopsTheSpinAfterAtMostOneMoreFrame) {
    for (int frame = 0; frame < 5; ++frame) idleStep();  // spinning
    double atPress = rotationDegrees(viewer.objectMatrix);
    LPARAM point = MAKELPARAM(50, 60);
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(window, WM_LBUTTONUP, 0, point);
    // What the loop does while the queue is empty, until it would block.
    int frames = 0;
    while (viewer.idleCallback && frames < 100) {
        viewer.idleCallback();
        ++frames;
    }
    EXPECT_LE(frames, 2) << "one frame for the release, at most one more of the old spin";
    EXPECT_LE(rotationDegrees(viewer.objectMatrix) - atPress, 0.2 + 1e-3);
    double stopped = rotationDegrees(viewer.objectMatrix);
    requestRedraw();
    idleStep();
    EXPECT_EQ(rotationDegrees(viewer.objectMatrix), stopped) << "stopped";
}

// Retrieval fails once another client has destroyed the viewer's window:
// the queue can no longer serve the program.
Display* otherClient = nullptr;
Window viewerXid = 0;
void CALLBACK destroyFromElsewhere(HWND, UINT, UINT_PTR, DWORD) {
    XDestroyWindow(otherClient, viewerXid);
    XSync(otherClient, False);
}

TEST_F(MainLoop, AFailedFirstRetrievalEndsTheLoopAsAFailure) {
    otherClient = user;
    viewerXid = xid;
    viewer.continueSpin = 0;
    destroyFromElsewhere(window, WM_TIMER, 0, 0);
    EXPECT_EQ(runMessageLoop(), 1) << "the very first retrieval failed";
}

TEST_F(MainLoop, ARetrievalFailingLaterEndsTheLoopAsAFailure) {
    otherClient = user;
    viewerXid = xid;
    viewer.continueSpin = 0;
    PostMessageA(window, WM_CHAR, 'j', 0);  // a message with wParam 0 would otherwise be reported
    PostMessageA(window, WM_USER, 0, 0);
    SetTimer(window, 5, 200, destroyFromElsewhere);
    EXPECT_EQ(runMessageLoop(), 1);
}

}  // namespace
