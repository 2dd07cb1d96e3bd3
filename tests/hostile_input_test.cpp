// Long random sequences of presses, moves, releases and keys through the
// real queue and window procedure, with frames in between as the loop
// renders them: the trackball stays in a state of its table and the model's
// matrix stays a finite rotation.
#include "viewer_window.h"

#include <cmath>
#include <random>

namespace {

class HostileInput : public ViewerWindowTest {
    int windowSide() const override { return 160; }
};

void expectConsistent(int step) {
    int32_t t = viewer.tracking, a = viewer.applyRotation, c = viewer.continueSpin;
    bool spinning = t == 0 && a == 1 && c == 1, dragging = t == 1 && a == 1 && c == 0,
         stopped = t == 0 && a == 0 && c == 0;
    ASSERT_TRUE(spinning || dragging || stopped) << "step " << step << ": " << t << a << c;
    ASSERT_TRUE(std::isfinite(viewer.angle)) << "step " << step;
    ASSERT_TRUE(std::isfinite(viewer.axis.x) && std::isfinite(viewer.axis.y) && std::isfinite(viewer.axis.z))
        << "step " << step;
    ASSERT_LT(orthonormalDeviation(viewer.objectMatrix), 1e-5) << "step " << step;
}

TEST_F(HostileInput, RandomSequencesKeepTheTrackballAndTheModelConsistent) {
    std::mt19937 random(20261208);
    const int extremes[] = {-32768, -32767, -1, 0, 1, 79, 80, 159, 160, 32766, 32767};
    auto coordinate = [&]() -> int {
        if (random() % 4 == 0) return extremes[random() % (sizeof extremes / sizeof extremes[0])];
        return int(random() % 400) - 120;
    };
    const WPARAM keys[] = {'f', 'p', 'j', 'k', 'F', 'P', 'x'};
    for (int step = 0; step < 20000; ++step) {
        int x = coordinate(), y = coordinate();
        LPARAM point = MAKELPARAM(WORD(x & 0xffff), WORD(y & 0xffff));
        switch (random() % 8) {
        case 0: PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point); break;
        case 1: PostMessageA(window, WM_LBUTTONUP, 0, point); break;
        case 2: PostMessageA(window, WM_CHAR, keys[random() % 7], 0); break;
        case 3:  // the press point again, which stops the model on release
            PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(WORD(viewer.startX), WORD(viewer.startY)));
            break;
        default: PostMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, point); break;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        // As the loop does when the queue is empty.
        if (viewer.idleCallback && random() % 3 == 0) viewer.idleCallback();
        expectConsistent(step);
        if (HasFatalFailure()) return;
    }
    EXPECT_TRUE(IsWindow(window));
}

}  // namespace
