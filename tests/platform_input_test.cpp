// X events turned into the window messages the platform promises for them,
// driven by real input through XTEST and by requests a desktop would send.
#include "layer_test.h"

#include "platform/x11/internal.h"

#include <X11/keysym.h>

#include <csignal>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using PlatformInput = PrivateServerTest;

const int windowX = 100, windowY = 50;

HWND showTestWindow(const char* title = "input") {
    return createRecordingWindow(title, windowX, windowY, 300, 200, true);
}

TEST_F(PlatformInput, KeysBecomeKeyDownAndTranslateToTheTypedCharacter) {
    HWND window = showTestWindow();
    movePointer(user, windowX + 10, windowY + 10);
    struct Case {
        unsigned long keysym;
        bool shift;
        WPARAM virtualKey, character;
    };
    for (Case key : {Case{XK_f, false, 'F', 102}, Case{XK_f, true, 'F', 70}, Case{XK_Escape, false, VK_ESCAPE, 27},
                     Case{XK_p, false, 'P', 112}, Case{XK_j, false, 'J', 106}}) {
        recorded.clear();
        pressKey(user, key.keysym, key.shift);
        ASSERT_TRUE(pumpUntil([] { return !recordedMessages(WM_CHAR).empty() && !recordedMessages(WM_KEYUP).empty(); }))
            << "keysym " << key.keysym;
        const RecordedMessage* down = lastRecorded(WM_KEYDOWN);
        ASSERT_NE(down, nullptr);
        EXPECT_EQ(down->window, window);
        EXPECT_EQ(down->wParam, key.virtualKey);
        EXPECT_EQ(down->lParam & 0xffff, 1) << "repeat count";
        EXPECT_EQ(lastRecorded(WM_CHAR)->wParam, key.character);
        EXPECT_EQ(recordedMessages(WM_CHAR).size(), 1u);
    }
}

TEST_F(PlatformInput, LeftButtonAndMotionArriveInClientCoordinates) {
    HWND window = showTestWindow();
    movePointer(user, windowX + 30, windowY + 20);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_MOUSEMOVE) != nullptr; }));
    recorded.clear();
    setButton(user, 1, true);
    movePointer(user, windowX + 45, windowY + 25);
    setButton(user, 1, false);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_LBUTTONUP) != nullptr; }));
    const RecordedMessage* down = lastRecorded(WM_LBUTTONDOWN);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->window, window);
    EXPECT_EQ(GET_X_LPARAM(down->lParam), 30);
    EXPECT_EQ(GET_Y_LPARAM(down->lParam), 20);
    EXPECT_TRUE(down->wParam & MK_LBUTTON);
    const RecordedMessage* move = lastRecorded(WM_MOUSEMOVE);
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(GET_X_LPARAM(move->lParam), 45);
    EXPECT_EQ(GET_Y_LPARAM(move->lParam), 25);
    const RecordedMessage* up = lastRecorded(WM_LBUTTONUP);
    EXPECT_EQ(GET_X_LPARAM(up->lParam), 45);
    EXPECT_FALSE(up->wParam & MK_LBUTTON);
    // Order as the user did it.
    std::vector<UINT> mouse;
    for (UINT m : recordedMessages())
        if (m == WM_LBUTTONDOWN || m == WM_MOUSEMOVE || m == WM_LBUTTONUP) mouse.push_back(m);
    ASSERT_GE(mouse.size(), 3u);
    EXPECT_EQ(mouse.front(), UINT(WM_LBUTTONDOWN));
    EXPECT_EQ(mouse.back(), UINT(WM_LBUTTONUP));
}

