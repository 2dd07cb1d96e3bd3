// How the queue reads and waits for X events, and where each becomes what
// the platform documents for it: input, focus, close, paint and another
// client's colormap here; what a batch of events did to a window's size,
// position and state is told once the batch is in (window.cpp), and a move
// of the monitors' origin with them (monitors.cpp).
#include "platform/x11/internal.h"
#include "platform/x11/event_filter.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <malloc.h>

namespace {

// More events in one call than any desktop sends in a frame is another
// client flooding the connection. The server goes on queueing for the
// program while it draws, and every round trip (the driver's at each
// buffer swap among them) waits until all that the server holds before its
// answer is read: so while a flood lasts, reading takes most of the time,
// frames are drawn but not shown, and nothing that needs a round trip is
// done (see x11.behind); what waits stays small, and input is answered at
// once.
const long floodEvents = 4096;
const int64_t floodBudgetMs = 200;
// What Xlib's queue holds at most of input, as the platform's input queue
// holds at most 10,000 messages; beyond twice that, events of every kind
// are lost.
const int maxQueuedInput = 10000;

bool hasNewsToTell(HWND window) {
    return x11Of(window)->sizeChanged || x11Of(window)->stateChanged || x11Of(window)->frameChanged ||
           x11Of(window)->actionsChanged ||
           (x11Of(window)->stateUntoldSince && nowMs() - x11Of(window)->stateUntoldSince >= x11StateSizeGraceMs);
}

HeldModifiers modifiersOf(unsigned state) { return HeldModifiers{bool(state & ShiftMask), bool(state & ControlMask)}; }

void translateButton(HWND window, const XButtonEvent& button, bool press) {
    MouseButton which;
    switch (button.button) {
    case Button1: which = MouseButton::left; break;
    case Button2: which = MouseButton::middle; break;
    case Button3: which = MouseButton::right; break;
    default: return;  // wheel and extra buttons are not part of this subset
    }
    inputButton(window, which, press, button.x, button.y, x11FromRoot(button.x_root, button.y_root),
                modifiersOf(button.state), button.state);
}

void translateClientMessage(HWND window, const XClientMessageEvent& client) {
    if (x11AnswerPing(client)) return;
    if (client.message_type != x11Atom("WM_PROTOCOLS") || client.format != 32) return;
    if (Atom(client.data.l[0]) == x11Atom("WM_DELETE_WINDOW")) inputWindowCloseRequest(window);
}

// Every event is judged as Xlib converts it from the wire, whatever its
// type: what no window of the layer needs is dropped there, what it needs
// only the newest of is merged with the one waiting, and what it needs of a
// storm (the newest ping, that a property changed) is noted there. So no
// other client can fill the queue, at whatever rate and with whatever
// events it sends.
bool isBoxWindow(Window xid) {
    return std::find(x11.boxes.begin(), x11.boxes.end(), xid) != x11.boxes.end();
}

// Kinds of events of which only the newest matters, each for its window;
// the detail that must match too goes above the low byte.
enum MergedKind : unsigned long {
    motionKind = 1,
    exposeKind,
    focusKind,           // in and out alike: the last says where the focus is
    configureKind,
    managerConfigureKind,  // sent by the manager: its word on position only
    visibilityKind,
    mapStateKind,        // mapped and unmapped alike
    reparentKind,
    colormapKind,
    keyboardMappingKind,
    propertyKind,
    closeKind,
};

unsigned long withDetail(MergedKind kind, unsigned long detail) { return kind | detail << 8; }

EventVerdict judgeClientMessage(const XClientMessageEvent& client) {
    if (!x11FindWindow(client.window) && !isBoxWindow(client.window)) return {EventFate::keep};
    const LayerAtoms& atoms = x11.atoms;
    bool isProtocol = client.message_type == atoms.wmProtocols && client.format == 32;
    if (isProtocol && Atom(client.data.l[0]) == atoms.wmDeleteWindow)
        return {EventFate::latest, client.window, closeKind};
    if (isProtocol && Atom(client.data.l[0]) == atoms.netWmPing) {
        // One answer a window, to the newest, is what a manager waits for.
        auto sameWindow = [&client](const XClientMessageEvent& ping) { return ping.window == client.window; };
        auto waiting = std::find_if(x11.waitingPings.begin(), x11.waitingPings.end(), sameWindow);
        if (waiting != x11.waitingPings.end())
            *waiting = client;
        else
            x11.waitingPings.push_back(client);
    }
    return {EventFate::drop};
}

// A property the layer reads is read once the batch is in, however often
// it changed.
void noteChangedProperty(HWND window, Atom atom) {
    const LayerAtoms& atoms = x11.atoms;
    if (atom == atoms.netFrameExtents) x11Of(window)->frameChanged = true;
    if (atom == atoms.wmState || atom == atoms.netWmState) x11Of(window)->stateChanged = true;
    if (atom == atoms.netWmAllowedActions) x11Of(window)->actionsChanged = true;
}

EventVerdict judgePropertyNotify(const XPropertyEvent& property) {
    if (HWND window = x11FindWindow(property.window)) {
        noteChangedProperty(window, property.atom);
        return {EventFate::drop};
    }
    // A box reads only its frame, when told it changed.
    if (isBoxWindow(property.window) && property.atom != x11.atoms.netFrameExtents) return {EventFate::drop};
    return {EventFate::latest, property.window, withDetail(propertyKind, property.atom)};
}

bool ignoredFocusDetail(int detail) { return detail == NotifyPointer || detail == NotifyInferior; }

EventVerdict judgeEvent(const XEvent& event) {
    // Other clients may send any event to any window, as often as they
    // like; of those, a window of the layer takes only the manager's
    // messages and its word on position (ICCCM).
    if (event.xany.send_event && event.type != ClientMessage && event.type != ConfigureNotify)
        return {EventFate::drop};
    // However often the monitors change, they are read again once a batch.
    if (x11IsMonitorEvent(event)) {
        x11.monitorsChanged = true;
        return {EventFate::drop};
    }
    switch (event.type) {
    case ClientMessage: return judgeClientMessage(event.xclient);
    case PropertyNotify: return judgePropertyNotify(event.xproperty);
    case MotionNotify: return {EventFate::compress, event.xmotion.window, motionKind, true};
    case KeyPress:
    case KeyRelease:
    case ButtonPress:
    case ButtonRelease: return {EventFate::keep, None, 0, true};
    case Expose: return {EventFate::latest, event.xexpose.window, exposeKind};
    case FocusIn:
    case FocusOut:
        return {EventFate::latest, event.xfocus.window,
                withDetail(focusKind, ignoredFocusDetail(event.xfocus.detail))};
    case ConfigureNotify:
        return {EventFate::latest, event.xconfigure.window,
                event.xconfigure.send_event ? managerConfigureKind : configureKind};
    case VisibilityNotify: return {EventFate::latest, event.xvisibility.window, visibilityKind};
    case MapNotify:
    case UnmapNotify: return {EventFate::latest, event.xmap.window, mapStateKind};
    case ReparentNotify: return {EventFate::latest, event.xreparent.window, reparentKind};
    case ColormapNotify:
        return {EventFate::latest, event.xcolormap.window,
                withDetail(colormapKind, unsigned(event.xcolormap.c_new) << 1 | unsigned(event.xcolormap.state))};
    case MappingNotify:
        return {EventFate::latest, None, withDetail(keyboardMappingKind, unsigned(event.xmapping.request))};
    default: return {EventFate::keep};
    }
}

// Sent with the rest of the batch, however many pings came.
void answerWaitingPings() {
    for (const XClientMessageEvent& ping : x11.waitingPings) x11AnswerPing(ping);
    x11.waitingPings.clear();
}

// However many mapping changes came, the keymap is read again once a
// batch, and not while the program is behind a flood: reading it is a
// round trip, which would wait for all the flood the server holds.
void refreshChangedMappings() {
    if (x11.behind) return;
    for (XMappingEvent& mapping : x11.changedMappings) XRefreshKeyboardMapping(&mapping);
    x11.changedMappings.clear();
}

// What a batch of events leaves to do once it is read. Reading the
// monitors is a round trip, which waits while the program is behind a flood.
void finishBatch(Display* display) {
    answerWaitingPings();
    refreshChangedMappings();
    if (x11.monitorsChanged && !x11.behind) x11ReadMonitors();
    XFlush(display);
}

void translateEvent(XEvent& event) {
    if (event.type == MappingNotify) {
        auto sameRequest = [&event](const XMappingEvent& each) { return each.request == event.xmapping.request; };
        auto changed = std::find_if(x11.changedMappings.begin(), x11.changedMappings.end(), sameRequest);
        if (changed != x11.changedMappings.end())
            *changed = event.xmapping;
        else
            x11.changedMappings.push_back(event.xmapping);
        return;
    }
    HWND window = x11FindWindow(event.xany.window);
    if (!window) return;
    // ICCCM: structure events that another client sent (send_event set) are
    // not the server's word, save the manager's word on position.
    bool synthetic = event.xany.send_event;
    switch (event.type) {
    case Expose: inputWindowDamage(window); break;
    case ConfigureNotify:
        if (event.xconfigure.window == x11Of(window)->xid) x11ConfirmGeometry(window, event.xconfigure);
        break;
    case ReparentNotify:
        if (!synthetic && event.xreparent.window == x11Of(window)->xid) x11Of(window)->parent = event.xreparent.parent;
        break;
    case PropertyNotify:
        // Queued before the window was one of the layer's; later ones are
        // noted by the filter.
        noteChangedProperty(window, event.xproperty.atom);
        break;
    case ButtonPress:
    case ButtonRelease: translateButton(window, event.xbutton, event.type == ButtonPress); break;
    case MotionNotify:
        inputPointerMoved(window, event.xmotion.x, event.xmotion.y, x11FromRoot(event.xmotion.x_root, event.xmotion.y_root),
                          modifiersOf(event.xmotion.state), event.xmotion.state);
        break;
    case KeyPress:
    case KeyRelease:
        inputKey(window, uint32_t(XLookupKeysym(&event.xkey, 0)), event.xkey.keycode - 8, event.type == KeyRelease,
                 event.xkey.state);
        break;
    case ClientMessage: translateClientMessage(window, event.xclient); break;
    case FocusIn:
    case FocusOut:
        // Focus events of a storm arrive merged, the newest in place of the rest.
        if (!ignoredFocusDetail(event.xfocus.detail)) inputFocus(window, event.type == FocusIn);
        break;
    case ColormapNotify:
        if (synthetic) break;
        // Another client installing its colormap takes ours off the hardware:
        // the platform's "system palette changed", by a window not ours.
        if (!event.xcolormap.c_new && event.xcolormap.state == ColormapUninstalled && x11Of(window)->colormapWritable)
            for (HWND each : std::vector<HWND>(liveWindows()))
                if (isLiveWindow(each)) sendToWindow(each, WM_PALETTECHANGED, 0, 0);
        break;
    case DestroyNotify:
        if (synthetic || event.xdestroywindow.window != x11Of(window)->xid) break;
        x11Of(window)->destroyedElsewhere = true;
        inputWindowDestroyed(window);
        break;
    case MapNotify:
        if (!synthetic && event.xmap.window == x11Of(window)->xid) x11Of(window)->mapped = true;
        break;
    case UnmapNotify:
        if (!synthetic && event.xunmap.window == x11Of(window)->xid) x11Of(window)->mapped = false;
        break;
    default: break;
    }
}

}  // namespace

