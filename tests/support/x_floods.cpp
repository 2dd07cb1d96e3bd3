#include "x_floods.h"

#include "x_server.h"
#include "x_user.h"

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An event of `type` sent to the viewer's window, with what a program
// reading it would look at filled in; of these the server sends only
// the type, the window and the rest as given.
void sendForged(FloodTarget& target, int type, long count) {
    XEvent event{};
    event.type = type;
    event.xany.window = target.window;
    Display* flooder = target.flooder;
    switch (type) {
    case KeyPress:
        event.xkey.keycode = XKeysymToKeycode(flooder, XK_f);
        event.xkey.same_screen = True;
        break;
    case ButtonPress:
    case MotionNotify:
        event.xbutton.button = Button1;
        event.xbutton.x = int(count % 300);
        event.xbutton.y = int(count % 200);
        event.xbutton.same_screen = True;
        break;
    case FocusIn:
    case FocusOut: event.xfocus.detail = NotifyNonlinear; break;
    case Expose:
        event.xexpose.width = 10 + int(count % 90);
        event.xexpose.height = 10;
        break;
    case ConfigureNotify:
        event.xconfigure.window = target.window;
        event.xconfigure.x = int(count % 7);
        event.xconfigure.width = 100 + int(count % 50);
        event.xconfigure.height = 100 + int(count % 50);
        break;
    case VisibilityNotify: event.xvisibility.state = int(count % 3); break;
    case MapNotify: event.xmap.window = target.window; break;
    case PropertyNotify: event.xproperty.atom = XA_WM_NAME; break;
    case SelectionNotify:
        event.xselection.requestor = target.window;
        event.xselection.selection = XA_PRIMARY;
        break;
    case MappingNotify:
        event.xmapping.request = MappingKeyboard;
        event.xmapping.first_keycode = target.spareKey;
        event.xmapping.count = 1;
        break;
    default: break;
    }
    XSendEvent(flooder, target.window, False, NoEventMask, &event);
}

void sendClientMessage(FloodTarget& target, const char* type, long count) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target.window;
    event.xclient.format = 32;
    event.xclient.message_type = XInternAtom(target.flooder, type, False);
    if (std::string(type) == "WM_PROTOCOLS") {
        event.xclient.data.l[0] = long(XInternAtom(target.flooder, "_NET_WM_PING", False));
        event.xclient.data.l[1] = count;
        event.xclient.data.l[2] = long(target.window);
    }
    XSendEvent(target.flooder, target.window, False, NoEventMask, &event);
}

void sendPing(FloodTarget& target, long count) { sendClientMessage(target, "WM_PROTOCOLS", count); }

// The first event of an extension the viewer's own libraries set up as
// they start (the OpenGL driver's GLX, Xcursor's XFIXES, the driver's
// shared memory), sent as raw bytes on a connection of xcb's: Xlib sends
// no event of an extension it has not set up.
void sendExtensionEvent(FloodTarget& target, const char* extension, long count) {
    static Display* asked = nullptr;
    static std::string askedFor;
    static int firstEvent = 0;
    static xcb_connection_t* sender = nullptr;
    if (asked != target.flooder || askedFor != extension) {
        int opcode = 0, firstError = 0;
        if (!XQueryExtension(target.flooder, extension, &opcode, &firstEvent, &firstError)) firstEvent = 0;
        if (sender) xcb_disconnect(sender);
        sender = xcb_connect(DisplayString(target.flooder), nullptr);
        asked = target.flooder;
        askedFor = extension;
    }
    if (!firstEvent || xcb_connection_has_error(sender)) return;
    char event[32] = {};
    event[0] = char(firstEvent);
    std::memcpy(event + 4, &count, 4);
    xcb_send_event(sender, 0, xcb_window_t(target.window), 0, event);
    if (count % 100 == 99) xcb_flush(sender);
}

#define FORGED(type) [](FloodTarget& target, long count) { sendForged(target, type, count); }