TEST_F(PlatformInput, ConsecutiveMovesCoalesceIntoTheLatest) {
    showTestWindow();
    movePointer(user, windowX + 1, windowY + 1);
    pumpUntil([] { return lastRecorded(WM_MOUSEMOVE) != nullptr; });
    recorded.clear();
    for (int i = 2; i <= 100; ++i) movePointer(user, windowX + i, windowY + 1);
    XSync(user, False);
    MSG msg;
    // The queued move reaches the last position once every motion is read.
    waitUntil([&] { return PeekMessageA(&msg, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_NOREMOVE) &&
                           GET_X_LPARAM(msg.lParam) == 100; },
              20000);
    int moves = 0;
    int lastX = -1;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_MOUSEMOVE) {
            ++moves;
            lastX = GET_X_LPARAM(msg.lParam);
        }
        DispatchMessageA(&msg);  // a paint would otherwise come again and again
    }
    EXPECT_GE(moves, 1);
    EXPECT_LT(moves, 10);
    EXPECT_EQ(lastX, 100);
}

TEST_F(PlatformInput, CaptureDeliversMovesAndReleaseOutsideTheWindowWithNegativeCoordinates) {
    HWND window = showTestWindow();
    movePointer(user, windowX + 10, windowY + 10);
    setButton(user, 1, true);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_LBUTTONDOWN) != nullptr; }));
    EXPECT_EQ(SetCapture(window), nullptr);
    EXPECT_EQ(GetCapture(), window);
    movePointer(user, 5, 3);  // left of and above the window
    ASSERT_TRUE(pumpUntil([] {
        const RecordedMessage* move = lastRecorded(WM_MOUSEMOVE);
        return move && GET_X_LPARAM(move->lParam) < 0;
    }));
    EXPECT_EQ(GET_X_LPARAM(lastRecorded(WM_MOUSEMOVE)->lParam), 5 - windowX);
    EXPECT_EQ(GET_Y_LPARAM(lastRecorded(WM_MOUSEMOVE)->lParam), 3 - windowY);
    movePointer(user, 1200, 900);  // right of and below it
    setButton(user, 1, false);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_LBUTTONUP) != nullptr; }));
    EXPECT_EQ(GET_X_LPARAM(lastRecorded(WM_LBUTTONUP)->lParam), 1200 - windowX);
    EXPECT_EQ(GET_Y_LPARAM(lastRecorded(WM_LBUTTONUP)->lParam), 900 - windowY);

    ReleaseCapture();
    EXPECT_EQ(GetCapture(), nullptr);
    recorded.clear();
    movePointer(user, 1100, 800);
    pumpUntil([] { return false; }, 200);
    EXPECT_TRUE(recordedMessages(WM_MOUSEMOVE).empty()) << "without capture, moves outside do not arrive";
}

TEST_F(PlatformInput, AResizeByAnotherClientGivesOneWmSizeAndAMoveGivesNone) {
    showTestWindow("resized");
    Window xid = layerWindow(user, "resized");
    recorded.clear();
    XResizeWindow(user, xid, 220, 180);
    XSync(user, False);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_SIZE) != nullptr; }));
    EXPECT_EQ(LOWORD(lastRecorded(WM_SIZE)->lParam), 220);
    EXPECT_EQ(HIWORD(lastRecorded(WM_SIZE)->lParam), 180);
    XMoveWindow(user, xid, 10, 10);
    XSync(user, False);
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(recordedMessages(WM_SIZE).size(), 1u);
}

TEST_F(PlatformInput, UncoveringTheWindowAsksForPaint) {
    showTestWindow("covered");
    pumpUntil([] { return false; }, 100);
    Window cover = XCreateSimpleWindow(user, DefaultRootWindow(user), windowX + 20, windowY + 20, 100, 100, 0, 0, 0);
    XMapWindow(user, cover);
    ASSERT_TRUE(waitUntil([&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(user, cover, &attributes) && attributes.map_state == IsViewable;
    }, 20000));
    recorded.clear();
    XDestroyWindow(user, cover);
    XSync(user, False);
    EXPECT_TRUE(pumpUntil([] { return lastRecorded(WM_PAINT) != nullptr; }));
}

TEST_F(PlatformInput, TheWindowManagersCloseRequestGivesWmCloseWhoseDefaultDestroys) {
    HWND window = showTestWindow("closing");
    requestClose(user, layerWindow(user, "closing"));
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_DESTROY) != nullptr; }));
    EXPECT_NE(lastRecorded(WM_CLOSE), nullptr);
    EXPECT_FALSE(IsWindow(window));
    syncLayer();
    EXPECT_TRUE(windowsNamed(user, "closing").empty());
}

