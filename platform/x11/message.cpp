// The one place where X events become the window messages the platform
// documents for them, and how the queue reads and waits for them.
#include "platform/x11/internal.h"
#include "platform/x11/event_filter.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>

namespace {

// However many events arrive, one call works for a bounded time, so that
// the program's loop always gets on with its frames and its input.
const int64_t eventBudgetMs = 10;
// More events dropped between two calls than any desktop sends in a frame
// is another client flooding the connection. The server goes on queueing
// for the viewer while it draws, and the driver's next round trip reads all
// of that into memory at once; so reading then takes most of the time,
// frames going on at a lower rate, and what waits stays small.
const long floodEvents = 4096;
const int64_t floodBudgetMs = 40;

bool hasNewsToTell(HWND window) {
    return window->x11->sizeChanged || window->x11->stateChanged || window->x11->frameChanged || window->x11->actionsChanged ||
           (window->x11->stateUntoldSince && nowMs() - window->x11->stateUntoldSince >= x11StateSizeGraceMs);
}

WPARAM mouseKeyState(unsigned state) {
    WPARAM keys = 0;
    if (state & Button1Mask) keys |= MK_LBUTTON;
    if (state & Button2Mask) keys |= MK_MBUTTON;
    if (state & Button3Mask) keys |= MK_RBUTTON;
    if (state & ShiftMask) keys |= MK_SHIFT;
    if (state & ControlMask) keys |= MK_CONTROL;
    return keys;
}

unsigned buttonMask(unsigned button) {
    switch (button) {
    case Button1: return Button1Mask;
    case Button2: return Button2Mask;
    case Button3: return Button3Mask;
    default: return 0;
    }
}

// Client coordinates packed as the platform packs them: 16 bits each, so
// positions left of or above a capturing window arrive negative.
LPARAM pointLParam(int x, int y) { return MAKELPARAM(WORD(x & 0xffff), WORD(y & 0xffff)); }

void translateButton(HWND window, const XButtonEvent& button, bool press) {
    UINT message;
    switch (button.button) {
    case Button1: message = press ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
    case Button2: message = press ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
    case Button3: message = press ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
    default: return;  // wheel and extra buttons are not part of this subset
    }
    unsigned state = press ? button.state | buttonMask(button.button) : button.state & ~buttonMask(button.button);
    queueInput(window, message, mouseKeyState(state), pointLParam(button.x, button.y), button.state);
}

void translateClientMessage(HWND window, const XClientMessageEvent& client) {
    if (x11AnswerPing(client)) return;
    if (client.message_type != x11Atom("WM_PROTOCOLS") || client.format != 32) return;
    if (Atom(client.data.l[0]) == x11Atom("WM_DELETE_WINDOW"))
        PostMessageA(window, WM_CLOSE, 0, 0);
}

// The filters below see each event as Xlib converts it from the wire. What
// a window of the layer would ignore is dropped there, and what it needs of
// a storm (the newest ping, that a property changed) is noted there, so that
// no other client can fill the queue, at whatever rate it sends.
bool isBoxWindow(Window xid) {
    return std::find(layer.boxes.begin(), layer.boxes.end(), xid) != layer.boxes.end();
}

bool keepClientMessage(const XEvent& event) {
    const XClientMessageEvent& client = event.xclient;
    if (!x11FindWindow(client.window) && !isBoxWindow(client.window)) return true;
    const LayerAtoms& atoms = x11Atoms();
    bool isProtocol = client.message_type == atoms.wmProtocols && client.format == 32;
    if (isProtocol && Atom(client.data.l[0]) == atoms.wmDeleteWindow) return true;
    if (isProtocol && Atom(client.data.l[0]) == atoms.netWmPing) {
        // One answer a window, to the newest, is what a manager waits for.
        auto sameWindow = [&client](const XClientMessageEvent& ping) { return ping.window == client.window; };
        auto waiting = std::find_if(layer.waitingPings.begin(), layer.waitingPings.end(), sameWindow);
        if (waiting != layer.waitingPings.end())
            *waiting = client;
        else
            layer.waitingPings.push_back(client);
    }
    ++layer.droppedEvents;
    return false;
}

// A property the layer reads is read once the batch is in, however often
// it changed.
void noteChangedProperty(HWND window, Atom atom) {
    const LayerAtoms& atoms = x11Atoms();
    if (atom == atoms.netFrameExtents) window->x11->frameChanged = true;
    if (atom == atoms.wmState || atom == atoms.netWmState) window->x11->stateChanged = true;
    if (atom == atoms.netWmAllowedActions) window->x11->actionsChanged = true;
}

bool keepPropertyNotify(const XEvent& event) {
    const XPropertyEvent& property = event.xproperty;
    if (HWND window = x11FindWindow(property.window)) {
        noteChangedProperty(window, property.atom);
        ++layer.droppedEvents;
        return false;
    }
    if (!isBoxWindow(property.window)) return true;  // a window still being made
    // A box reads its frame when told it changed: one notice waiting is enough.
    if (property.atom == x11Atoms().netFrameExtents && !layer.boxFrameNoticeQueued)
        return layer.boxFrameNoticeQueued = true;
    ++layer.droppedEvents;
    return false;
}

// Sent with the rest of the batch, however many pings came.
void answerWaitingPings() {
    for (const XClientMessageEvent& ping : layer.waitingPings) x11AnswerPing(ping);
    layer.waitingPings.clear();
}

void translateEvent(XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        return;
    }
    HWND window = x11FindWindow(event.xany.window);
    if (!window) return;
    // ICCCM: structure events that another client sent (send_event set) are
    // not the server's word, save the manager's word on position.
    bool synthetic = event.xany.send_event;
    switch (event.type) {
    case Expose: window->needsPaint = true; break;
    case ConfigureNotify:
        if (event.xconfigure.window == window->x11->xid) x11ConfirmGeometry(window, event.xconfigure);
        break;
    case ReparentNotify:
        if (!synthetic && event.xreparent.window == window->x11->xid) window->x11->parent = event.xreparent.parent;
        break;
    case PropertyNotify:
        // Queued before the window was one of the layer's; later ones are
        // noted by the filter.
        noteChangedProperty(window, event.xproperty.atom);
        break;
    case ButtonPress:
    case ButtonRelease:
        notePointer(POINT{event.xbutton.x_root, event.xbutton.y_root});
        translateButton(window, event.xbutton, event.type == ButtonPress);
        break;
    case MotionNotify:
        notePointer(POINT{event.xmotion.x_root, event.xmotion.y_root});
        queueInput(window, WM_MOUSEMOVE, mouseKeyState(event.xmotion.state),
                   pointLParam(event.xmotion.x, event.xmotion.y), event.xmotion.state);
        break;
    case KeyPress:
    case KeyRelease: {
        bool release = event.type == KeyRelease;
        KeySym symbol = XLookupKeysym(&event.xkey, 0);
        queueInput(window, release ? WM_KEYUP : WM_KEYDOWN, virtualKeyForSymbol(uint32_t(symbol)),
                   keyLParamFor(event.xkey.keycode - 8, release, false), event.xkey.state);
        break;
    }
    case ClientMessage: translateClientMessage(window, event.xclient); break;
    case FocusIn:
        if (event.xfocus.detail == NotifyPointer || event.xfocus.detail == NotifyInferior) break;
        window->focused = true;
        // The platform offers the palette first, then the focus.
        sendToWindow(window, WM_QUERYNEWPALETTE, 0, 0);
        if (isLiveWindow(window)) sendToWindow(window, WM_SETFOCUS, 0, 0);
        break;
    case FocusOut:
        if (event.xfocus.detail == NotifyPointer || event.xfocus.detail == NotifyInferior) break;
        window->focused = false;
        sendToWindow(window, WM_KILLFOCUS, 0, 0);
        break;
    case ColormapNotify:
        if (synthetic) break;
        // Another client installing its colormap takes ours off the hardware:
        // the platform's "system palette changed", by a window not ours.
        if (!event.xcolormap.c_new && event.xcolormap.state == ColormapUninstalled && window->x11->colormapWritable)
            for (HWND each : std::vector<HWND>(liveWindows()))
                if (isLiveWindow(each)) sendToWindow(each, WM_PALETTECHANGED, 0, 0);
        break;
    case DestroyNotify:
        if (synthetic || event.xdestroywindow.window != window->x11->xid) break;
        // The platform has nothing like it: no other program can destroy our
        // window. Report it, let the window procedure release what it holds,
        // and fail the queue so that the program ends as after a failure.
        std::fprintf(stderr, "%s: the window \"%s\" was destroyed by another client\n",
                     program_invocation_short_name, window->title.c_str());
        window->x11->destroyedElsewhere = true;
        platform.queueBroken = true;
        DestroyWindow(window);
        break;
    case MapNotify:
        if (!synthetic && event.xmap.window == window->x11->xid) window->x11->mapped = true;
        break;
    case UnmapNotify:
        if (!synthetic && event.xunmap.window == window->x11->xid) window->x11->mapped = false;
        break;
    default: break;
    }
}

}  // namespace