const std::vector<Flood> allFloods = {
    {"pings", "_NET_WM_PING messages", sendPing},
    {"extents", "_NET_FRAME_EXTENTS rewrites",
     [](FloodTarget& target, long count) {
         long sides[4] = {count % 7, count % 5, 20 + count % 3, count % 2};
         XChangeProperty(target.flooder, target.window, XInternAtom(target.flooder, "_NET_FRAME_EXTENTS", False),
                         XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(sides), 4);
     }},
    {"ignored", "ClientMessages it ignores",
     [](FloodTarget& target, long count) { sendClientMessage(target, "FLOOD_OF_NOTHING", count); }},
    {"box-pings", "_NET_WM_PING to its notice", sendPing, true},
    // What other clients cause with requests of their own: the server's events.
    {"focus", "focus moved to it and away",
     [](FloodTarget& target, long count) {
         XSetInputFocus(target.flooder, count % 2 ? target.own : target.window, RevertToParent, CurrentTime);
     }},
    {"keymap", "keyboard mapping changes",
     [](FloodTarget& target, long count) {
         KeySym symbol = count % 2 ? XK_F20 : XK_F21;
         XChangeKeyboardMapping(target.flooder, target.spareKey, 1, &symbol, 1);
     }},
    {"warps", "pointer warped over it",
     [](FloodTarget& target, long count) {
         XWarpPointer(target.flooder, None, target.window, 0, 0, 0, 0, 10 + int(count % 300), 10 + int(count % 200));
     }},
    {"covers", "a window mapped over it and off",
     [](FloodTarget& target, long count) {
         count % 2 ? XUnmapWindow(target.flooder, target.own) : XMapRaised(target.flooder, target.own);
     }},
    {"moves", "its window moved by another client",
     [](FloodTarget& target, long count) { XMoveWindow(target.flooder, target.window, int(count % 2) * 8, 0); }},
    // Forged: sent events of types no other client has a reason to send.
    {"forged-key", "forged KeyPress", FORGED(KeyPress)},
    {"forged-button", "forged ButtonPress", FORGED(ButtonPress)},
    {"forged-motion", "forged MotionNotify", FORGED(MotionNotify)},
    {"forged-focus-in", "forged FocusIn", FORGED(FocusIn)},
    {"forged-focus-out", "forged FocusOut", FORGED(FocusOut)},
    {"forged-expose", "forged Expose", FORGED(Expose)},
    {"forged-visibility", "forged VisibilityNotify", FORGED(VisibilityNotify)},
    {"forged-configure", "forged ConfigureNotify", FORGED(ConfigureNotify)},
    {"forged-map", "forged MapNotify", FORGED(MapNotify)},
    {"forged-property", "forged PropertyNotify", FORGED(PropertyNotify)},
    {"forged-selection", "forged SelectionNotify", FORGED(SelectionNotify)},
    {"forged-mapping", "forged MappingNotify", FORGED(MappingNotify)},
    {"raw-glx", "raw GLX events",
     [](FloodTarget& target, long count) { sendExtensionEvent(target, "GLX", count); }},
    {"raw-xfixes", "raw XFIXES events",
     [](FloodTarget& target, long count) { sendExtensionEvent(target, "XFIXES", count); }},
    {"raw-shm", "raw MIT-SHM events",
     [](FloodTarget& target, long count) { sendExtensionEvent(target, "MIT-SHM", count); }},
};

#undef FORGED

// The flooder asks for what may fail (focus to a window being unmapped):
// its errors are expected, and must not end the flooding process.
int ignoreError(Display*, XErrorEvent*) { return 0; }

KeyCode keyWithoutSymbol(Display* display) {
    int first = 0, last = 0, perCode = 0;
    XDisplayKeycodes(display, &first, &last);
    KeySym* symbols = XGetKeyboardMapping(display, KeyCode(first), last - first + 1, &perCode);
    KeyCode spare = 0;
    for (int code = last; code >= first && !spare; --code) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i) empty = empty && symbols[(code - first) * perCode + i] == NoSymbol;
        if (empty) spare = KeyCode(code);
    }
    XFree(symbols);
    return spare;
}

