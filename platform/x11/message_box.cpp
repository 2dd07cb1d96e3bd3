// MessageBoxA: a modal dialog window on the X server with the text, an OK
// button and, for MB_ICONERROR, an error mark.
#include "platform/x11/internal.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstring>
#include <poll.h>

namespace {

const int margin = 16;
const int iconSize = 32;
const int buttonWidth = 88;
const int buttonHeight = 26;

struct BoxLayout {
    std::vector<std::string> lines;
    int width, height;
    int textX, textY, lineHeight;
    int buttonX, buttonY;
    bool errorIcon;
};

std::vector<std::string> splitLines(const char* text) {
    std::vector<std::string> lines(1);
    for (const char* c = text; *c; ++c) {
        if (*c == '\n')
            lines.emplace_back();
        else if (*c != '\r')
            lines.back() += *c;
    }
    if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    return lines;
}

BoxLayout layOut(const char* text, bool errorIcon, XFontStruct* font) {
    BoxLayout layout{};
    layout.lines = splitLines(text);
    layout.errorIcon = errorIcon;
    int ascent = font ? font->ascent : 11, descent = font ? font->descent : 2;
    layout.lineHeight = ascent + descent + 2;
    int textWidth = 0;
    for (const std::string& line : layout.lines)
        textWidth = std::max(textWidth, font ? XTextWidth(font, line.data(), int(line.size())) : int(line.size()) * 6);
    int textHeight = layout.lineHeight * int(layout.lines.size());
    layout.textX = margin + (errorIcon ? iconSize + margin : 0);
    int contentHeight = std::max(textHeight, errorIcon ? iconSize : 0);
    layout.textY = margin + (contentHeight - textHeight) / 2 + ascent;
    layout.width = std::max(layout.textX + textWidth + margin, buttonWidth + 2 * margin);
    layout.width = std::max(layout.width, 240);
    layout.buttonX = (layout.width - buttonWidth) / 2;
    layout.buttonY = margin + contentHeight + margin;
    layout.height = layout.buttonY + buttonHeight + margin;
    return layout;
}

unsigned long allocateColor(unsigned short red, unsigned short green, unsigned short blue, unsigned long fallback) {
    Display* display = x11Display();
    XColor color{};
    color.red = red;
    color.green = green;
    color.blue = blue;
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
    colors.face = allocateColor(0xf0f0, 0xf0f0, 0xf0f0, colors.white);
    colors.shadow = allocateColor(0x8080, 0x8080, 0x8080, colors.black);
    colors.red = allocateColor(0xd000, 0x1000, 0x1000, colors.black);
    return colors;
}

void drawBox(Window box, GC gc, const BoxLayout& layout, XFontStruct* font, const BoxColors& colors,
             bool buttonDown) {
    Display* display = x11Display();
    unsigned long black = colors.black, white = colors.white, face = colors.face, shadow = colors.shadow,
                  red = colors.red;

    XSetForeground(display, gc, face);
    XFillRectangle(display, box, gc, 0, 0, unsigned(layout.width), unsigned(layout.height));
    if (layout.errorIcon) {
        XSetForeground(display, gc, red);
        XFillArc(display, box, gc, margin, margin, iconSize, iconSize, 0, 360 * 64);
        XSetForeground(display, gc, white);
        XSetLineAttributes(display, gc, 3, LineSolid, CapRound, JoinRound);
        int a = margin + 10, b = margin + iconSize - 10;
        XDrawLine(display, box, gc, a, a, b, b);
        XDrawLine(display, box, gc, a, b, b, a);
        XSetLineAttributes(display, gc, 1, LineSolid, CapButt, JoinMiter);
    }
    XSetForeground(display, gc, black);
    for (size_t i = 0; i < layout.lines.size(); ++i)
        XDrawString(display, box, gc, layout.textX, layout.textY + int(i) * layout.lineHeight,
                    layout.lines[i].data(), int(layout.lines[i].size()));

    XSetForeground(display, gc, buttonDown ? shadow : white);
    XFillRectangle(display, box, gc, layout.buttonX, layout.buttonY, buttonWidth, buttonHeight);
    XSetForeground(display, gc, black);
    XDrawRectangle(display, box, gc, layout.buttonX, layout.buttonY, buttonWidth - 1, buttonHeight - 1);
    const char* label = "OK";
    int labelWidth = font ? XTextWidth(font, label, 2) : 12;
    int labelY = layout.buttonY + (buttonHeight + (font ? font->ascent - font->descent : 9)) / 2;
    XDrawString(display, box, gc, layout.buttonX + (buttonWidth - labelWidth) / 2, labelY, label, 2);
    XFlush(display);
}

bool insideButton(const BoxLayout& layout, int x, int y) {
    return x >= layout.buttonX && x < layout.buttonX + buttonWidth && y >= layout.buttonY &&
           y < layout.buttonY + buttonHeight;
}

Bool isForBox(Display*, XEvent* event, XPointer box) {
    return event->xany.window == *reinterpret_cast<Window*>(box);
}

Window createBoxWindow(HWND owner, const char* text, const char* caption, const BoxLayout& layout) {
    Display* display = x11Display();
    int screen = x11Screen();
    int x = (DisplayWidth(display, screen) - layout.width) / 2;
    int y = (DisplayHeight(display, screen) - layout.height) / 2;
    Window box = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, unsigned(layout.width),
                                     unsigned(layout.height), 0, BlackPixel(display, screen),
                                     WhitePixel(display, screen));
    XSelectInput(display, box, ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);

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
    if (x11IsLiveWindow(owner)) XSetTransientForHint(display, box, owner->xid);