void x11ReadEvents() {
    Display* display = x11Display();
    bool flooded = layer.droppedEvents - layer.droppedBefore > floodEvents;
    layer.droppedBefore = layer.droppedEvents;
    int64_t deadline = nowMs() + (flooded ? floodBudgetMs : eventBudgetMs);
    // The filters drop what no window of the layer needs as it is read, so
    // the connection is read for as long as it has events and time is left
    // (in a flood, for as long as time is left): a flood is taken in as fast
    // as it comes, and what is queued is only what will be handled.
    for (int handled = 1;; ++handled) {
        while (!XEventsQueued(display, QueuedAlready)) {
            if (XEventsQueued(display, QueuedAfterFlush)) break;
            pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
            int64_t left = deadline - nowMs();
            if (left <= 0 || poll(&descriptor, 1, flooded ? int(left) : 0) <= 0) break;
        }
        if (!XEventsQueued(display, QueuedAlready)) break;
        XEvent event;
        XNextEvent(display, &event);
        translateEvent(event);
        if (handled % 64 == 0 && nowMs() >= deadline) break;
    }
    answerWaitingPings();
    XFlush(display);
    for (HWND window : std::vector<HWND>(liveWindows()))
        if (isLiveWindow(window) && hasNewsToTell(window)) x11ApplyConfirmedChanges(window);
}

