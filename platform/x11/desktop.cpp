// The window manager's side of a top-level window: what ICCCM and EWMH have
// a client publish and ask, and how it learns the frame drawn around it.
#include "platform/x11/internal.h"
#include "platform/x11/icon.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace {

// The items of a 32-bit property of the given type, as Xlib hands them out
// (longs); none when it is not set. Quiet: the window may be gone.
std::vector<long> property32(Window window, Atom property, Atom wantedType, long maximumItems) {
    Atom type;
    int format;
    unsigned long count = 0, after;
    unsigned char* data = nullptr;
    std::vector<long> items;
    unsigned long first = x11BeginQuietRequests();
    if (XGetWindowProperty(x11Display(), window, property, 0, maximumItems, False, wantedType, &type, &format, &count,
                           &after, &data) == Success &&
        data && type == wantedType && format == 32)
        items.assign(reinterpret_cast<const long*>(data), reinterpret_cast<const long*>(data) + count);
    x11EndQuietRequests(first);
    if (data) XFree(data);
    return items;
}

// A window-valued property of `window`, or 0.
Window windowProperty(Window window, Atom property) {
    std::vector<long> items = property32(window, property, XA_WINDOW, 1);
    return items.size() == 1 ? Window(items[0]) : 0;
}

// EWMH: a manager runs while the root's check window names itself; a stale
// property left by a manager that has gone names a window that does not.
bool managerRuns() {
    Atom check = x11Atom("_NET_SUPPORTING_WM_CHECK");
    Window child = windowProperty(x11Root(), check);
    return child && windowProperty(child, check) == child;
}

void setAtomProperty(Window window, const char* property, const char* value) {
    Atom atom = x11Atom(value);
    XChangeProperty(x11Display(), window, x11Atom(property), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&atom), 1);
}

void setUtf8Property(Window window, const char* property, const std::string& text) {
    XChangeProperty(x11Display(), window, x11Atom(property), x11Atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
}

void sendToRoot(Window window, const char* messageType, long l0, long l1 = 0, long l2 = 0, long l3 = 0) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = x11Atom(messageType);
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    XSendEvent(x11Display(), x11Root(), False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
}

bool hasAtom(const std::vector<long>& atoms, const char* name) {
    return std::find(atoms.begin(), atoms.end(), long(x11Atom(name))) != atoms.end();
}

// EWMH source indication: a normal application asks.
const long fromApplication = 1;

// The class hint names the program: task bars group its windows by it and
// match them to its desktop entry.
void setClassHint(Window window) {
    std::string name = program_invocation_short_name;
    std::string className = name;
    if (!className.empty() && className[0] >= 'a' && className[0] <= 'z') className[0] = char(className[0] - 'a' + 'A');
    XClassHint hint;
    hint.res_name = name.data();
    hint.res_class = className.data();
    XSetClassHint(x11Display(), window, &hint);
}

// The platform's window with a sizing border can be resized by the user, so
// the manager is told only where the program put it and how big it is.
void setNormalHints(HWND window) {
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = USPosition | USSize | PWinGravity;
    POINT corner = x11ToRoot(window->clientX - x11Of(window)->frame.left, window->clientY - x11Of(window)->frame.top);
    hints->x = corner.x;
    hints->y = corner.y;
    hints->width = window->clientWidth;
    hints->height = window->clientHeight;
    // The position given is the outer frame's, as the platform defines it.
    hints->win_gravity = NorthWestGravity;
    if (!(window->style & WS_THICKFRAME)) {
        hints->flags |= PMinSize | PMaxSize;
        hints->min_width = hints->max_width = window->clientWidth;
        hints->min_height = hints->max_height = window->clientHeight;
    }
    XSetWMNormalHints(x11Display(), x11Of(window)->xid, hints);
    XFree(hints);
}

// X has no icon of its own for windows: the system's application icon is
// the program's, the one its launcher shows, at the sizes task bars use.
const std::vector<unsigned long>& applicationIconProperty() {
    static std::vector<unsigned long>& property = *new std::vector<unsigned long>;
    if (property.empty())
        for (int size : {16, 32, 48, 64}) {
            property.push_back(static_cast<unsigned long>(size));
            property.push_back(static_cast<unsigned long>(size));
            for (uint32_t pixel : applicationIcon(size)) property.push_back(pixel);
        }
    return property;
}

}  // namespace

bool x11ManagerRuns() { return managerRuns(); }

bool x11ManagerSupports(const char* hint) {
    return managerRuns() && hasAtom(property32(x11Root(), x11Atom("_NET_SUPPORTED"), XA_ATOM, 4096), hint);
}

void x11DescribeProgram(Window xid) {
    Display* display = x11Display();
    setClassHint(xid);
    // Who owns the window, so that a manager can end a program that hangs.
    long pid = long(getpid());
    XChangeProperty(display, xid, x11Atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        XTextProperty machine{};
        char* hostName = host;
        if (XStringListToTextProperty(&hostName, 1, &machine)) {
            XSetWMClientMachine(display, xid, &machine);
            XFree(machine.value);
        }
    }
}

