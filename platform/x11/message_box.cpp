// MessageBoxA: a modal dialog window on the X server with the text, an OK
// button and, for MB_ICONERROR, an error mark.
#include "platform/x11/internal.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstring>
#include <poll.h>

namespace {

// The box's measures at 96 dots per inch; they grow with the resolution.
struct BoxMetrics {
    int margin, iconSize, buttonWidth, buttonHeight, minimumWidth, iconLine;
};

BoxMetrics metricsFor(double dpi) {
    double scale = dpi / 96.0;
    auto scaled = [scale](int size) { return std::max(1, int(size * scale + 0.5)); };
    return BoxMetrics{scaled(16), scaled(32), scaled(88), scaled(26), scaled(240), scaled(3)};
}

struct BoxLayout {
    BoxMetrics metrics;
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

BoxLayout layOut(const std::vector<std::string>& lines, bool errorIcon, const BoxFont* font,
                 const BoxMetrics& metrics) {
    BoxLayout layout{};
    layout.metrics = metrics;
    layout.lines = lines;
    layout.errorIcon = errorIcon;
    int ascent = x11FontAscent(font), descent = x11FontDescent(font);
    layout.lineHeight = ascent + descent + std::max(2, metrics.margin / 8);
    int textWidth = 0;
    for (const std::string& line : layout.lines) textWidth = std::max(textWidth, x11TextWidth(font, line));
    int textHeight = layout.lineHeight * int(layout.lines.size());
    int margin = metrics.margin;
    layout.textX = margin + (errorIcon ? metrics.iconSize + margin : 0);
    int contentHeight = std::max(textHeight, errorIcon ? metrics.iconSize : 0);
    layout.textY = margin + (contentHeight - textHeight) / 2 + ascent;
    layout.width = std::max(layout.textX + textWidth + margin, metrics.buttonWidth + 2 * margin);
    layout.width = std::max(layout.width, metrics.minimumWidth);
    layout.buttonX = (layout.width - metrics.buttonWidth) / 2;
    layout.buttonY = margin + contentHeight + margin;
    layout.height = layout.buttonY + metrics.buttonHeight + margin;
    return layout;
}

struct ScreenSize {
    int width, height;
};

ScreenSize defaultScreenSize() {
    return ScreenSize{DisplayWidth(x11Display(), x11Screen()), DisplayHeight(x11Display(), x11Screen())};
}

// How much of the screen a box may take: room for its frame and the desktop.
ScreenSize roomFor(const ScreenSize& screen) { return ScreenSize{screen.width * 9 / 10, screen.height * 9 / 10}; }

// The number of bytes of the longest start of `line` no wider than `width`,
// ended at a blank where one fits, between characters otherwise; at least one
// character.
size_t fittingLength(const std::string& line, const BoxFont* font, int width) {
    size_t fits = 0, blank = 0;
    for (size_t end = 1; end <= line.size(); ++end) {
        if (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) continue;  // inside a character
        if (x11TextWidth(font, line.substr(0, end)) > width) break;
        fits = end;
        if (end < line.size() && line[end] == ' ') blank = end;
    }
    if (fits == line.size()) return fits;
    if (blank) return blank;
    if (fits) return fits;
    size_t first = 1;
    while (first < line.size() && (static_cast<unsigned char>(line[first]) & 0xC0) == 0x80) ++first;
    return first;
}

std::vector<std::string> wrapped(const std::vector<std::string>& lines, const BoxFont* font, int width) {
    std::vector<std::string> out;
    for (std::string line : lines) {
        do {
            size_t length = fittingLength(line, font, width);
            out.push_back(line.substr(0, length));
            line.erase(0, length);
            if (!line.empty() && line[0] == ' ' && out.back().size() == length) line.erase(0, 1);
        } while (!line.empty());
    }
    return out;
}

bool fits(const BoxLayout& layout, const ScreenSize& room) {
    return layout.width <= room.width && layout.height <= room.height;
}

// The box laid out for the screen it is on: at the desktop's resolution
// where that fits, its lines wrapped to the screen's width, with smaller
// text where it must, and never larger than the screen.
BoxLayout fitLayout(const char* text, bool errorIcon, const ScreenSize& screen, BoxFont** font) {
    ScreenSize room = roomFor(screen);
    std::vector<std::string> lines = splitLines(text);
    double dpi = x11ScreenDpi();
    for (;;) {
        *font = x11OpenBoxFont(dpi);
        BoxMetrics metrics = metricsFor(dpi);
        int textRoom = room.width - layOut({}, errorIcon, *font, metrics).textX - metrics.margin;
        BoxLayout layout = layOut(wrapped(lines, *font, std::max(textRoom, 1)), errorIcon, *font, metrics);
        if (fits(layout, room) || dpi <= x11MinimumDpi) {
            layout.width = std::min(layout.width, screen.width);
            layout.height = std::min(layout.height, screen.height);
            return layout;
        }
        x11CloseBoxFont(*font);
        double shrink = std::min(double(room.width) / layout.width, double(room.height) / layout.height);
        dpi = std::max(x11MinimumDpi, dpi * std::min(shrink, 0.9));
    }
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
    int labelX = layout.buttonX + (m.buttonWidth - x11TextWidth(font, label)) / 2;
    int labelY = layout.buttonY + (m.buttonHeight + x11FontAscent(font) - x11FontDescent(font)) / 2;
    x11DrawText(font, box, gc, labelX, labelY, label);
    XFlush(display);
}

bool insideButton(const BoxLayout& layout, int x, int y) {
    return x >= layout.buttonX && x < layout.buttonX + layout.metrics.buttonWidth && y >= layout.buttonY &&
           y < layout.buttonY + layout.metrics.buttonHeight;
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

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Display* display = x11Display();
    if (!text) text = "";
    if (!caption) caption = "Error";  // the platform's default caption
    // Sized for the screen, so that the text is as legible on any of them;
    // laid out again when the screen changes size.
    bool errorIcon = (type & 0xF0) == MB_ICONERROR;
    ScreenSize screen = defaultScreenSize();
    BoxFont* font = nullptr;
    BoxLayout layout = fitLayout(text, errorIcon, screen, &font);
    FrameExtents frame;
    Window box = createBoxWindow(owner, text, caption, layout, screen, &frame);
    XSelectInput(display, x11Root(), StructureNotifyMask);
    GC gc = XCreateGC(display, box, 0, nullptr);
    BoxColors colors = allocateColors();
    XMapRaised(display, box);

    // Modal: the box handles its own events here; the program's windows
    // get theirs as messages, retrieved once the box is gone.
    bool buttonDown = false, done = false, destroyed = false;
    // Until the server says the box is shown, it is asked for again now and
    // then: a window manager that is still starting may drop the request.
    const int64_t askAgainMs = 1000;
    int64_t showAgainAt = nowMs() + askAgainMs;
    auto forBox = [box](const XEvent& each) { return isForBox(each, box); };
    while (!done) {
        XEvent event;
        if (!x11WaitForEvent(forBox, showAgainAt ? showAgainAt : INT64_MAX, &event)) {
            XMapRaised(display, box);
            showAgainAt = nowMs() + askAgainMs;
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
            x11CloseBoxFont(font);
            layout = fitLayout(text, errorIcon, screen, &font);
            setBoxSizeHints(box, layout);
            XResizeWindow(display, box, unsigned(layout.width), unsigned(layout.height));
            centreBox(box, layout, frame, screen);
            drawBox(box, gc, layout, font, colors, buttonDown);
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
            if (x11AnswerPing(event.xclient)) {
                XFlush(display);
                break;
            }
            done = event.xclient.message_type == x11Atom("WM_PROTOCOLS") &&
                   Atom(event.xclient.data.l[0]) == x11Atom("WM_DELETE_WINDOW");
            break;
        default: break;
        }
    }

    // What was drawn on a window another client destroyed is gone with it:
    // freeing it is expected to fail.
    unsigned long first = x11BeginQuietRequests();
    XFreeGC(display, gc);
    x11CloseBoxFont(font);
    if (!destroyed) XDestroyWindow(display, box);
    x11EndCheckedRequests(first);
    return destroyed ? 0 : IDOK;
}
