// A message box's window on the X server: a modal dialog, with the
// platform's picture drawn through the core protocol and Xft.
#include "platform/x11/internal.h"
#include "platform/common/message_box.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstring>

namespace {

// The box's colours, allocated as first drawn; where the colour map is full,
// black or white, whichever is nearer.
class X11BoxPainter : public BoxPainter {
public:
    X11BoxPainter(Window window, GC context, std::vector<std::pair<uint32_t, unsigned long>>* allocated)
        : box(window), gc(context), pixels(allocated) {}
    void fillRectangle(int x, int y, int width, int height, uint32_t rgb) override {
        XSetForeground(display, gc, pixel(rgb));
        XFillRectangle(display, box, gc, x, y, unsigned(width), unsigned(height));
    }
    void outlineRectangle(int x, int y, int width, int height, uint32_t rgb) override {
        XSetForeground(display, gc, pixel(rgb));
        XDrawRectangle(display, box, gc, x, y, unsigned(width - 1), unsigned(height - 1));
    }
    void fillDisc(int x, int y, int size, uint32_t rgb) override {
        XSetForeground(display, gc, pixel(rgb));
        XFillArc(display, box, gc, x, y, unsigned(size), unsigned(size), 0, 360 * 64);
    }
    void drawLine(int x0, int y0, int x1, int y1, int lineWidth, uint32_t rgb) override {
        XSetForeground(display, gc, pixel(rgb));
        XSetLineAttributes(display, gc, unsigned(lineWidth), LineSolid, CapRound, JoinRound);
        XDrawLine(display, box, gc, x0, y0, x1, y1);
        XSetLineAttributes(display, gc, 1, LineSolid, CapButt, JoinMiter);
    }
    void drawText(const BoxFont* font, int x, int baselineY, const std::string& text) override {
        XSetForeground(display, gc, pixel(boxColour::text));
        x11DrawText(font, box, gc, x, baselineY, text);
    }

private:
    unsigned long pixel(uint32_t rgb) {
        for (const auto& [allocated, value] : *pixels)
            if (allocated == rgb) return value;
        auto channel = [rgb](int shift) { return static_cast<unsigned short>(((rgb >> shift) & 0xff) * 0x101); };
        XColor colour{};
        colour.red = channel(16);
        colour.green = channel(8);
        colour.blue = channel(0);
        unsigned long value;
        if (XAllocColor(display, DefaultColormap(display, x11Screen()), &colour))
            value = colour.pixel;
        else if (((rgb >> 16) & 0xff) + ((rgb >> 8) & 0xff) + (rgb & 0xff) > 3 * 128)
            value = WhitePixel(display, x11Screen());
        else
            value = BlackPixel(display, x11Screen());
        pixels->emplace_back(rgb, value);
        return value;
    }