TEST_F(PlatformInput, ShowingTakesTheFocusOfferingThePaletteFirst) {
    showTestWindow("focus");
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_SETFOCUS) != nullptr; }));
    std::vector<UINT> focus;
    for (UINT m : recordedMessages())
        if (m == WM_QUERYNEWPALETTE || m == WM_SETFOCUS) focus.push_back(m);
    EXPECT_EQ(focus, (std::vector<UINT>{WM_QUERYNEWPALETTE, WM_SETFOCUS}));
    Window focused;
    int revert;
    XGetInputFocus(user, &focused, &revert);
    EXPECT_EQ(focused, layerWindow(user, "focus"));
}

// The process's resident memory in kilobytes: "VmRSS" now, "VmHWM" at its
// peak since resetPeakMemory.
long ownMemory(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1;
}

void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

const long backlogEvents = 1500000;  // 48 MB on the wire

// Whether a process is asleep, waiting for something.
bool isAsleep(pid_t process) {
    std::string stat = fileText("/proc/" + std::to_string(process) + "/stat");
    size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

// The server holds a backlog of events for the layer and stops; the layer's
// next round trip then finds its socket empty long before the answer, which
// comes after the whole backlog once the server goes on. What `roundTrip`
// made the process grow by at its peak, in kilobytes.
long peakGrowthBehindABacklog(Display* user, pid_t server, Window window, const std::function<void()>& roundTrip) {
    XEvent mapping{};  // of which only the latest matters
    mapping.xmapping.type = MappingNotify;
    mapping.xmapping.window = window;
    mapping.xmapping.request = MappingKeyboard;
    mapping.xmapping.first_keycode = 8;
    mapping.xmapping.count = 1;
    for (long i = 0; i < backlogEvents; ++i) XSendEvent(user, window, False, NoEventMask, &mapping);
    XSync(user, False);
    kill(server, SIGSTOP);
    pid_t test = getpid();
    pid_t resumer = forkChild();
    if (resumer == 0) {
        waitUntil([test] { return isAsleep(test); }, 20000);
        kill(server, SIGCONT);
        _exit(0);
    }
    resetPeakMemory();
    long before = ownMemory("VmRSS");
    roundTrip();
    long growth = ownMemory("VmHWM") - before;
    waitpid(resumer, nullptr, 0);
    kill(server, SIGCONT);
    return growth;
}

void expectLittleGrowth(long growthKb, const char* roundTrip) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's quarantine keeps freed memory resident on purpose:
    // there the backlog looks for faults, not figures.
    (void)growthKb, (void)roundTrip;
#else
    EXPECT_LT(growthKb, 20 * 1024) << "kB, " << roundTrip << ", for a backlog of " << backlogEvents << " events";
#endif
}

// The backlog is judged as it arrives, as any other reading is: it does
// not pile up in memory on its way to the answer, whether the server
// answers the request or refuses it.
TEST_F(PlatformInput, ARoundTripBehindTheServersBacklogKeepsOnlyWhatTheQueueKeeps) {
    showTestWindow("backlog");
    Window xid = layerWindow(user, "backlog");
    long growth = peakGrowthBehindABacklog(user, server.pid, xid, [] { syncLayer(); });
    expectLittleGrowth(growth, "answered");

    Window gone = XCreateSimpleWindow(user, DefaultRootWindow(user), 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(user, gone);
    Status status = -1;
    growth = peakGrowthBehindABacklog(user, server.pid, xid, [&status, gone] {
        Window root;
        int x, y;
        unsigned width, height, border, depth;
        status = XGetGeometry(x11Display(), gone, &root, &x, &y, &width, &height, &border, &depth);
    });
    EXPECT_EQ(status, 0) << "the request fails, and the program goes on";
    expectLittleGrowth(growth, "refused");

    // And the window still answers.
    recorded.clear();
    pressKey(user, XK_a);
    EXPECT_TRUE(pumpUntil([] { return lastRecorded(WM_KEYDOWN) != nullptr; }));
}

}  // namespace
