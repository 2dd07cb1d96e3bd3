// Pixel formats (the screen's visuals, numbered from 1) and buffer swapping.
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
    if (layer.formatsListed) return;
    layer.formatsListed = true;
    Display* display = x11Display();
    int errorBase, eventBase;
    bool serverHasGlx = glXQueryExtension(display, &errorBase, &eventBase);
    XVisualInfo pattern{};
    pattern.screen = x11Screen();
    int count = 0;
    XVisualInfo* visuals = XGetVisualInfo(display, VisualScreenMask, &pattern, &count);
    for (int i = 0; i < count; ++i) layer.formats.push_back({visuals[i], describeVisual(visuals[i], serverHasGlx)});
    if (visuals) XFree(visuals);
}

const PixelFormat* formatAt(int index) {
    listFormats();
    return index >= 1 && index <= int(layer.formats.size()) ? &layer.formats[size_t(index - 1)] : nullptr;
}

// How far a size is from the one asked for: any size at or above is better
// than any below, and among them the closest wins.
int sizeDistance(int have, int want) { return have >= want ? have - want : 1000 + want - have; }

bool flagWanted(DWORD flags, DWORD flag, DWORD dontCare) { return (flags & flag) && !(flags & dontCare); }

// A compositing manager takes the depth of a visual beyond its colour bits
// as alpha, and blends the window with what lies behind it.
bool pixelsCarryAlpha(const PixelFormat& format) {
    const PIXELFORMATDESCRIPTOR& pfd = format.descriptor;
    return pfd.cAlphaBits > 0 || (pfd.iPixelType == PFD_TYPE_RGBA && format.visual.depth > pfd.cColorBits);
}

// On the platform a window is opaque whatever alpha its pixel format has.
// Where only visuals with alpha can draw with OpenGL, the back buffer's alpha
// is set to one before it is shown, leaving the program's state as it was.
void makeBackBufferOpaque() {
    GLboolean writeMask[4];
    GLfloat clearColour[4];
    GLint drawBuffer = GL_BACK;
    glGetBooleanv(GL_COLOR_WRITEMASK, writeMask);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
    glDrawBuffer(GL_BACK);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glColorMask(writeMask[0], writeMask[1], writeMask[2], writeMask[3]);
    glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    if (scissor) glEnable(GL_SCISSOR_TEST);
    glDrawBuffer(GLenum(drawBuffer));
}

}  // namespace

int x11PixelFormatCount() {
    listFormats();
    return int(layer.formats.size());
}

const XVisualInfo* x11PixelFormatVisual(int format) {
    const PixelFormat* pixelFormat = formatAt(format);
    return pixelFormat ? &pixelFormat->visual : nullptr;
}

bool x11VisualHasWritableColormap(const XVisualInfo* visual) {
    return visual->c_class == PseudoColor || visual->c_class == GrayScale;
}

int WINAPI ChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR* request) {
    if (!request) return 0;
    listFormats();
    const DWORD required[] = {PFD_DRAW_TO_WINDOW, PFD_DRAW_TO_BITMAP, PFD_SUPPORT_GDI, PFD_SUPPORT_OPENGL};
    int best = 0;
    std::vector<int> bestScore;
    for (size_t i = 0; i < layer.formats.size(); ++i) {
        const PIXELFORMATDESCRIPTOR& have = layer.formats[i].descriptor;
        bool matches = have.iPixelType == request->iPixelType;
        for (DWORD flag : required)
            if ((request->dwFlags & flag) && !(have.dwFlags & flag)) matches = false;
        if (flagWanted(request->dwFlags, PFD_DOUBLEBUFFER, PFD_DOUBLEBUFFER_DONTCARE) &&
            !(have.dwFlags & PFD_DOUBLEBUFFER))
            matches = false;
        if (!(request->dwFlags & PFD_STEREO_DONTCARE) &&
            bool(request->dwFlags & PFD_STEREO) != bool(have.dwFlags & PFD_STEREO))
            matches = false;
        if (!matches) continue;
        bool singleWanted = !(request->dwFlags & (PFD_DOUBLEBUFFER | PFD_DOUBLEBUFFER_DONTCARE));
        // Alpha that was not asked for would make the window see-through
        // under a compositing manager, which takes a visual's extra depth as
        // alpha: any opaque format comes before it.
        bool unwantedAlpha = request->cAlphaBits == 0 && pixelsCarryAlpha(layer.formats[i]);
        std::vector<int> score = {
            unwantedAlpha ? 1 : 0,
            sizeDistance(have.cColorBits, request->cColorBits),
            (request->dwFlags & PFD_DEPTH_DONTCARE) ? 0 : sizeDistance(have.cDepthBits, request->cDepthBits),
            sizeDistance(have.cAlphaBits, request->cAlphaBits),
            sizeDistance(have.cStencilBits, request->cStencilBits),
            sizeDistance(have.cAccumBits, request->cAccumBits),
            sizeDistance(have.cAuxBuffers, request->cAuxBuffers),
            singleWanted && (have.dwFlags & PFD_DOUBLEBUFFER) ? 1 : 0,
            layer.formats[i].visual.c_class == TrueColor ? 0 : 1,  // no ramps or palette to keep
        };
        if (!best || score < bestScore) {
            best = int(i) + 1;
            bestScore = score;
        }
    }
    return best;
}

int WINAPI DescribePixelFormat(HDC, int format, UINT bytes, LPPIXELFORMATDESCRIPTOR descriptor) {
    listFormats();
    const PixelFormat* pixelFormat = formatAt(format);
    if (!pixelFormat) return 0;
    if (descriptor) std::memcpy(descriptor, &pixelFormat->descriptor, std::min<size_t>(bytes, sizeof *descriptor));
    return int(layer.formats.size());
}

BOOL WINAPI SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
    const PixelFormat* pixelFormat = formatAt(format);
    if (!dc || !isLiveWindow(dc->window) || !pixelFormat) return FALSE;
    HWND window = dc->window;
    if (window->pixelFormat) return window->pixelFormat == format;
    window->pixelFormat = format;
    // X fixes a window's visual at creation: the window takes the format by
    // being created anew on that visual, under the same handle.
    x11CreateNativeWindow(window, &pixelFormat->visual);
    return TRUE;
}

int WINAPI GetPixelFormat(HDC dc) {
    return dc && isLiveWindow(dc->window) ? dc->window->pixelFormat : 0;
}

BOOL WINAPI SwapBuffers(HDC dc) {
    if (!dc || !isLiveWindow(dc->window)) return FALSE;
    const PixelFormat* pixelFormat = formatAt(dc->window->pixelFormat);
    if (!pixelFormat || !(pixelFormat->descriptor.dwFlags & PFD_SUPPORT_OPENGL)) return FALSE;
    if (!(pixelFormat->descriptor.dwFlags & PFD_DOUBLEBUFFER)) return TRUE;
    if (pixelsCarryAlpha(*pixelFormat) && glXGetCurrentDrawable() == dc->window->x11->xid) makeBackBufferOpaque();
    glXSwapBuffers(x11Display(), dc->window->x11->xid);
    return TRUE;
}
