// Every row of the window procedure's message and keyboard tables, through
// the layer's real queue and window.
#include "viewer_window.h"

#include "app/window_proc.h"
#include "interaction/trackball.h"

#include <X11/keysym.h>

#include <unistd.h>

namespace {

class WindowProcedure : public ViewerWindowTest {
protected:
    void SetUp() override {
        ViewerWindowTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        settle();
    }
    int windowSide() const override { return 300; }
    // Dispatches what is waiting, including the first paint, then forgets
    // the redraw it asked for.
    void settle() {
        pumpUntil([] { return false; }, 50);
        viewer.idleCallback = nullptr;
    }
    LRESULT character(WPARAM code) { return SendMessageA(window, WM_CHAR, code, 0); }
    LPARAM point(int x, int y) { return MAKELPARAM(WORD(x & 0xffff), WORD(y & 0xffff)); }
};

TEST_F(WindowProcedure, CreationSetsUpTheWholeSurfaceAndScene) {
    EXPECT_EQ(viewer.deviceContext, GetDC(window));
    EXPECT_NE(GetPixelFormat(viewer.deviceContext), 0);
    EXPECT_NE(viewer.renderingContext, nullptr);
    EXPECT_EQ(wglGetCurrentContext(), viewer.renderingContext);
    EXPECT_EQ(viewer.palette, nullptr) << "a true-colour format needs no palette";
    EXPECT_EQ(viewer.objectMatrix[0], 1.0f);
    // The 100 ms timer with identifier 1 runs, and gets default processing.
    MSG msg;
    bool ticked = false;
    for (int i = 0; i < 50 && !ticked; ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        ticked = msg.message == WM_TIMER && msg.wParam == 1 && msg.hwnd == window;
        DispatchMessageA(&msg);
    }
    EXPECT_TRUE(ticked);
    EXPECT_EQ(viewer.idleCallback, nullptr) << "a tick asks for no frame";
}

TEST_F(WindowProcedure, PaintAsksForAFrameAndValidates) {
    InvalidateRect(window, nullptr, FALSE);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
}

TEST_F(WindowProcedure, ASizeChangeIsSetStraightBackWithoutMovingTheWindow) {
    XMoveResizeWindow(user, xid, 40, 30, 500, 200);
    XSync(user, False);
    ASSERT_TRUE(pumpUntil([&] {
        WindowGeometry g = rootGeometry(user, xid);
        return g.x == 40 && g.width == 300 && g.height == 300;
    })) << "size " << rootGeometry(user, xid).width << "x" << rootGeometry(user, xid).height;
    WindowGeometry geometry = rootGeometry(user, xid);
    EXPECT_EQ(geometry.y, 30);
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(rootGeometry(user, xid).width, 300) << "and it stays so";
}

TEST_F(WindowProcedure, MouseMessagesDriveTheTrackball) {
    EXPECT_EQ(SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point(-5, 40)), 0);
    EXPECT_EQ(viewer.tracking, 1);
    EXPECT_EQ(viewer.startX, -5) << "coordinates are sign-extended from 16 bits";
    EXPECT_EQ(viewer.startY, 40);
    EXPECT_EQ(GetCapture(), window);
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, point(100, -7));
    Vector3 expected = projectToSphere(100, -7, 300, 300);
    EXPECT_EQ(viewer.lastPos.x, expected.x);
    EXPECT_EQ(viewer.lastPos.y, expected.y);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    EXPECT_EQ(SendMessageA(window, WM_LBUTTONUP, 0, point(100, -7)), 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(viewer.tracking, 0);
    EXPECT_EQ(viewer.continueSpin, 1);
}

TEST_F(WindowProcedure, WithoutAContextSizePaintAndMouseGetDefaultProcessing) {
    HGLRC context = viewer.renderingContext;
    viewer.renderingContext = nullptr;
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point(10, 10));
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, point(50, 50));
    SendMessageA(window, WM_LBUTTONUP, 0, point(50, 50));
    EXPECT_EQ(viewer.tracking, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(viewer.startX, 0);
    InvalidateRect(window, nullptr, FALSE);
    SendMessageA(window, WM_PAINT, 0, 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE)) << "default paint validates";
    XResizeWindow(user, xid, 250, 260);
    XSync(user, False);
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(rootGeometry(user, xid).width, 250) << "no snap back";
    // Keys do not depend on the context.
    EXPECT_EQ(character('f'), 0);
    EXPECT_EQ(viewer.fogEnabled, 1);
    viewer.renderingContext = context;
}

