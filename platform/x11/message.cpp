// The thread's message queue, timers, and the one place where X events
// become the window messages the platform documents for them.
#include "platform/x11/internal.h"
#include "platform/x11/event_filter.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
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
// The platform's limit on the messages one queue holds: past it, posting
// fails and input is lost, so that no sender can grow the program's memory
// while it is busy (a modal box, a long frame).
const size_t queueLimit = 10000;

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = DWORD(x11NowMs());
    msg.pt = layer.lastPointer;
    return msg;
}

bool inFilter(HWND target, UINT message, HWND window, UINT filterMin, UINT filterMax) {
    if (window && target != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return message >= filterMin && message <= filterMax;
}

bool takeFrom(std::deque<QueuedMessage>& queue, MSG* out, HWND window, UINT filterMin, UINT filterMax,
              bool remove) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!inFilter(it->msg.hwnd, it->msg.message, window, filterMin, filterMax)) continue;
        *out = it->msg;
        if (remove) {
            if (&queue == &layer.inputMessages) layer.retrievedKeyState = it->keyState;
            queue.erase(it);
        }
        return true;
    }
    return false;
}

// The platform's order of retrieval: posted messages, the quit request,
// input, then paint and timer messages, which exist only while nothing
// else waits.
bool takeMessage(MSG* out, HWND window, UINT filterMin, UINT filterMax, bool remove) {
    if (takeFrom(layer.postedMessages, out, window, filterMin, filterMax, remove)) return true;
    if (layer.quitPosted && !window) {
        *out = makeMessage(nullptr, WM_QUIT, WPARAM(layer.quitCode), 0);
        if (remove) layer.quitPosted = false;
        return true;
    }
    if (takeFrom(layer.inputMessages, out, window, filterMin, filterMax, remove)) return true;
    for (HWND each : x11Windows()) {
        if (each->visible && each->needsPaint && inFilter(each, WM_PAINT, window, filterMin, filterMax)) {
            *out = makeMessage(each, WM_PAINT, 0, 0);
            return true;
        }
    }
    int64_t now = x11NowMs();
    for (HWND each : x11Windows()) {
        for (WindowTimer& timer : each->timers) {
            if (timer.dueMs > now || !inFilter(each, WM_TIMER, window, filterMin, filterMax)) continue;
            *out = makeMessage(each, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc));
            if (remove) timer.dueMs = now + timer.periodMs;
            return true;
        }
    }
    return false;
}

// Milliseconds until the next timer is due, or a window's new state is to
// be told without waiting longer for its size; -1 when nothing is due.
int nextTimerTimeout() {
    int64_t now = x11NowMs();
    int64_t soonest = -1;
    auto consider = [&](int64_t dueMs) {
        int64_t left = std::max<int64_t>(dueMs - now, 0);
        if (soonest < 0 || left < soonest) soonest = left;
    };
    for (HWND each : x11Windows()) {
        for (const WindowTimer& timer : each->timers) consider(timer.dueMs);
        if (each->stateUntoldSince) consider(each->stateUntoldSince + x11StateSizeGraceMs);
    }
    return int(soonest);
}

bool hasNewsToTell(HWND window) {
    return window->sizeChanged || window->stateChanged || window->frameChanged || window->actionsChanged ||
           (window->stateUntoldSince && x11NowMs() - window->stateUntoldSince >= x11StateSizeGraceMs);
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

void queueInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned keyState) {
    // Like the platform, keep only the latest of consecutive mouse moves.
    if (message == WM_MOUSEMOVE && !layer.inputMessages.empty()) {
        MSG& last = layer.inputMessages.back().msg;
        if (last.message == WM_MOUSEMOVE && last.hwnd == window) {
            last = makeMessage(window, message, wParam, lParam);
            layer.inputMessages.back().keyState = keyState;
            return;
        }
    }
    if (layer.inputMessages.size() >= queueLimit) return;
    layer.inputMessages.push_back({makeMessage(window, message, wParam, lParam), keyState});
}

WPARAM virtualKey(KeySym symbol) {
    if (symbol >= XK_a && symbol <= XK_z) return 'A' + (symbol - XK_a);
    if (symbol >= XK_A && symbol <= XK_Z) return symbol;
    if (symbol >= XK_0 && symbol <= XK_9) return symbol;
    switch (symbol) {
    case XK_Escape: return VK_ESCAPE;
    case XK_Return:
    case XK_KP_Enter: return VK_RETURN;
    case XK_space: return VK_SPACE;
    case XK_BackSpace: return VK_BACK;
    case XK_Tab: return VK_TAB;
    case XK_Shift_L:
    case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R: return VK_CONTROL;
    default: return 0;
    }
}

