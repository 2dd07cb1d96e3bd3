// Pixel formats are the server's visuals; they are checked against what the
// server itself says of them, on a GLX server, one without GLX and an
// 8-bit one. Rendering contexts are created, used and deleted for real.
#include "layer_test.h"

#include "surface/surface.h"

#include <GL/glx.h>
#include <X11/keysym.h>

#include <unistd.h>

namespace {

std::vector<XVisualInfo> serverVisuals(Display* display) {
    XVisualInfo pattern = {};
    pattern.screen = DefaultScreen(display);
    int count = 0;
    XVisualInfo* visuals = XGetVisualInfo(display, VisualScreenMask, &pattern, &count);
    std::vector<XVisualInfo> list(visuals, visuals + count);
    XFree(visuals);
    return list;
}

int glxValue(Display* display, XVisualInfo& visual, int attribute) {
    int value = 0;
    glXGetConfig(display, &visual, attribute, &value);
    return value;
}

using PixelFormats = PrivateServerTest;

TEST(PixelFormatLayout, DescriptorMatchesThePlatformsLayout) {
    EXPECT_EQ(sizeof(PIXELFORMATDESCRIPTOR), 40u);
    EXPECT_EQ(offsetof(PIXELFORMATDESCRIPTOR, dwFlags), 4u);
    EXPECT_EQ(offsetof(PIXELFORMATDESCRIPTOR, cDepthBits), 23u);
    EXPECT_EQ(offsetof(PIXELFORMATDESCRIPTOR, dwLayerMask), 28u);
    EXPECT_EQ(PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER, 0x25);
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    EXPECT_EQ(request.nSize, 40);
    EXPECT_EQ(request.nVersion, 1);
    EXPECT_EQ(request.dwFlags, 0x25u);
    EXPECT_EQ(request.iPixelType, PFD_TYPE_RGBA);
    EXPECT_EQ(request.cColorBits, 8);
    EXPECT_EQ(request.cDepthBits, 16);
    EXPECT_EQ(request.cAlphaBits + request.cAccumBits + request.cStencilBits + request.cAuxBuffers, 0);
    EXPECT_EQ(sizeof(LOGPALETTE), 8u);
    EXPECT_EQ(sizeof(MSG), 48u);
}

TEST_F(PixelFormats, DescriptionsAreTheServersVisualsNumberedFromOne) {
    std::vector<XVisualInfo> visuals = serverVisuals(user);
    HWND window = createRecordingWindow("formats", 0, 0, 64, 64, false);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR pfd;
    EXPECT_EQ(DescribePixelFormat(dc, 1, sizeof pfd, nullptr), int(visuals.size()));
    EXPECT_EQ(DescribePixelFormat(dc, 0, sizeof pfd, &pfd), 0);
    EXPECT_EQ(DescribePixelFormat(dc, int(visuals.size()) + 1, sizeof pfd, &pfd), 0);
    for (size_t i = 0; i < visuals.size(); ++i) {
        XVisualInfo& visual = visuals[i];
        ASSERT_EQ(DescribePixelFormat(dc, int(i + 1), sizeof pfd, &pfd), int(visuals.size()));
        SCOPED_TRACE("visual 0x" + std::to_string(visual.visualid));
        EXPECT_EQ(pfd.nSize, 40);
        EXPECT_EQ(pfd.cRedBits, __builtin_popcountl(visual.red_mask));
        EXPECT_EQ(pfd.cRedShift, __builtin_ctzl(visual.red_mask));
        EXPECT_EQ(pfd.cGreenShift, __builtin_ctzl(visual.green_mask));
        EXPECT_EQ(pfd.cBlueBits, __builtin_popcountl(visual.blue_mask));
        EXPECT_EQ(pfd.cBlueShift, __builtin_ctzl(visual.blue_mask));
        bool gl = glxValue(user, visual, GLX_USE_GL) != 0;
        EXPECT_EQ(bool(pfd.dwFlags & PFD_SUPPORT_OPENGL), gl);
        if (!gl) continue;
        EXPECT_EQ(bool(pfd.dwFlags & PFD_DOUBLEBUFFER), glxValue(user, visual, GLX_DOUBLEBUFFER) != 0);
        EXPECT_EQ(pfd.cDepthBits, glxValue(user, visual, GLX_DEPTH_SIZE));
        EXPECT_EQ(pfd.cStencilBits, glxValue(user, visual, GLX_STENCIL_SIZE));
        EXPECT_EQ(pfd.cAlphaBits, glxValue(user, visual, GLX_ALPHA_SIZE));
        EXPECT_EQ(pfd.cColorBits, glxValue(user, visual, GLX_RED_SIZE) + glxValue(user, visual, GLX_GREEN_SIZE) +
                                      glxValue(user, visual, GLX_BLUE_SIZE));
        EXPECT_EQ(pfd.iPixelType, glxValue(user, visual, GLX_RGBA) ? PFD_TYPE_RGBA : PFD_TYPE_COLORINDEX);
        EXPECT_FALSE(pfd.dwFlags & PFD_NEED_PALETTE) << "true-colour visuals need no palette";
    }
}

TEST_F(PixelFormats, ChoiceMatchesFlagsAndTakesTheClosestSizesAtOrAboveTheRequest) {
    std::vector<XVisualInfo> visuals = serverVisuals(user);
    int smallestDepth = 1000;
    for (XVisualInfo& visual : visuals)
        if (glxValue(user, visual, GLX_USE_GL) && glxValue(user, visual, GLX_RGBA) &&
            glxValue(user, visual, GLX_DOUBLEBUFFER) && glxValue(user, visual, GLX_DEPTH_SIZE) >= 16)
            smallestDepth = std::min(smallestDepth, glxValue(user, visual, GLX_DEPTH_SIZE));
    ASSERT_LT(smallestDepth, 1000) << "the server offers no double-buffered RGBA visual with depth";

    HWND window = createRecordingWindow("choose", 0, 0, 64, 64, false);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    int format = ChoosePixelFormat(dc, &request);
    ASSERT_GT(format, 0);
    PIXELFORMATDESCRIPTOR chosen;
    DescribePixelFormat(dc, format, sizeof chosen, &chosen);
    EXPECT_EQ(chosen.dwFlags & 0x25u, 0x25u);
    EXPECT_EQ(chosen.iPixelType, PFD_TYPE_RGBA);
    EXPECT_GE(chosen.cColorBits, 8);
    EXPECT_EQ(chosen.cDepthBits, smallestDepth);
    EXPECT_EQ(chosen.cAccumBits, 0);
    EXPECT_EQ(visuals[size_t(format - 1)].c_class, TrueColor);

    // Asking for more than any visual has still finds the largest there is.
    request.cDepthBits = 64;
    int deep = ChoosePixelFormat(dc, &request);
    ASSERT_GT(deep, 0);
    DescribePixelFormat(dc, deep, sizeof chosen, &chosen);
    EXPECT_GE(chosen.cDepthBits, 24);
    request = pixelFormatRequest();
    request.iPixelType = PFD_TYPE_COLORINDEX;
    EXPECT_EQ(ChoosePixelFormat(dc, &request), 0) << "the server has no colour-index GL visual";
}

TEST_F(PixelFormats, SettingBindsTheWindowToTheVisualOnceOnly) {
    HWND window = createRecordingWindow("bound", 0, 0, 64, 64, false);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    int format = ChoosePixelFormat(dc, &request);
    EXPECT_EQ(GetPixelFormat(dc), 0);
    EXPECT_EQ(SetPixelFormat(dc, format, &request), TRUE);
    EXPECT_EQ(GetPixelFormat(dc), format);
    EXPECT_EQ(SetPixelFormat(dc, format, &request), TRUE) << "the same format again is no change";
    int other = format == 1 ? 2 : 1;
    EXPECT_EQ(SetPixelFormat(dc, other, &request), FALSE);
    EXPECT_EQ(SetPixelFormat(dc, 100000, &request), FALSE);
    EXPECT_EQ(GetPixelFormat(dc), format);

    XSync(user, False);
    Window xid = layerWindow(user, "bound");
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(user, xid, &attributes));
    EXPECT_EQ(XVisualIDFromVisual(attributes.visual), serverVisuals(user)[size_t(format - 1)].visualid);
    EXPECT_EQ(WindowFromDC(dc), window);
}

