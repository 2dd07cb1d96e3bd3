// MessageBoxA: a modal dialog window on the X server with the text, an OK
// button and, for MB_ICONERROR, an error mark.
#include "platform/x11/internal.h"
#include "platform/common/message_box_layout.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstring>

namespace {

unsigned long allocateColor(uint32_t rgb, unsigned long fallback) {
    Display* display = x11Display();
    auto channel = [rgb](int shift) { return static_cast<unsigned short>(((rgb >> shift) & 0xff) * 0x101); };
    XColor color{};
    color.red = channel(16);
    color.green = channel(8);
    color.blue = channel(0);
    if (!XAllocColor(display, DefaultColormap(display, x11Screen()), &color)) return fallback;
    return color.pixel;
}

struct BoxColors {
    unsigned long black, white, face, shadow, red;
};

BoxColors allocateColors() {
    Display* display = x11Display();
    BoxColors colors;
    colors.black = BlackPixel(display, x11Screen());
    colors.white = WhitePixel(display, x11Screen());
    colors.face = allocateColor(boxColour::face, colors.white);
    colors.shadow = allocateColor(boxColour::buttonPressed, colors.black);
    colors.red = allocateColor(boxColour::mark, colors.black);
    return colors;
}

void drawBox(Window box, GC gc, const BoxLayout& layout, BoxFont* font, const BoxColors& colors, bool buttonDown) {
    Display* display = x11Display();
    const BoxMetrics& m = layout.metrics;
    XSetForeground(display, gc, colors.face);
    XFillRectangle(display, box, gc, 0, 0, unsigned(layout.width), unsigned(layout.height));
    if (layout.errorIcon) {
        XSetForeground(display, gc, colors.red);
        XFillArc(display, box, gc, m.margin, m.margin, unsigned(m.iconSize), unsigned(m.iconSize), 0, 360 * 64);
        XSetForeground(display, gc, colors.white);
        XSetLineAttributes(display, gc, unsigned(m.iconLine), LineSolid, CapRound, JoinRound);
        int a = m.margin + m.iconSize * 5 / 16, b = m.margin + m.iconSize - m.iconSize * 5 / 16;
        XDrawLine(display, box, gc, a, a, b, b);
        XDrawLine(display, box, gc, a, b, b, a);
        XSetLineAttributes(display, gc, 1, LineSolid, CapButt, JoinMiter);
    }
    XSetForeground(display, gc, colors.black);
    for (size_t i = 0; i < layout.lines.size(); ++i)
        x11DrawText(font, box, gc, layout.textX, layout.textY + int(i) * layout.lineHeight, layout.lines[i]);

    XSetForeground(display, gc, buttonDown ? colors.shadow : colors.white);
    XFillRectangle(display, box, gc, layout.buttonX, layout.buttonY, unsigned(m.buttonWidth), unsigned(m.buttonHeight));
    XSetForeground(display, gc, colors.black);
    XDrawRectangle(display, box, gc, layout.buttonX, layout.buttonY, unsigned(m.buttonWidth - 1),
                   unsigned(m.buttonHeight - 1));
    const std::string label = "OK";
    int labelX = layout.buttonX + (m.buttonWidth - font->textWidth(label)) / 2;
    int labelY = layout.buttonY + (m.buttonHeight + font->ascent() - font->descent()) / 2;
    x11DrawText(font, box, gc, labelX, labelY, label);
    XFlush(display);
}

// The box's own events, and the screen's changes of size.
bool isForBox(const XEvent& event, Window box) {
    return event.xany.window == box || (event.type == ConfigureNotify && event.xconfigure.window == x11Root());
}

// The platform centres the whole box, frame included; with north-west
// gravity the manager puts the frame's corner where the box is placed.
void centreBox(Window box, const BoxLayout& layout, const FrameExtents& frame, const ScreenSize& screen) {
    int x = (screen.width - layout.width - frame.left - frame.right) / 2;
    int y = (screen.height - layout.height - frame.top - frame.bottom) / 2;
    XMoveWindow(x11Display(), box, x, y);
}

// A box is as large as its layout, and the user cannot make it otherwise.
void setBoxSizeHints(Window box, const BoxLayout& layout) {
    XSizeHints* size = XAllocSizeHints();
    size->flags = PPosition | PMinSize | PMaxSize | PWinGravity;
    size->win_gravity = NorthWestGravity;
    size->min_width = size->max_width = layout.width;
    size->min_height = size->max_height = layout.height;
    XSetWMNormalHints(x11Display(), box, size);
    XFree(size);
}

Window createBoxWindow(HWND owner, const char* text, const char* caption, const BoxLayout& layout,
                       const ScreenSize& screen, FrameExtents* frame) {
    Display* display = x11Display();
    Window box = XCreateSimpleWindow(display, x11Root(), 0, 0, unsigned(layout.width), unsigned(layout.height), 0,
                                     BlackPixel(display, x11Screen()), WhitePixel(display, x11Screen()));
    XSelectInput(display, box,
                 ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                     PropertyChangeMask);
    x11DescribeProgram(box);

    XStoreName(display, box, caption);
    XChangeProperty(display, box, x11Atom("_NET_WM_NAME"), x11Atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(caption), int(std::strlen(caption)));
    // The text as a property too, so that assistive tools and tests can read it.
    XChangeProperty(display, box, x11Atom("WIN32_MESSAGE_TEXT"), x11Atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text), int(std::strlen(text)));
    Atom dialog = x11Atom("_NET_WM_WINDOW_TYPE_DIALOG");
    XChangeProperty(display, box, x11Atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&dialog), 1);
    Atom modal = x11Atom("_NET_WM_STATE_MODAL");
    XChangeProperty(display, box, x11Atom("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&modal), 1);
    if (isLiveWindow(owner)) XSetTransientForHint(display, box, owner->x11->xid);

    // Placed by the frame the manager expects to draw; placed again by the
    // one it draws (a dialog's may differ) once that is published.
    x11RequestFrameExtents(box, frame);
    centreBox(box, layout, *frame, screen);
    setBoxSizeHints(box, layout);
    XWMHints* hints = XAllocWMHints();
    hints->flags = InputHint;
    hints->input = True;
    XSetWMHints(display, box, hints);
    XFree(hints);
    Atom protocols[] = {x11Atom("WM_DELETE_WINDOW"), x11Atom("_NET_WM_PING")};
    XSetWMProtocols(display, box, protocols, 2);
    return box;
}

}  // namespace