Window ownWindowOver(Display* flooder, Window window) {
    WindowGeometry g = rootGeometry(flooder, window);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    return XCreateWindow(flooder, DefaultRootWindow(flooder), g.x + 10, g.y + 10, 100, 100, 0, CopyFromParent,
                         InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
}

// What the server sends the test's own connections meanwhile (a mapping
// change goes to every client) is read and forgotten: left to pile up in the
// server, it would slow the server, and the test's next round trip would
// wait for all of it.
void discardEvents(Display* display) {
    while (XEventsQueued(display, QueuedAfterReading)) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

void flood(FloodTarget& target, const Flood& flood, double seconds, pid_t viewer, Display* user,
           FloodFigures* figures) {
    figures->residentBefore = residentKilobytes(viewer);
    long peak = figures->residentBefore;
    double started = monotonicSeconds(), sampled = started;
    while (monotonicSeconds() - started < seconds) {
        for (int i = 0; i < 1000; ++i) flood.send(target, figures->sent++);
        XFlush(target.flooder);
        discardEvents(target.flooder);
        discardEvents(user);
        if (monotonicSeconds() - sampled > 0.1) {
            peak = std::max(peak, residentKilobytes(viewer));
            sampled = monotonicSeconds();
        }
    }
    // What the flood changed is put back, so that Esc reaches the viewer.
    XUnmapWindow(target.flooder, target.own);
    XSetInputFocus(target.flooder, target.window, RevertToParent, CurrentTime);
    XSync(target.flooder, False);
    figures->growth = peak - figures->residentBefore;
}

}  // namespace

const std::vector<Flood>& floods() { return allFloods; }

const Flood* floodNamed(const std::string& name) {
    for (const Flood& each : allFloods)
        if (name == each.name) return &each;
    return nullptr;
}

FloodFigures runFlood(const std::string& viewer, const Flood& chosen, double seconds) {
    FloodFigures figures;
    VirtualServer server = startVirtualServer({"-screen", "0", "1280x1024x24"});
    Display* user = server.display.empty() ? nullptr : openUserConnection(server.display);
    Display* flooder = user ? openUserConnection(server.display) : nullptr;
    if (!flooder) {
        figures.failure = "no virtual server";
        if (user) XCloseDisplay(user);
        stopVirtualServer(server);
        return figures;
    }
    XErrorHandler previous = XSetErrorHandler(ignoreError);
    pid_t child = spawnProgram(viewer, server.display, "/dev/null");
    // The notice the viewer starts with is flooded as it stands; any other
    // flood goes to the main window, once the notice is dismissed.
    Window window = waitForWindowNamed(user, "vorandile", 20000);
    if (window && !chosen.atNotice) {
        pressKey(user, XK_Return);
        window = waitForWindowNamed(user, "vorandile ", 20000);
    }
    // Past start-up: the viewer draws (its driver has what it needs) and reads.
    if (window && (chosen.atNotice || pictureChanges(user, window, 20000)) && answersPing(user, window, 20000)) {
        FloodTarget target{flooder, window, ownWindowOver(flooder, window), keyWithoutSymbol(flooder)};
        XMapRaised(flooder, target.own);
        XSync(flooder, False);
        flood(target, chosen, seconds, child, user, &figures);
        double stopped = monotonicSeconds();
        if (chosen.atNotice) {
            pressKey(user, XK_Return);
            waitForWindowNamed(user, "vorandile ", 20000);
        }
        pressKey(user, XK_Escape);
        // What the viewer still reads of the flood counts too; once the
        // notice is dismissed, the main window and its driver grow it by
        // themselves, so that flood's peak is the notice's.
        int status = -1;
        waitUntil(
            [&] {
                if (waitpid(child, &status, WNOHANG) == child) return true;
                if (!chosen.atNotice)
                    figures.growth = std::max(figures.growth, residentKilobytes(child) - figures.residentBefore);
                return false;
            },
            120000);
        figures.escSeconds = monotonicSeconds() - stopped;
        figures.ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    } else {
        figures.failure = "the viewer's window did not appear";
    }
    if (!figures.ended && isRunning(child)) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    XSetErrorHandler(previous);
    XCloseDisplay(flooder);
    XCloseDisplay(user);
    stopVirtualServer(server);
    return figures;
}

std::string describeFigures(const Flood& flood, const FloodFigures& figures, double seconds) {
    char line[256];
    std::snprintf(line, sizeof line, "%-36s %9ld sent (%7.0f/s)  resident %6ld kB before, %+8ld kB at peak  Esc %s after %6.3f s",
                  flood.description, figures.sent, double(figures.sent) / seconds, figures.residentBefore,
                  figures.growth, figures.ended ? "ended it" : "did NOT end it", figures.escSeconds);
    return line;
}
