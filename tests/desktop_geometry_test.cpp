// The window's geometry as the platform defines it, under managers that
// draw frames and publish them: the size the program gives is the outer
// one, frame included, and the client area is what the frame leaves. With
// no manager, or one that publishes no frame, the two are the same.
#include "layer_test.h"  // GoogleTest before Xlib
#include "desktop.h"
#include "viewer_window.h"

#include <X11/Xutil.h>

#include "app/viewer_state.h"
#include "app/window_proc.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>

namespace {

class ViewerWindowOnADesktop : public PrivateServerTest, public testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        PrivateServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (managed()) {
            helpers.push_back(startWindowManager(GetParam(), server.display, user, testing::TempDir() + "geometry-home"));
            ASSERT_GT(helpers.back(), 0);
        }
    }
    bool managed() const { return std::string(GetParam()) != "none"; }
    bool publishesFrames() const { return managed() && std::string(GetParam()) != "i3"; }
};

TEST_P(ViewerWindowOnADesktop, TheOuterSizeIsTheProgramsAndTheClientAreaIsWhatTheFrameLeaves) {
    // As the program starts up: the class, the size from the screen, the window.
    viewer = ViewerState{};
    ASSERT_TRUE(registerViewerClass());
    viewer.windowWidth = viewer.windowHeight = int32_t(GetSystemMetrics(SM_CYSCREEN) * 0.8);
    ASSERT_EQ(viewer.windowWidth, 819);
    HWND window = CreateWindowExA(0, "OpenGL", "vorandile ", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                  0, 0, viewer.windowWidth, viewer.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);  // as the first frame will find it
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    Window xid = layerWindow(user, "vorandile ");
    ASSERT_NE(xid, 0u);
    Extents frame{0, 0, 0, 0};
    if (managed())
        ASSERT_TRUE(pumpUntil([&] { return windowState(user, xid) == NormalState; }, 20000)) << "managed";
    if (publishesFrames())
        ASSERT_TRUE(pumpUntil([&] { return frameExtents(user, xid, &frame); }, 20000)) << "the frame is published";
    pumpUntil([] { return false; }, 500);  // whatever the manager does next

    RECT outer, client;
    ASSERT_TRUE(GetWindowRect(window, &outer));
    ASSERT_TRUE(GetClientRect(window, &client));
    WindowGeometry onServer = rootGeometry(user, xid);
    std::printf("%s: frame %d %d %d %d, outer %ldx%ld at (%ld, %ld), client %ldx%ld, viewport %dx%d\n", GetParam(),
                frame.left, frame.right, frame.top, frame.bottom, long(outer.right - outer.left),
                long(outer.bottom - outer.top), long(outer.left), long(outer.top), long(client.right),
                long(client.bottom), viewport[2], viewport[3]);
    EXPECT_EQ(client.right, onServer.width) << "the client area is the X window";
    EXPECT_EQ(client.bottom, onServer.height);
    EXPECT_EQ(outer.right - outer.left, client.right + frame.left + frame.right);
    EXPECT_EQ(outer.bottom - outer.top, client.bottom + frame.top + frame.bottom);

    if (std::string(GetParam()) == "i3") {
        EXPECT_GT(client.right, 819) << "tiled";
        EXPECT_EQ(viewport[2], 819) << "the viewport is the size at creation, as without a manager";
        EXPECT_EQ(viewport[3], 819);
    } else {
        EXPECT_EQ(outer.right - outer.left, 819) << "80 percent of the screen height, frame included";
        EXPECT_EQ(outer.bottom - outer.top, 819);
        EXPECT_EQ(outer.left, 0) << "at the origin";
        EXPECT_EQ(outer.top, 0);
        EXPECT_EQ(viewport[0], 0);
        EXPECT_EQ(viewport[1], 0);
        EXPECT_EQ(viewport[2], client.right) << "the default viewport is the client area";
        EXPECT_EQ(viewport[3], client.bottom);
    }
    if (publishesFrames()) {
        EXPECT_GT(frame.top, 0) << "a title bar";
        WindowGeometry drawn = rootGeometry(user, frameOf(user, xid));
        EXPECT_EQ(drawn.width, 819) << "the manager's frame is the outer size";
        EXPECT_EQ(drawn.height, 819);
        EXPECT_EQ(drawn.x, 0);
        EXPECT_EQ(drawn.y, 0);
    }
    DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Desktops, ViewerWindowOnADesktop, testing::Values("none", "openbox", "jwm", "i3"),
                         [](const testing::TestParamInfo<const char*>& kind) { return std::string(kind.param); });

}  // namespace