TEST_F(PixelFormats, AContextIsCreatedMadeCurrentUsedToClearAndSwapAndDeleted) {
    HWND window = createRecordingWindow("context", 0, 0, 64, 48, false);
    HDC dc = GetDC(window);
    EXPECT_EQ(wglCreateContext(dc), nullptr) << "no context before a pixel format is set";
    EXPECT_FALSE(SwapBuffers(dc));
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &request), &request));
    ShowWindow(window, SW_SHOW);
    HGLRC context = wglCreateContext(dc);
    ASSERT_NE(context, nullptr);
    ASSERT_TRUE(wglMakeCurrent(dc, context));
    EXPECT_EQ(wglGetCurrentContext(), context);

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 64) << "the first make-current sets the viewport to the window";
    EXPECT_EQ(viewport[3], 48);
    glClearColor(0.5f, 0.25f, 0.35f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glFlush();
    EXPECT_TRUE(SwapBuffers(dc));
    glFinish();
    Window xid = layerWindow(user, "context");
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixelAt(user, xid, 32, 24), rgbOf(0.5f, 0.25f, 0.35f)); }, 20000))
        << "the user sees the cleared colour";

    EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
    ASSERT_TRUE(wglMakeCurrent(dc, context));
    EXPECT_TRUE(wglDeleteContext(context));
    EXPECT_EQ(wglGetCurrentContext(), nullptr) << "a deleted current context is no longer current";
    EXPECT_FALSE(wglDeleteContext(context));
    EXPECT_FALSE(wglMakeCurrent(dc, context));
}