LPARAM keyLParam(const XKeyEvent& key, bool release) {
    LPARAM lParam = 1 | (LPARAM((key.keycode - 8) & 0xff) << 16);
    if (release) lParam |= LPARAM(0xC0000000u);
    return lParam;
}

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
bool keepClientMessage(const XEvent& event) {
    const XClientMessageEvent& client = event.xclient;
    if (!x11FindWindow(client.window)) return true;  // a box's, whose own loop reads it
    const LayerAtoms& atoms = x11Atoms();
    bool isProtocol = client.message_type == atoms.wmProtocols && client.format == 32;
    if (isProtocol && Atom(client.data.l[0]) == atoms.wmDeleteWindow) return true;
    if (isProtocol && Atom(client.data.l[0]) == atoms.netWmPing) {
        // One answer, to the newest, is what a manager waits for.
        layer.newestPing = client;
        layer.pingWaiting = true;
    }
    ++layer.droppedEvents;
    return false;
}

// A property the layer reads is read once the batch is in, however often
// it changed.
void noteChangedProperty(HWND window, Atom atom) {
    const LayerAtoms& atoms = x11Atoms();
    if (atom == atoms.netFrameExtents) window->frameChanged = true;
    if (atom == atoms.wmState || atom == atoms.netWmState) window->stateChanged = true;
    if (atom == atoms.netWmAllowedActions) window->actionsChanged = true;
}

bool keepPropertyNotify(const XEvent& event) {
    HWND window = x11FindWindow(event.xproperty.window);
    if (!window) return true;  // a box's, or a window still being made
    noteChangedProperty(window, event.xproperty.atom);
    ++layer.droppedEvents;
    return false;
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
        if (event.xconfigure.window == window->xid) x11ConfirmGeometry(window, event.xconfigure);
        break;
    case ReparentNotify:
        if (!synthetic && event.xreparent.window == window->xid) window->parent = event.xreparent.parent;
        break;
    case PropertyNotify:
        // Queued before the window was one of the layer's; later ones are
        // noted by the filter.
        noteChangedProperty(window, event.xproperty.atom);
        break;
    case ButtonPress:
    case ButtonRelease:
        layer.lastPointer = POINT{event.xbutton.x_root, event.xbutton.y_root};
        translateButton(window, event.xbutton, event.type == ButtonPress);
        break;
    case MotionNotify:
        layer.lastPointer = POINT{event.xmotion.x_root, event.xmotion.y_root};
        queueInput(window, WM_MOUSEMOVE, mouseKeyState(event.xmotion.state),
                   pointLParam(event.xmotion.x, event.xmotion.y), event.xmotion.state);
        break;
    case KeyPress:
    case KeyRelease: {
        bool release = event.type == KeyRelease;
        KeySym symbol = XLookupKeysym(&event.xkey, 0);
        queueInput(window, release ? WM_KEYUP : WM_KEYDOWN, virtualKey(symbol), keyLParam(event.xkey, release),
                   event.xkey.state);
        break;
    }
    case ClientMessage: translateClientMessage(window, event.xclient); break;
    case FocusIn:
        if (event.xfocus.detail == NotifyPointer || event.xfocus.detail == NotifyInferior) break;
        window->focused = true;
        // The platform offers the palette first, then the focus.
        x11Send(window, WM_QUERYNEWPALETTE, 0, 0);
        if (x11IsLiveWindow(window)) x11Send(window, WM_SETFOCUS, 0, 0);
        break;
    case FocusOut:
        if (event.xfocus.detail == NotifyPointer || event.xfocus.detail == NotifyInferior) break;
        window->focused = false;
        x11Send(window, WM_KILLFOCUS, 0, 0);
        break;
    case ColormapNotify:
        if (synthetic) break;
        // Another client installing its colormap takes ours off the hardware:
        // the platform's "system palette changed", by a window not ours.
        if (!event.xcolormap.c_new && event.xcolormap.state == ColormapUninstalled && window->colormapWritable)
            for (HWND each : std::vector<HWND>(x11Windows()))
                if (x11IsLiveWindow(each)) x11Send(each, WM_PALETTECHANGED, 0, 0);
        break;
    case DestroyNotify:
        if (synthetic || event.xdestroywindow.window != window->xid) break;
        // The platform has nothing like it: no other program can destroy our
        // window. Report it, let the window procedure release what it holds,
        // and fail the queue so that the program ends as after a failure.
        std::fprintf(stderr, "%s: the window \"%s\" was destroyed by another client\n",
                     program_invocation_short_name, window->title.c_str());
        window->destroyedElsewhere = true;
        layer.queueBroken = true;
        DestroyWindow(window);
        break;
    case MapNotify:
        if (!synthetic && event.xmap.window == window->xid) window->mapped = true;
        break;
    case UnmapNotify:
        if (!synthetic && event.xunmap.window == window->xid) window->mapped = false;
        break;
    default: break;
    }
}

}  // namespace

