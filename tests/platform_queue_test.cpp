// The message queue and window life cycle of the platform layer on an X
// server: what another client and the server do to them. The queue's own
// rules are tested on the headless display (platform_rules_test.cpp).
#include "layer_test.h"

#include <X11/extensions/XTest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

using PlatformQueue = PrivateServerTest;

// Another client destroying the program's window leaves a queue that
// cannot serve it.
TEST_F(PlatformQueue, GetMessageFailsWithMinusOneOnceAnotherClientDestroysTheWindow) {
    MSG msg;
    HWND window = createRecordingWindow("queue", 0, 0, 100, 100, true);
    Window xid = layerWindow(user, "queue");
    ASSERT_NE(xid, 0u);
    XDestroyWindow(user, xid);
    XSync(user, False);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
    EXPECT_FALSE(IsWindow(window));
}

// However many keys the server sends while the program does not read its
// queue, the queue holds no more than the platform's 10,000 input messages.
TEST_F(PlatformQueue, HoldsAtMostTenThousandKeysTypedMeanwhile) {
    HWND window = createRecordingWindow("bounded", 0, 0, 100, 100, true);
    Window xid = layerWindow(user, "bounded");
    ASSERT_NE(xid, 0u);
    MSG msg;
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
