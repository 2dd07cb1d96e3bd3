// Pixel formats as the platform ranks and describes them, whatever display
// system lists them, and buffer swaps.
#include "platform/common/internal.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstring>

namespace {

// A timer falling due meanwhile does not end the wait: its message, the
// least urgent of all, comes once the swap returns. Waking for it would
// draw a frame for nobody at each tick of the program's timer.
void waitWhileUnseen() {
    if (!messagesWaiting()) native().waitForEvents(unseenFrameWaitMs);
}

// How far a size is from the one asked for: any size at or above is better
// than any below, and among them the closest wins.
int sizeDistance(int have, int want) { return have >= want ? have - want : 1000 + want - have; }

bool flagWanted(DWORD flags, DWORD flag, DWORD dontCare) { return (flags & flag) && !(flags & dontCare); }

const std::vector<ListedPixelFormat>& pixelFormats() {
    if (!platform.pixelFormatsListed) {
        platform.pixelFormats = native().listPixelFormats();
        platform.pixelFormatsListed = true;
    }
    return platform.pixelFormats;
}

}  // namespace

const ListedPixelFormat* listedPixelFormat(int format) {
    const std::vector<ListedPixelFormat>& formats = pixelFormats();
    return format >= 1 && format <= int(formats.size()) ? &formats[size_t(format - 1)] : nullptr;
}

int WINAPI ChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR* request) {
    if (!request) return 0;
    const DWORD required[] = {PFD_DRAW_TO_WINDOW, PFD_DRAW_TO_BITMAP, PFD_SUPPORT_GDI, PFD_SUPPORT_OPENGL};
    int best = 0;
    std::vector<int> bestScore;
    int count = int(pixelFormats().size());
    for (int format = 1; format <= count; ++format) {
        const PIXELFORMATDESCRIPTOR& have = listedPixelFormat(format)->descriptor;
        PixelFormatTraits traits = listedPixelFormat(format)->traits;
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
        bool unwantedAlpha = request->cAlphaBits == 0 && traits.carriesAlpha;
        std::vector<int> score = {
            unwantedAlpha ? 1 : 0,
            sizeDistance(have.cColorBits, request->cColorBits),
            (request->dwFlags & PFD_DEPTH_DONTCARE) ? 0 : sizeDistance(have.cDepthBits, request->cDepthBits),
            sizeDistance(have.cAlphaBits, request->cAlphaBits),
            sizeDistance(have.cStencilBits, request->cStencilBits),
            sizeDistance(have.cAccumBits, request->cAccumBits),
            sizeDistance(have.cAuxBuffers, request->cAuxBuffers),
            singleWanted && (have.dwFlags & PFD_DOUBLEBUFFER) ? 1 : 0,
            traits.hasColourTables ? 1 : 0,  // no ramps or palette to keep
        };
        if (!best || score < bestScore) {
            best = format;
            bestScore = score;
        }
    }
    return best;
}

int WINAPI DescribePixelFormat(HDC, int format, UINT bytes, LPPIXELFORMATDESCRIPTOR descriptor) {
    const ListedPixelFormat* described = listedPixelFormat(format);
    if (!described) return 0;
    if (descriptor) std::memcpy(descriptor, &described->descriptor, std::min<size_t>(bytes, sizeof *descriptor));
    return int(pixelFormats().size());
}

BOOL WINAPI SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
    if (!dc || !isLiveWindow(dc->window) || !listedPixelFormat(format)) return FALSE;
    HWND window = dc->window;
    if (window->pixelFormat) return window->pixelFormat == format;
    window->pixelFormat = format;
    native().setPixelFormat(window, format);
    return TRUE;
}

int WINAPI GetPixelFormat(HDC dc) {
    return dc && isLiveWindow(dc->window) ? dc->window->pixelFormat : 0;
}

BOOL WINAPI SwapBuffers(HDC dc) {
    if (!dc || !isLiveWindow(dc->window)) return FALSE;
    const ListedPixelFormat* format = listedPixelFormat(dc->window->pixelFormat);
    if (!format || !(format->descriptor.dwFlags & PFD_SUPPORT_OPENGL)) return FALSE;
    if (!(format->descriptor.dwFlags & PFD_DOUBLEBUFFER)) return TRUE;
    if (!dc->window->visible || !native().windowShown(dc->window)) {
        waitWhileUnseen();
        return TRUE;
    }
    if (format->traits.carriesAlpha && platform.currentContext && platform.currentWindow == dc->window)
        makeBackBufferOpaque();
    native().swapBuffers(dc->window);
    return TRUE;
}

// On the platform a window is opaque whatever alpha its pixel format has.
// Where only formats with alpha can draw with OpenGL, the back buffer's alpha
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
