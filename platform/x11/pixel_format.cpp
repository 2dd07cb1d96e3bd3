// Pixel formats are the screen's visuals, numbered from 1; buffer swaps.
#include "platform/x11/internal.h"

#include <algorithm>
#include <cstring>

namespace {

int glxAttribute(XVisualInfo* visual, int attribute) {
    int value = 0;
    return glXGetConfig(x11Display(), visual, attribute, &value) == 0 ? value : 0;
}

BYTE bitCount(unsigned long mask) { return BYTE(__builtin_popcountl(mask)); }
BYTE lowestBit(unsigned long mask) { return mask ? BYTE(__builtin_ctzl(mask)) : 0; }

PIXELFORMATDESCRIPTOR describeVisual(XVisualInfo& visual, bool serverHasGlx) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW;
    bool trueColour = visual.c_class == TrueColor || visual.c_class == DirectColor;
    bool gl = serverHasGlx && glxAttribute(&visual, GLX_USE_GL) && glxAttribute(&visual, GLX_LEVEL) == 0;
    bool rgba = gl ? glxAttribute(&visual, GLX_RGBA) != 0 : trueColour;
    if (gl) {
        pfd.dwFlags |= PFD_SUPPORT_OPENGL;
        if (glxAttribute(&visual, GLX_DOUBLEBUFFER)) pfd.dwFlags |= PFD_DOUBLEBUFFER;
        if (glxAttribute(&visual, GLX_STEREO)) pfd.dwFlags |= PFD_STEREO;
    } else {
        pfd.dwFlags |= PFD_SUPPORT_GDI;
    }
    if (x11VisualHasWritableColormap(&visual)) pfd.dwFlags |= PFD_NEED_PALETTE;
    pfd.iPixelType = rgba ? PFD_TYPE_RGBA : PFD_TYPE_COLORINDEX;

    if (rgba && trueColour) {
        pfd.cRedBits = bitCount(visual.red_mask);
        pfd.cGreenBits = bitCount(visual.green_mask);
        pfd.cBlueBits = bitCount(visual.blue_mask);
        pfd.cRedShift = lowestBit(visual.red_mask);
        pfd.cGreenShift = lowestBit(visual.green_mask);
        pfd.cBlueShift = lowestBit(visual.blue_mask);
        pfd.cColorBits = BYTE(pfd.cRedBits + pfd.cGreenBits + pfd.cBlueBits);
        unsigned long depthMask = visual.depth >= 32 ? 0xffffffffUL : (1UL << visual.depth) - 1;
        unsigned long alphaMask = depthMask & ~(visual.red_mask | visual.green_mask | visual.blue_mask);
        pfd.cAlphaBits = gl ? BYTE(glxAttribute(&visual, GLX_ALPHA_SIZE)) : bitCount(alphaMask);
        if (pfd.cAlphaBits) pfd.cAlphaShift = lowestBit(alphaMask);
    } else {
        pfd.cColorBits = BYTE(visual.depth);
    }
    if (gl) {
        pfd.cDepthBits = BYTE(glxAttribute(&visual, GLX_DEPTH_SIZE));
        pfd.cStencilBits = BYTE(glxAttribute(&visual, GLX_STENCIL_SIZE));
        pfd.cAuxBuffers = BYTE(glxAttribute(&visual, GLX_AUX_BUFFERS));
        pfd.cAccumRedBits = BYTE(glxAttribute(&visual, GLX_ACCUM_RED_SIZE));
        pfd.cAccumGreenBits = BYTE(glxAttribute(&visual, GLX_ACCUM_GREEN_SIZE));
        pfd.cAccumBlueBits = BYTE(glxAttribute(&visual, GLX_ACCUM_BLUE_SIZE));
        pfd.cAccumAlphaBits = BYTE(glxAttribute(&visual, GLX_ACCUM_ALPHA_SIZE));
        pfd.cAccumBits =
            BYTE(pfd.cAccumRedBits + pfd.cAccumGreenBits + pfd.cAccumBlueBits + pfd.cAccumAlphaBits);
    }
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}

void listFormats() {
    if (x11.formatsListed) return;
    x11.formatsListed = true;
    Display* display = x11Display();
    int errorBase, eventBase;
    bool serverHasGlx = glXQueryExtension(display, &errorBase, &eventBase);
    XVisualInfo pattern{};
    pattern.screen = x11Screen();
    int count = 0;
    XVisualInfo* visuals = XGetVisualInfo(display, VisualScreenMask, &pattern, &count);
    for (int i = 0; i < count; ++i) x11.formats.push_back({visuals[i], describeVisual(visuals[i], serverHasGlx)});
    if (visuals) XFree(visuals);
}

const PixelFormat* formatAt(int index) {
    listFormats();
    return index >= 1 && index <= int(x11.formats.size()) ? &x11.formats[size_t(index - 1)] : nullptr;
}

// A compositing manager takes the depth of a visual beyond its colour bits
// as alpha, and blends the window with what lies behind it.
bool pixelsCarryAlpha(const PixelFormat& format) {
    const PIXELFORMATDESCRIPTOR& pfd = format.descriptor;
    return pfd.cAlphaBits > 0 || (pfd.iPixelType == PFD_TYPE_RGBA && format.visual.depth > pfd.cColorBits);
}

}  // namespace

std::vector<ListedPixelFormat> x11ListPixelFormats() {
    listFormats();
    std::vector<ListedPixelFormat> listed;
    for (const PixelFormat& format : x11.formats)
        listed.push_back({format.descriptor, PixelFormatTraits{pixelsCarryAlpha(format), format.visual.c_class != TrueColor}});
    return listed;
}

const XVisualInfo* x11PixelFormatVisual(int format) {
    const PixelFormat* pixelFormat = formatAt(format);
    return pixelFormat ? &pixelFormat->visual : nullptr;
}

bool x11VisualHasWritableColormap(const XVisualInfo* visual) {
    return visual->c_class == PseudoColor || visual->c_class == GrayScale;
}

void x11SetPixelFormat(HWND window, int format) {
    // X fixes a window's visual at creation: the window takes the format by
    // being created anew on that visual, under the same handle.
    x11CreateNativeWindow(window, &formatAt(format)->visual);
}

// As the server and the manager last said: mapped, and not minimized (a
// compositing manager may keep a minimized window mapped).
bool x11WindowShown(HWND window) { return x11Of(window)->mapped && !x11Of(window)->state.minimized; }

void x11SwapBuffers(HWND window) {
    // Behind a flood, the frame is drawn but not shown: the swap's round
    // trip would wait for the whole flood to be read.
    if (!x11.behind) glXSwapBuffers(x11Display(), x11Of(window)->xid);
}