TEST_F(PixelFormats, AContextCannotBeMadeCurrentOnAWindowOfAnotherFormat) {
    HWND first = createRecordingWindow("first", 0, 0, 32, 32, false);
    HWND second = createRecordingWindow("second", 0, 0, 32, 32, false);
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    int format = ChoosePixelFormat(GetDC(first), &request);
    SetPixelFormat(GetDC(first), format, &request);
    int other = 0;
    PIXELFORMATDESCRIPTOR pfd;
    for (int i = 1; i <= DescribePixelFormat(GetDC(first), 1, sizeof pfd, nullptr) && !other; ++i) {
        DescribePixelFormat(GetDC(first), i, sizeof pfd, &pfd);
        if (i != format && (pfd.dwFlags & PFD_SUPPORT_OPENGL)) other = i;
    }
    ASSERT_NE(other, 0);
    SetPixelFormat(GetDC(second), other, &request);
    HGLRC context = wglCreateContext(GetDC(first));
    ASSERT_NE(context, nullptr);
    EXPECT_FALSE(wglMakeCurrent(GetDC(second), context));
    EXPECT_TRUE(wglMakeCurrent(GetDC(first), context));
    wglDeleteContext(context);
}

class PixelFormatsWithoutGlx : public PrivateServerTest {
    std::vector<std::string> serverArguments() const override {
        return serverWithoutGlx();
    }
};