    Display* display = x11Display();
    Window box;
    GC gc;
    std::vector<std::pair<uint32_t, unsigned long>>* pixels;
};

// The box's own events, and the screen's changes of size.
bool isForBox(const XEvent& event, Window box) {
    return event.xany.window == box || (event.type == ConfigureNotify && event.xconfigure.window == x11Root());
}

// The platform centres the whole box, frame included; with north-west
// gravity the manager puts the frame's corner where the box is placed.
void centreBox(Window box, const BoxLayout& layout, const FrameExtents& frame, const ScreenArea& monitor) {
    int x = monitor.x + (monitor.width - layout.width - frame.left - frame.right) / 2;
    int y = monitor.y + (monitor.height - layout.height - frame.top - frame.bottom) / 2;
    XMoveWindow(x11Display(), box, x, y);
}

// A box stands on its owner's monitor, one without an owner on the primary.
ScreenArea monitorOfBox(HWND owner) {
    if (!owner || !isLiveWindow(owner) || !x11Of(owner)) return x11PrimaryMonitor();
    POINT centre = x11ToRoot(owner->clientX + owner->clientWidth / 2, owner->clientY + owner->clientHeight / 2);
    return x11MonitorAt(centre.x, centre.y);
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
                       const ScreenArea& monitor, FrameExtents* frame) {
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
    if (isLiveWindow(owner)) XSetTransientForHint(display, box, x11Of(owner)->xid);

    // Placed by the frame the manager expects to draw; placed again by the
    // one it draws (a dialog's may differ) once that is published.
    x11RequestFrameExtents(box, frame);
    centreBox(box, layout, *frame, monitor);
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

namespace {

// A modal dialog window on the X server. Its events are read here; the
// program's windows get theirs as messages, retrieved once the box is gone.
class X11BoxWindow : public BoxWindow {
public:
    X11BoxWindow(HWND ownerWindow, const char* boxText, const char* boxCaption)
        : owner(ownerWindow), text(boxText), caption(boxCaption) {}
    ~X11BoxWindow() override;
    ScreenSize screen() override { return ScreenSize{monitor.width, monitor.height}; }
    double dpi() override { return x11ScreenDpi(); }
    BoxFontOpener fontOpener() override { return x11OpenBoxFont; }
    bool show(const BoxLayout& layout) override;
    BoxEvent next() override;
    bool paint(const BoxLayout& layout, const BoxFont* font, bool buttonDown) override;
    void resize(const BoxLayout& layout) override;

private:
    HWND owner;
    std::string text, caption;
    ScreenArea monitor = monitorOfBox(owner);
    BoxLayout layout{};
    FrameExtents frame;
    Window box = 0;
    GC gc = nullptr;
    std::vector<std::pair<uint32_t, unsigned long>> pixels;
    bool destroyed = false;
    // Until the server says the box is shown, it is asked for again now and
    // then: a window manager that is still starting may drop the request.
    int64_t showAgainAt = 0;
    // Another client may destroy the box at any moment: what is asked of it
    // while handling an event is expected to fail then, and the
    // DestroyNotify ends the box.
    unsigned long quietFrom = 0;
    bool quiet = false;
};

const int64_t askAgainMs = 1000;

bool X11BoxWindow::show(const BoxLayout& boxLayout) {
    Display* display = x11Display();
    layout = boxLayout;
    box = createBoxWindow(owner, text.c_str(), caption.c_str(), layout, monitor, &frame);
    x11.boxes.push_back(box);
    XSelectInput(display, x11Root(), StructureNotifyMask);
    gc = XCreateGC(display, box, 0, nullptr);
    XMapRaised(display, box);
    showAgainAt = nowMs() + askAgainMs;
    return true;
}

BoxEvent X11BoxWindow::next() {
    Display* display = x11Display();
    for (;;) {
        if (quiet) x11EndQuietRequests(quietFrom);
        XEvent event;
        bool awaited = x11AwaitEvent([this](const XEvent& each) { return isForBox(each, box); },
                                     showAgainAt ? showAgainAt : INT64_MAX, &event);
        quietFrom = x11BeginQuietRequests();
        quiet = true;
        if (!awaited) {
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
            if (synthetic) break;
            destroyed = true;
            return BoxEvent{BoxEvent::Kind::gone};
        case PropertyNotify:
            if (event.xproperty.atom == x11Atom("_NET_FRAME_EXTENTS") && x11ReadFrameExtents(box, &frame))
                centreBox(box, layout, frame, monitor);
            break;
        case ConfigureNotify: {
            if (synthetic || event.xconfigure.window != x11Root()) break;
            // The screen changed size: its monitors with it.
            x11ReadMonitors();
            ScreenArea now = monitorOfBox(owner);
            bool resized = now.width != monitor.width || now.height != monitor.height;
            bool moved = now.x != monitor.x || now.y != monitor.y;
            monitor = now;
            if (moved && !resized) centreBox(box, layout, frame, monitor);
            if (!resized) break;
            BoxEvent changed{BoxEvent::Kind::screenChanged};
            changed.screen = ScreenSize{now.width, now.height};
            return changed;
        }
        case Expose:
            if (event.xexpose.count == 0) return BoxEvent{BoxEvent::Kind::paint};
            break;
        case KeyPress: {
            BoxEvent key{BoxEvent::Kind::key};
            key.keySymbol = uint32_t(XLookupKeysym(&event.xkey, 0));
            return key;
        }
        case ButtonPress:
        case ButtonRelease: {
            if (event.xbutton.button != Button1) break;
            BoxEvent button{event.type == ButtonPress ? BoxEvent::Kind::press : BoxEvent::Kind::release};
            button.x = event.xbutton.x;
            button.y = event.xbutton.y;
            return button;
        }
        case ClientMessage:
            // One that came before the filters knew the box; the rest they keep.
            if (x11AnswerPing(event.xclient)) break;
            if (event.xclient.message_type == x11Atom("WM_PROTOCOLS") &&
                Atom(event.xclient.data.l[0]) == x11Atom("WM_DELETE_WINDOW"))
                return BoxEvent{BoxEvent::Kind::close};
            break;
        default: break;
        }
    }
}

bool X11BoxWindow::paint(const BoxLayout& boxLayout, const BoxFont* font, bool buttonDown) {
    X11BoxPainter painter(box, gc, &pixels);
    paintBox(painter, boxLayout, font, buttonDown);
    XFlush(x11Display());
    return true;
}

void X11BoxWindow::resize(const BoxLayout& boxLayout) {
    layout = boxLayout;
    setBoxSizeHints(box, layout);
    XResizeWindow(x11Display(), box, unsigned(layout.width), unsigned(layout.height));
    centreBox(box, layout, frame, monitor);
}

X11BoxWindow::~X11BoxWindow() {
    if (!box) return;
    // What was drawn on a window another client destroyed is gone with it:
    // freeing it is expected to fail.
    unsigned long first = quiet ? quietFrom : x11BeginQuietRequests();
    XFreeGC(x11Display(), gc);
    if (!destroyed) XDestroyWindow(x11Display(), box);
    x11.boxes.erase(std::find(x11.boxes.begin(), x11.boxes.end(), box));
    x11EndCheckedRequests(first);
}

}  // namespace

std::unique_ptr<BoxWindow> x11MessageBoxWindow(HWND owner, const char* text, const char* caption) {
    return std::make_unique<X11BoxWindow>(owner, text, caption);
}