void x11DescribeToManager(HWND window) {
    Display* display = x11Display();
    Window xid = x11Of(window)->xid;
    XStoreName(display, xid, window->title.c_str());
    XSetIconName(display, xid, window->title.c_str());
    setUtf8Property(xid, "_NET_WM_NAME", window->title);
    setUtf8Property(xid, "_NET_WM_ICON_NAME", window->title);
    x11DescribeProgram(xid);
    setNormalHints(window);
    setAtomProperty(xid, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL");
    if (window->hasIcon) {
        const std::vector<unsigned long>& icon = applicationIconProperty();
        XChangeProperty(display, xid, x11Atom("_NET_WM_ICON"), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(icon.data()), int(icon.size()));
    }

    XWMHints* hints = XAllocWMHints();
    hints->flags = InputHint | StateHint;
    hints->input = True;
    hints->initial_state = NormalState;
    XSetWMHints(display, xid, hints);
    XFree(hints);
    Atom protocols[] = {x11Atom("WM_DELETE_WINDOW"), x11Atom("_NET_WM_PING")};
    XSetWMProtocols(display, xid, protocols, 2);
}

bool x11ReadFrameExtents(Window xid, FrameExtents* extents) {
    // Without a manager nobody draws a frame, whatever a property says.
    if (!managerRuns()) return false;
    std::vector<long> sides = property32(xid, x11Atom("_NET_FRAME_EXTENTS"), XA_CARDINAL, 4);
    if (sides.size() != 4) return false;
    // Any client can write the property: take only what could be a frame.
    Display* display = x11Display();
    long limit = std::max(DisplayWidth(display, x11Screen()), DisplayHeight(display, x11Screen())) / 4;
    auto side = [limit](long value) { return int(std::clamp(value, 0L, limit)); };
    *extents = FrameExtents{side(sides[0]), side(sides[1]), side(sides[2]), side(sides[3])};
    return true;
}

bool x11RequestFrameExtents(Window xid, FrameExtents* extents) {
    if (!x11ManagerSupports("_NET_REQUEST_FRAME_EXTENTS")) return false;
    Display* display = x11Display();
    sendToRoot(xid, "_NET_REQUEST_FRAME_EXTENTS", 0);
    XFlush(display);
    // A manager answers at once; one that does not leaves the window without
    // a known frame, as if none were drawn.
    Atom extentsAtom = x11Atom("_NET_FRAME_EXTENTS");
    XEvent event;
    bool answered = x11AwaitEvent(
        [xid, extentsAtom](const XEvent& each) {
            return each.type == PropertyNotify && each.xproperty.window == xid && each.xproperty.atom == extentsAtom;
        },
        nowMs() + 500, &event);
    return answered && x11ReadFrameExtents(xid, extents);
}

ManagedState x11ReadManagedState(Window xid) {
    ManagedState state;
    Atom wmState = x11Atom("WM_STATE");
    std::vector<long> icccm = property32(xid, wmState, wmState, 2);
    state.minimized = !icccm.empty() && icccm[0] == IconicState;
    std::vector<long> ewmh = property32(xid, x11Atom("_NET_WM_STATE"), XA_ATOM, 64);
    bool vertical = hasAtom(ewmh, "_NET_WM_STATE_MAXIMIZED_VERT");
    bool horizontal = hasAtom(ewmh, "_NET_WM_STATE_MAXIMIZED_HORZ");
    // The platform knows no half-maximized window: either way the manager
    // holds the size, but only both are the platform's maximized.
    state.maximized = vertical && horizontal;
    state.sizeHeld = vertical || horizontal;
    state.fullscreen = hasAtom(ewmh, "_NET_WM_STATE_FULLSCREEN");
    return state;
}

bool x11ManagerAllowsResize(Window xid) {
    return hasAtom(property32(xid, x11Atom("_NET_WM_ALLOWED_ACTIONS"), XA_ATOM, 64), "_NET_WM_ACTION_RESIZE");
}

void x11LeaveManagedSizes(HWND window) {
    if (x11Of(window)->state.sizeHeld)
        sendToRoot(x11Of(window)->xid, "_NET_WM_STATE", 0, long(x11Atom("_NET_WM_STATE_MAXIMIZED_VERT")),
                   long(x11Atom("_NET_WM_STATE_MAXIMIZED_HORZ")), fromApplication);
    if (x11Of(window)->state.fullscreen)
        sendToRoot(x11Of(window)->xid, "_NET_WM_STATE", 0, long(x11Atom("_NET_WM_STATE_FULLSCREEN")), 0,
                   fromApplication);
    // Taken as left at once: a manager that allows the resize leaves the
    // state, but may publish it only after it has given the new size, and
    // the window is then told of its restored size, not of a maximized one.
    x11Of(window)->state.maximized = x11Of(window)->state.sizeHeld = x11Of(window)->state.fullscreen = false;
}

void x11Focus(Window xid, bool viewable) {
    Display* display = x11Display();
    if (x11ManagerSupports("_NET_ACTIVE_WINDOW")) {
        // With a manager, focus is its to give (EWMH); 1 says an application asks.
        sendToRoot(xid, "_NET_ACTIVE_WINDOW", fromApplication, CurrentTime, 0);
    } else if (viewable) {
        unsigned long first = x11BeginQuietRequests();
        XSetInputFocus(display, xid, RevertToParent, CurrentTime);
        x11EndQuietRequests(first);
    }
    XFlush(display);
}

bool x11AnswerPing(const XClientMessageEvent& client) {
    if (client.message_type != x11Atom("WM_PROTOCOLS") || client.format != 32 ||
        Atom(client.data.l[0]) != x11Atom("_NET_WM_PING"))
        return false;
    XEvent reply{};
    reply.xclient = client;
    reply.xclient.window = x11Root();
    // Sent with the rest of the batch: a flush each would let a flood of
    // pings cost a write each.
    XSendEvent(x11Display(), x11Root(), False, SubstructureNotifyMask | SubstructureRedirectMask, &reply);
    return true;
}