TEST_F(PixelFormatsWithoutGlx, NoFormatSupportsOpenGl) {
    HWND window = createRecordingWindow("noglx", 0, 0, 64, 64, false);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    EXPECT_EQ(ChoosePixelFormat(dc, &request), 0);
    PIXELFORMATDESCRIPTOR pfd;
    int count = DescribePixelFormat(dc, 1, sizeof pfd, &pfd);
    EXPECT_GT(count, 0) << "the visuals are still there for GDI-style drawing";
    for (int i = 1; i <= count; ++i) {
        DescribePixelFormat(dc, i, sizeof pfd, &pfd);
        EXPECT_FALSE(pfd.dwFlags & PFD_SUPPORT_OPENGL);
    }
}

TEST_F(PixelFormatsWithoutGlx, ConfiguringShowsTheChooseErrorAndExitsWithOne) {
    pid_t child = forkChild();
    if (child == 0) {
        HWND window = createRecordingWindow("owner", 0, 0, 64, 64, false);
        configurePixelFormat(GetDC(window));
        _exit(0);
    }
    Window box = waitForWindowNamed(user, "Error", 20000);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "ChoosePixelFormat failed\n");
    Window owner = 0;
    XGetTransientForHint(user, box, &owner);
    EXPECT_EQ(owner, windowsNamed(user, "owner").at(0)) << "the box belongs to the window";
    EXPECT_EQ(windowsNamed(user, "Error").size(), 1u);
    // Answering, the box has read what came before and is still up.
    EXPECT_TRUE(answersPing(user, box, 20000));
    EXPECT_TRUE(isRunning(child));
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), 1);
}

using ConfigurePixelFormat = PrivateServerTest;

TEST_F(ConfigurePixelFormat, SetsTheChosenFormatAndReturns) {
    HWND window = createRecordingWindow("configured", 0, 0, 64, 64, false);
    configurePixelFormat(GetDC(window));
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    EXPECT_EQ(GetPixelFormat(GetDC(window)), ChoosePixelFormat(GetDC(window), &request));
}

TEST_F(ConfigurePixelFormat, AFormatThatCannotBeSetShowsTheSetErrorAndExitsWithOne) {
    pid_t child = forkChild();
    if (child == 0) {
        HWND window = createRecordingWindow("taken", 0, 0, 64, 64, false);
        PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
        int chosen = ChoosePixelFormat(GetDC(window), &request);
        SetPixelFormat(GetDC(window), chosen == 1 ? 2 : 1, &request);  // the window already has another
        configurePixelFormat(GetDC(window));
        _exit(0);
    }
    Window box = waitForWindowNamed(user, "Error", 20000);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "SetPixelFormat failed");
    pressKey(user, XK_space);
    EXPECT_EQ(waitForExit(child, 20000), 1);
}

class PixelFormatsOnAnEightBitServer : public PrivateServerTest {
    std::vector<std::string> serverArguments() const override { return {"-screen", "0", "1024x768x8"}; }
};

TEST_F(PixelFormatsOnAnEightBitServer, IndexedVisualsNeedAPaletteAndNoneServesTheRequest) {
    HWND window = createRecordingWindow("eight", 0, 0, 64, 64, false);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR request = pixelFormatRequest();
    EXPECT_EQ(ChoosePixelFormat(dc, &request), 0);
    std::vector<XVisualInfo> visuals = serverVisuals(user);
    PIXELFORMATDESCRIPTOR pfd;
    int pseudoColour = 0;
    for (size_t i = 0; i < visuals.size(); ++i) {
        DescribePixelFormat(dc, int(i + 1), sizeof pfd, &pfd);
        bool writable = visuals[i].c_class == PseudoColor || visuals[i].c_class == GrayScale;
        EXPECT_EQ(bool(pfd.dwFlags & PFD_NEED_PALETTE), writable);
        EXPECT_FALSE(pfd.dwFlags & PFD_SUPPORT_OPENGL);
        if (visuals[i].c_class == PseudoColor) {
            ++pseudoColour;
            EXPECT_EQ(pfd.iPixelType, PFD_TYPE_COLORINDEX);
            EXPECT_EQ(pfd.cColorBits, 8);
        }
    }
    EXPECT_GT(pseudoColour, 0);
}

}  // namespace
