// The message queue and window life cycle of the platform layer, as the
// platform documents them.
#include "layer_test.h"

#include <X11/extensions/XTest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <time.h>

namespace {

using PlatformQueue = PrivateServerTest;

TEST_F(PlatformQueue, PostedMessagesArriveFirstInFirstOut) {
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, false);
    for (WPARAM i = 0; i < 5; ++i) ASSERT_TRUE(PostMessageA(window, WM_USER, i, LPARAM(i * 10)));
    MSG msg;
    for (WPARAM i = 0; i < 5; ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        EXPECT_EQ(msg.hwnd, window);
        EXPECT_EQ(msg.message, UINT(WM_USER));
        EXPECT_EQ(msg.wParam, i);
        EXPECT_EQ(msg.lParam, LPARAM(i * 10));
    }
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(PlatformQueue, QuitComesAfterPostedMessagesAndBeforePaint) {
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, true);
    InvalidateRect(window, nullptr, FALSE);
    PostMessageA(window, WM_USER, 1, 0);
    PostQuitMessage(7);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_USER));
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_PAINT));
}

TEST_F(PlatformQueue, PaintWaitsForOtherMessagesAndRepeatsUntilValidated) {
    HWND window = createRecordingWindow("paint", 0, 0, 100, 100, true);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);  // default paint validates
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));

    InvalidateRect(window, nullptr, FALSE);
    PostMessageA(window, WM_USER, 0, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER));
    // Retrieving WM_PAINT does not validate: it comes again until painted.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, UINT(WM_PAINT));
        EXPECT_EQ(msg.hwnd, window);
    }
    PAINTSTRUCT paint;
    EXPECT_EQ(BeginPaint(window, &paint), GetDC(window));
    EXPECT_EQ(paint.rcPaint.right, 100);
    EndPaint(window, &paint);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(PlatformQueue, PeekWithoutRemovingLeavesTheMessage) {
    HWND window = createRecordingWindow("peek", 0, 0, 100, 100, false);
    PostMessageA(window, WM_USER + 3, 0, 0);
    MSG msg;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, UINT(WM_USER + 3));
    }
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(PlatformQueue, TimerTicksAfterItsPeriodWhileGetMessageBlocksWithoutSpinning) {
    HWND window = createRecordingWindow("timer", 0, 0, 100, 100, false);
    EXPECT_EQ(SetTimer(window, 1, 100, nullptr), 1u);
    double wallStart = monotonicSeconds(), cpuStart = cpuSecondsUsed();
    MSG msg;
    for (int tick = 0; tick < 3; ++tick) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        EXPECT_EQ(msg.message, UINT(WM_TIMER));
        EXPECT_EQ(msg.wParam, 1u);
        EXPECT_EQ(msg.hwnd, window);
        DispatchMessageA(&msg);
    }
    double wall = monotonicSeconds() - wallStart, cpu = cpuSecondsUsed() - cpuStart;
    EXPECT_GE(wall, 0.28);
    EXPECT_LT(wall, 3.0) << "not wildly late, even on a loaded machine";
    EXPECT_LT(cpu, 0.1 * wall) << "GetMessageA must block, not spin";
    EXPECT_TRUE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 1));
}

TEST_F(PlatformQueue, TimerYieldsToPostedMessages) {
    HWND window = createRecordingWindow("timer", 0, 0, 100, 100, false);
    SetTimer(window, 4, 10, nullptr);
    // Time passing is the point here: the timer is due when the post comes.
    timespec pause{0, 30000000};
    nanosleep(&pause, nullptr);
    PostMessageA(window, WM_USER, 0, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_USER));
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, UINT(WM_TIMER));
    EXPECT_EQ(msg.wParam, 4u);
}

TEST_F(PlatformQueue, GetMessageFailsWithMinusOne) {
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(0x1234), 0, 0), -1);  // no such window
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    // Another client destroying the program's window leaves a queue that
    // cannot serve it.
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, true);
    Window xid = layerWindow(user, "queue");
    ASSERT_NE(xid, 0u);
    XDestroyWindow(user, xid);
    XSync(user, False);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
    EXPECT_FALSE(IsWindow(window));
}

// Whatever another client sends while the program does not read its queue,
// the queue holds no more than the platform's 10,000 messages of each kind.
TEST_F(PlatformQueue, HoldsAtMostTenThousandPostedAndTenThousandInputMessages) {
    HWND window = createRecordingWindow("bounded", 0, 0, 100, 100, true);
    Window xid = layerWindow(user, "bounded");
    ASSERT_NE(xid, 0u);
    int posted = 0, retrieved = 0;
    for (int i = 0; i < 10500; ++i) posted += PostMessageA(window, WM_USER, 0, 0) ? 1 : 0;
    EXPECT_EQ(posted, 10000);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE) && retrieved <= 10500) ++retrieved;
    EXPECT_EQ(retrieved, 10000);

    // Keys typed on the keyboard (forged ones are not taken at all).
    ASSERT_TRUE(waitUntil([&] { return isViewable(user, xid); }, 20000));
    XSetInputFocus(user, xid, RevertToParent, CurrentTime);
    KeyCode a = XKeysymToKeycode(user, XK_a);
    for (int i = 0; i < 10500; ++i) {
        XTestFakeKeyEvent(user, a, True, CurrentTime);
        XTestFakeKeyEvent(user, a, False, CurrentTime);
    }
    // A close request after the keys: once the queue has it, it has read them.
    requestClose(user, xid);
    XSync(user, False);
    double deadline = monotonicSeconds() + 20;
    while (!PeekMessageA(&msg, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) && monotonicSeconds() < deadline) {}
    ASSERT_EQ(msg.message, UINT(WM_CLOSE)) << "the close request did not arrive";
    int keys = 0;
    while (PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYUP, PM_REMOVE) && keys <= 21000) ++keys;
    EXPECT_EQ(keys, 10000);
}