int x11MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    Display* display = x11Display();
    // Sized for the screen, so that the text is as legible on any of them;
    // laid out again when the screen changes size.
    bool errorIcon = (type & 0xF0) == MB_ICONERROR;
    ScreenSize screen = x11ScreenSize();
    std::unique_ptr<BoxFont> font;
    BoxLayout layout = fitLayout(text, errorIcon, screen, x11ScreenDpi(), x11OpenBoxFont, &font);
    FrameExtents frame;
    Window box = createBoxWindow(owner, text, caption, layout, screen, &frame);
    x11.boxes.push_back(box);
    XSelectInput(display, x11Root(), StructureNotifyMask);
    GC gc = XCreateGC(display, box, 0, nullptr);
    BoxColors colors = allocateColors();
    XMapRaised(display, box);

    // Modal: the box handles its own events here; the program's windows
    // get theirs as messages, retrieved once the box is gone.
    BoxButton button;
    bool done = false, destroyed = false;
    // Until the server says the box is shown, it is asked for again now and
    // then: a window manager that is still starting may drop the request.
    const int64_t askAgainMs = 1000;
    int64_t showAgainAt = nowMs() + askAgainMs;
    auto forBox = [box](const XEvent& each) { return isForBox(each, box); };
    while (!done) {
        XEvent event;
        bool awaited = x11AwaitEvent(forBox, showAgainAt ? showAgainAt : INT64_MAX, &event);
        // Another client may destroy the box at any moment: what is asked of
        // it is expected to fail then, and the DestroyNotify ends the loop.
        unsigned long first = x11BeginQuietRequests();
        if (!awaited) {
            XMapRaised(display, box);
            showAgainAt = nowMs() + askAgainMs;
            x11EndQuietRequests(first);
            continue;
        }
        bool synthetic = event.xany.send_event;
        switch (event.type) {
        case MapNotify:
            if (synthetic) break;
            showAgainAt = 0;
            x11Focus(box, true);
            break;
        case UnmapNotify:
            // Taken off the screen by someone else, a modal box is shown
            // again, unless it comes back by itself, as when a window manager
            // puts a frame around it.
            if (!synthetic) showAgainAt = nowMs() + 250;
            break;
        case DestroyNotify:
            // Destroyed by another client: the call fails, as on the platform
            // when the box cannot be shown.
            destroyed = done = !synthetic;
            break;
        case PropertyNotify:
            if (event.xproperty.atom == x11Atom("_NET_FRAME_EXTENTS") && x11ReadFrameExtents(box, &frame))
                centreBox(box, layout, frame, screen);
            break;
        case ConfigureNotify:
            if (synthetic || event.xconfigure.window != x11Root()) break;
            if (event.xconfigure.width == screen.width && event.xconfigure.height == screen.height) break;
            screen = ScreenSize{event.xconfigure.width, event.xconfigure.height};
            font.reset();
            layout = fitLayout(text, errorIcon, screen, x11ScreenDpi(), x11OpenBoxFont, &font);
            setBoxSizeHints(box, layout);
            XResizeWindow(display, box, unsigned(layout.width), unsigned(layout.height));
            centreBox(box, layout, frame, screen);
            drawBox(box, gc, layout, font.get(), colors, button.down);
            break;
        case Expose:
            if (event.xexpose.count == 0) drawBox(box, gc, layout, font.get(), colors, button.down);
            break;
        case KeyPress: done = dismissesBox(uint32_t(XLookupKeysym(&event.xkey, 0))); break;
        case ButtonPress:
            if (event.xbutton.button == Button1 && button.press(layout, event.xbutton.x, event.xbutton.y))
                drawBox(box, gc, layout, font.get(), colors, button.down);
            break;
        case ButtonRelease: {
            if (event.xbutton.button != Button1) break;
            bool sprangBack = false;
            done = button.release(layout, event.xbutton.x, event.xbutton.y, &sprangBack);
            if (sprangBack) drawBox(box, gc, layout, font.get(), colors, button.down);
            break;
        }
        case ClientMessage:
            // One that came before the filters knew the box; the rest they keep.
            if (x11AnswerPing(event.xclient)) break;
            done = event.xclient.message_type == x11Atom("WM_PROTOCOLS") &&
                   Atom(event.xclient.data.l[0]) == x11Atom("WM_DELETE_WINDOW");
            break;
        default: break;
        }
        x11EndQuietRequests(first);
    }

    // What was drawn on a window another client destroyed is gone with it:
    // freeing it is expected to fail.
    unsigned long first = x11BeginQuietRequests();
    XFreeGC(display, gc);
    font.reset();
    if (!destroyed) XDestroyWindow(display, box);
    x11.boxes.erase(std::find(x11.boxes.begin(), x11.boxes.end(), box));
    x11EndCheckedRequests(first);
    return destroyed ? 0 : IDOK;
}