bool x11WaitForEvent(const std::function<bool(const XEvent&)>& isAwaited, int64_t deadlineMs, XEvent* awaited) {
    Display* display = x11Display();
    for (int read = 1;; ++read) {
        // What is queued is taken first, then what has arrived; only once
        // both run dry are waiting pings answered and requests sent, so that
        // a flood costs no write an event.
        bool queued = XEventsQueued(display, QueuedAlready) > 0 || XEventsQueued(display, QueuedAfterReading) > 0;
        if (queued) {
            XNextEvent(display, awaited);
            if (isAwaited(*awaited)) return true;
            translateEvent(*awaited);
            if (read % 64 != 0 || nowMs() < deadlineMs) continue;
        }
        answerWaitingPings();
        XFlush(display);
        // Writing may have read what arrived meanwhile: only an empty queue
        // is waited on, or an event already in would wait for the next one.
        if (XEventsQueued(display, QueuedAfterReading)) continue;
        int64_t left = deadlineMs - nowMs();
        if (left <= 0) return false;
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, int(std::min<int64_t>(left, 60000)));
    }
}

bool x11WaitForEvents(int timeoutMs) {
    Display* display = x11Display();
    XFlush(display);
    if (XPending(display)) return true;
    // A window's new state is told without waiting longer for its size.
    int64_t now = nowMs();
    for (HWND window : liveWindows()) {
        if (!window->x11->stateUntoldSince) continue;
        int left = int(std::max<int64_t>(window->x11->stateUntoldSince + x11StateSizeGraceMs - now, 0));
        if (timeoutMs < 0 || left < timeoutMs) timeoutMs = left;
    }
    pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
    return poll(&descriptor, 1, timeoutMs) >= 0 || errno == EINTR;
}

int x11KeyText(const MSG& keyDown, unsigned keyState, char* text, int size) {
    XKeyEvent key{};
    key.type = KeyPress;
    key.display = x11Display();
    key.keycode = unsigned((keyDown.lParam >> 16) & 0xff) + 8;
    key.state = keyState;
    KeySym symbol;
    return XLookupString(&key, text, size, &symbol, nullptr);
}

void x11FilterEvents(Display* display) {
    x11SetEventFilter(display, ClientMessage, keepClientMessage);
    x11SetEventFilter(display, PropertyNotify, keepPropertyNotify);
}