TEST_F(PlatformQueue, WindowLifeCycleMessages) {
    std::vector<UINT> seenDuringCreate;
    recordingBehaviour = [&](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_CREATE) {
            // The window exists, with its device context, while WM_CREATE runs.
            EXPECT_TRUE(IsWindow(window));
            EXPECT_EQ(WindowFromDC(GetDC(window)), window);
        }
        return DefWindowProcA(window, message, wParam, lParam);
    };
    HWND window = createRecordingWindow("life", 0, 0, 120, 80, false);
    ASSERT_NE(window, nullptr);
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.front().message, UINT(WM_CREATE));
    EXPECT_EQ(GetDC(window), GetDC(window)) << "a class with CS_OWNDC has one device context";
    EXPECT_EQ(ReleaseDC(window, GetDC(window)), 1);

    PostMessageA(window, WM_USER, 0, 0);
    recorded.clear();
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(recordedMessages(), std::vector<UINT>{WM_DESTROY});
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "messages of a destroyed window are dropped";
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
}

TEST_F(PlatformQueue, CreationFailsForUnknownClassesAndWhenWmCreateRefuses) {
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr), nullptr);
    recordingBehaviour = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        return message == WM_CREATE ? -1 : DefWindowProcA(window, message, wParam, lParam);
    };
    EXPECT_EQ(createRecordingWindow("refused", 0, 0, 10, 10, false), nullptr);
    EXPECT_EQ(recordedMessages(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    syncLayer();
    EXPECT_TRUE(windowsNamed(user, "refused").empty());
}

TEST_F(PlatformQueue, RegisteringAClassTwiceFails) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = recordingWindowProc;
    windowClass.lpszClassName = "Twice";
    EXPECT_NE(RegisterClassA(&windowClass), 0);
    EXPECT_EQ(RegisterClassA(&windowClass), 0);
}

TEST_F(PlatformQueue, SendMessageCallsTheProcedureAtOnce) {
    recordingBehaviour = [](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        return message == WM_USER ? LRESULT(wParam * 2) : 0;
    };
    HWND window = createRecordingWindow("send", 0, 0, 10, 10, false);
    EXPECT_EQ(SendMessageA(window, WM_USER, 21, 0), 42);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

// The size is what the server confirms: WM_SIZE comes with its word, once
// for each change, and a request for the size the window has changes nothing.
TEST_F(PlatformQueue, SetWindowPosGivesOneWmSizeOnceTheServerHasTheNewSize) {
    HWND window = createRecordingWindow("size", 30, 40, 200, 150, true);
    recorded.clear();
    SetWindowPos(window, HWND_TOP, 80, 80, 300, 250, SWP_NOMOVE);
    ASSERT_TRUE(pumpUntil([] { return lastRecorded(WM_SIZE) != nullptr; }));
    const RecordedMessage* size = lastRecorded(WM_SIZE);
    EXPECT_EQ(LOWORD(size->lParam), 300);
    EXPECT_EQ(HIWORD(size->lParam), 250);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 300);
    SetWindowPos(window, HWND_TOP, 80, 80, 300, 250, SWP_NOMOVE);
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(recordedMessages(WM_SIZE).size(), 1u);
    WindowGeometry geometry = rootGeometry(user, layerWindow(user, "size"));
    EXPECT_EQ(geometry.x, 30) << "SWP_NOMOVE keeps the position";
    EXPECT_EQ(geometry.y, 40);
    EXPECT_EQ(geometry.height, 250);
}

TEST_F(PlatformQueue, ShownWindowIsViewableWithItsTitleAndClass) {
    HWND window = createRecordingWindow("vorandile ", 0, 0, 320, 240, false);
    ASSERT_NE(layerWindow(user, "vorandile "), 0u);
    EXPECT_FALSE(isViewable(user, layerWindow(user, "vorandile ")));
    recorded.clear();
    EXPECT_FALSE(ShowWindow(window, SW_SHOW));
    EXPECT_TRUE(recordedMessages(WM_PAINT).empty()) << "showing only invalidates";
    UpdateWindow(window);
    EXPECT_EQ(recordedMessages(WM_PAINT).size(), 1u) << "UpdateWindow paints at once";
    Window xid = layerWindow(user, "vorandile ");
    EXPECT_TRUE(isViewable(user, xid));
    XClassHint hint;
    ASSERT_TRUE(XGetClassHint(user, xid, &hint));
    EXPECT_STREQ(hint.res_name, "platform_queue_test") << "the program's name";
    EXPECT_STREQ(hint.res_class, "Platform_queue_test");
    XFree(hint.res_name);
    XFree(hint.res_class);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.right, 320);
    EXPECT_TRUE(ShowWindow(window, SW_HIDE));
}

}  // namespace