void x11ProcessEvents() {
    Display* display = x11Display();
    bool flooded = layer.droppedEvents - layer.droppedBefore > floodEvents;
    layer.droppedBefore = layer.droppedEvents;
    int64_t deadline = x11NowMs() + (flooded ? floodBudgetMs : eventBudgetMs);
    // The filters drop what no window of the layer needs as it is read, so
    // the connection is read for as long as it has events and time is left
    // (in a flood, for as long as time is left): a flood is taken in as fast
    // as it comes, and what is queued is only what will be handled.
    for (int handled = 1;; ++handled) {
        while (!XEventsQueued(display, QueuedAlready)) {
            if (XEventsQueued(display, QueuedAfterFlush)) break;
            pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
            int64_t left = deadline - x11NowMs();
            if (left <= 0 || poll(&descriptor, 1, flooded ? int(left) : 0) <= 0) break;
        }
        if (!XEventsQueued(display, QueuedAlready)) break;
        XEvent event;
        XNextEvent(display, &event);
        translateEvent(event);
        if (handled % 64 == 0 && x11NowMs() >= deadline) break;
    }
    if (layer.pingWaiting) {
        layer.pingWaiting = false;
        x11AnswerPing(layer.newestPing);
    }
    XFlush(display);
    for (HWND window : std::vector<HWND>(x11Windows()))
        if (x11IsLiveWindow(window) && hasNewsToTell(window)) x11ApplyConfirmedChanges(window);
}

bool x11WaitForEvent(const std::function<bool(const XEvent&)>& isAwaited, int64_t deadlineMs, XEvent* awaited) {
    Display* display = x11Display();
    for (int read = 1;; ++read) {
        // XPending sends what the layer asked for and reads what has arrived.
        if (XPending(display)) {
            XNextEvent(display, awaited);
            if (isAwaited(*awaited)) return true;
            translateEvent(*awaited);
            if (read % 64 != 0 || x11NowMs() < deadlineMs) continue;
        }
        int64_t left = deadlineMs - x11NowMs();
        if (left <= 0) return false;
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        poll(&descriptor, 1, int(std::min<int64_t>(left, 60000)));
    }
}

void x11FilterEvents(Display* display) {
    x11SetEventFilter(display, ClientMessage, keepClientMessage);
    x11SetEventFilter(display, PropertyNotify, keepPropertyNotify);
}

void x11ForgetWindow(HWND window) {
    auto forWindow = [window](const QueuedMessage& queued) { return queued.msg.hwnd == window; };
    layer.postedMessages.erase(std::remove_if(layer.postedMessages.begin(), layer.postedMessages.end(), forWindow),
                         layer.postedMessages.end());
    layer.inputMessages.erase(std::remove_if(layer.inputMessages.begin(), layer.inputMessages.end(), forWindow),
                        layer.inputMessages.end());
    window->timers.clear();
}

LRESULT x11Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!x11IsLiveWindow(window)) return 0;
    return window->windowProc(window, message, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) return FALSE;
    x11ProcessEvents();
    return takeMessage(msg, window, filterMin, filterMax, removeFlags & PM_REMOVE);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (!msg || (window && !x11IsLiveWindow(window))) return -1;
    Display* display = x11Display();
    for (;;) {
        x11ProcessEvents();
        if (layer.queueBroken) return -1;
        if (takeMessage(msg, window, filterMin, filterMax, true)) return msg->message == WM_QUIT ? 0 : 1;
        // Block on the connection until an event arrives or a timer is due.
        XFlush(display);
        if (XPending(display)) continue;
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        if (poll(&descriptor, 1, nextTimerTimeout()) < 0 && errno != EINTR) return -1;
    }
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg || msg->message != WM_KEYDOWN) return FALSE;
    XKeyEvent key{};
    key.type = KeyPress;
    key.display = x11Display();
    key.keycode = unsigned((msg->lParam >> 16) & 0xff) + 8;
    key.state = layer.retrievedKeyState;
    char text[16];
    KeySym symbol;
    int length = XLookupString(&key, text, sizeof text, &symbol, nullptr);
    for (int i = 0; i < length; ++i)
        PostMessageA(msg->hwnd, WM_CHAR, WPARAM(static_cast<unsigned char>(text[i])), msg->lParam);
    return length > 0;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg || !x11IsLiveWindow(msg->hwnd)) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    return x11Send(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((window && !x11IsLiveWindow(window)) || layer.postedMessages.size() >= queueLimit) return FALSE;
    layer.postedMessages.push_back({makeMessage(window, message, wParam, lParam), 0});
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return x11Send(window, message, wParam, lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    layer.quitPosted = true;
    layer.quitCode = exitCode;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
    if (!x11IsLiveWindow(window)) return 0;
    elapse = std::max(elapse, 10u);  // the platform's minimum period
    int64_t due = x11NowMs() + elapse;
    for (WindowTimer& timer : window->timers)
        if (timer.id == id) {
            timer = WindowTimer{id, elapse, due, timerProc};
            return id;
        }
    window->timers.push_back(WindowTimer{id, elapse, due, timerProc});
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    if (!x11IsLiveWindow(window)) return FALSE;
    auto& timers = window->timers;
    auto it = std::find_if(timers.begin(), timers.end(), [id](const WindowTimer& t) { return t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}