void x11ReadEvents() {
    Display* display = x11Display();
    // Counted from the last call on: what a frame's round trips read too.
    bool flooded = x11EventsRead() - x11.eventsReadBefore > floodEvents;
    x11.eventsReadBefore = x11EventsRead();
    int64_t deadline = nowMs() + (flooded ? floodBudgetMs : eventReadingBudgetMs);
    // The filters drop what no window of the layer needs as it is read, so
    // the connection is read for as long as it has events and time is left
    // (in a flood, for as long as time is left): a flood is taken in as fast
    // as it comes, and what is queued is only what will be handled. Once
    // the program has a message to handle (a key the user pressed, the quit
    // it asked for), nothing more is waited for: it is answered at once.
    for (int handled = 1;; ++handled) {
        while (!XEventsQueued(display, QueuedAlready)) {
            if (XEventsQueued(display, QueuedAfterFlush)) break;
            pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
            int64_t left = deadline - nowMs();
            if (left <= 0 || poll(&descriptor, 1, flooded && !messagesWaiting() ? int(left) : 0) <= 0) break;
        }
        if (!XEventsQueued(display, QueuedAlready)) break;
        XEvent event;
        XNextEvent(display, &event);
        translateEvent(event);
        if (handled % 64 == 0 && nowMs() >= deadline) break;
    }
    x11.behind = flooded || x11EventsRead() - x11.eventsReadBefore > floodEvents;
    finishBatch(display);
    // What the server said of the windows is read once the flood is past:
    // reading properties is a round trip too.
    if (x11.behind) return;
    for (HWND window : std::vector<HWND>(liveWindows()))
        if (isLiveWindow(window) && hasNewsToTell(window)) x11ApplyConfirmedChanges(window);
}

bool x11AwaitEvent(const std::function<bool(const XEvent&)>& isAwaited, int64_t deadlineMs, XEvent* awaited) {
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
        finishBatch(display);
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
        if (!x11Of(window)->stateUntoldSince) continue;
        int left = int(std::max<int64_t>(x11Of(window)->stateUntoldSince + x11StateSizeGraceMs - now, 0));
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

void x11FilterEvents(Display* display) { x11FilterEvents(display, judgeEvent, maxQueuedInput); }