TEST_F(WindowProcedure, FogAndWireframeKeysToggleAndEachAsksForAFrame) {
    EXPECT_EQ(character('f'), 0);
    EXPECT_EQ(viewer.fogEnabled, 1);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    viewer.idleCallback = nullptr;
    character('f');
    EXPECT_EQ(viewer.fogEnabled, 0);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    viewer.idleCallback = nullptr;
    character('p');
    EXPECT_EQ(viewer.wireframe, 1);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    character('p');
    EXPECT_EQ(viewer.wireframe, 0);
}

TEST_F(WindowProcedure, JAndKOnlyAskForAFrameAndOtherCharactersAreNotBound) {
    for (WPARAM code : {WPARAM('j'), WPARAM('k')}) {
        viewer.idleCallback = nullptr;
        EXPECT_EQ(character(code), 0);
        EXPECT_EQ(viewer.idleCallback, idleStep);
        EXPECT_EQ(viewer.fogEnabled + viewer.wireframe, 0);
    }
    for (WPARAM code : {WPARAM('F'), WPARAM('P'), WPARAM('J'), WPARAM('K'), WPARAM('x'), WPARAM(13)}) {
        viewer.idleCallback = nullptr;
        character(code);
        EXPECT_EQ(viewer.idleCallback, nullptr) << "character " << code;
        EXPECT_EQ(viewer.fogEnabled + viewer.wireframe, 0);
        EXPECT_TRUE(IsWindow(window));
    }
}

TEST_F(WindowProcedure, EscapeDestroysTheWindowReleasingEverythingAndQuitsWithZero) {
    viewer.idleCallback = idleStep;
    EXPECT_EQ(character(27), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(viewer.renderingContext, nullptr);
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
    EXPECT_EQ(viewer.idleCallback, nullptr);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(WindowProcedure, TypedKeysReachTheCommandsThroughTheQueue) {
    pressKey(user, XK_f);
    ASSERT_TRUE(pumpUntil([] { return viewer.fogEnabled == 1; }));
    pressKey(user, XK_f, true);  // capital F is not bound
    pressKey(user, XK_p);
    ASSERT_TRUE(pumpUntil([] { return viewer.wireframe == 1; }));
    EXPECT_EQ(viewer.fogEnabled, 1);
    pressKey(user, XK_Escape);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }));
}

TEST_F(WindowProcedure, PaletteMessagesReselectAndAskForAFrameOnlyWithAPalette) {
    EXPECT_EQ(SendMessageA(window, WM_QUERYNEWPALETTE, 0, 0), 0);
    SendMessageA(window, WM_PALETTECHANGED, 0, 0);
    EXPECT_EQ(viewer.idleCallback, nullptr);

    struct {
        LOGPALETTE header;
        PALETTEENTRY more[1];
    } logical = {{0x300, 2, {{255, 0, 0, 0}}}, {{0, 0, 255, 0}}};
    viewer.palette = CreatePalette(&logical.header);
    ASSERT_NE(viewer.palette, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_QUERYNEWPALETTE, 0, 0), 1);
    EXPECT_EQ(viewer.idleCallback, idleStep);
    viewer.idleCallback = nullptr;
    SendMessageA(window, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(window), 0);
    EXPECT_EQ(viewer.idleCallback, nullptr) << "a change this window made itself";
    EXPECT_EQ(SendMessageA(window, WM_PALETTECHANGED, 0x1234, 0), 0);
    EXPECT_EQ(viewer.idleCallback, idleStep);
}

using ProgramStart = PrivateServerTest;

TEST_F(ProgramStart, AClassThatCannotBeRegisteredIsReportedAndEndsTheProgramWithOne) {
    pid_t child = forkChild();
    if (child == 0) {
        WNDCLASSA taken = {};
        taken.lpfnWndProc = DefWindowProcA;
        taken.lpszClassName = "OpenGL";
        RegisterClassA(&taken);
        char commandLine[] = "";
        _exit(WinMain(nullptr, nullptr, commandLine, SW_SHOW));
    }
    Window box = waitForWindowNamed(user, "Error", 20000);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "RegisterClass failed");
    EXPECT_TRUE(windowsNamed(user, "vorandile").empty()) << "no notice: the program stops first";
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), 1);
}

}  // namespace