    XSizeHints* size = XAllocSizeHints();
    size->flags = PPosition | PMinSize | PMaxSize;
    size->x = x;
    size->y = y;
    size->min_width = size->max_width = layout.width;
    size->min_height = size->max_height = layout.height;
    XSetWMNormalHints(display, box, size);
    XFree(size);
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

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Display* display = x11Display();
    if (!text) text = "";
    if (!caption) caption = "Error";  // the platform's default caption
    XFontStruct* font = XLoadQueryFont(display, "fixed");
    BoxLayout layout = layOut(text, (type & 0xF0) == MB_ICONERROR, font);
    Window box = createBoxWindow(owner, text, caption, layout);
    GC gc = XCreateGC(display, box, 0, nullptr);
    BoxColors colors = allocateColors();
    if (font) XSetFont(display, gc, font->fid);
    XMapRaised(display, box);

    // Modal: only the box's own events are read here; everything else stays
    // queued for the program's loop.
    bool buttonDown = false, done = false, destroyed = false;
    // Until the server says the box is shown, it is asked for again now and
    // then: a window manager that is still starting may drop the request.
    const int64_t askAgainMs = 1000;
    int64_t showAgainAt = x11NowMs() + askAgainMs;
    while (!done) {
        XEvent event;
        if (!XCheckIfEvent(display, &event, isForBox, reinterpret_cast<XPointer>(&box))) {
            if (showAgainAt && x11NowMs() >= showAgainAt) {
                XMapRaised(display, box);
                showAgainAt = x11NowMs() + askAgainMs;
            }
            XFlush(display);
            int wait = showAgainAt ? int(std::max<int64_t>(showAgainAt - x11NowMs(), 0)) : -1;
            pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
            poll(&descriptor, 1, wait);
            XEventsQueued(display, QueuedAfterReading);
            continue;
        }
        bool forged = event.xany.send_event;
        switch (event.type) {
        case MapNotify:
            if (forged) break;
            showAgainAt = 0;
            x11Focus(box, true);
            break;
        case UnmapNotify:
            // Taken off the screen by someone else, a modal box is shown
            // again, unless it comes back by itself, as when a window manager
            // puts a frame around it.
            if (!forged) showAgainAt = x11NowMs() + 250;
            break;
        case DestroyNotify:
            // Destroyed by another client: the call fails, as on the platform
            // when the box cannot be shown.
            destroyed = done = !forged;
            break;
        case Expose:
            if (event.xexpose.count == 0) drawBox(box, gc, layout, font, colors, buttonDown);
            break;
        case KeyPress: {
            KeySym symbol = XLookupKeysym(&event.xkey, 0);
            done = symbol == XK_Return || symbol == XK_KP_Enter || symbol == XK_space || symbol == XK_Escape;
            break;
        }
        case ButtonPress:
            if (event.xbutton.button == Button1 && insideButton(layout, event.xbutton.x, event.xbutton.y)) {
                buttonDown = true;
                drawBox(box, gc, layout, font, colors, buttonDown);
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button != Button1) break;
            done = buttonDown && insideButton(layout, event.xbutton.x, event.xbutton.y);
            if (buttonDown && !done) drawBox(box, gc, layout, font, colors, buttonDown = false);
            break;
        case ClientMessage:
            if (x11AnswerPing(event.xclient)) break;
            done = event.xclient.message_type == x11Atom("WM_PROTOCOLS") &&
                   Atom(event.xclient.data.l[0]) == x11Atom("WM_DELETE_WINDOW");
            break;
        default: break;
        }
    }

    XFreeGC(display, gc);
    if (font) XFreeFont(display, font);
    if (!destroyed) XDestroyWindow(display, box);
    XSync(display, False);
    return destroyed ? 0 : IDOK;
}
