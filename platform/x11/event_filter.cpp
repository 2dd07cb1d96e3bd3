// Xlib's hook for converting events from the wire, under a judge that
// decides whether an event is queued at all, and the merging of events of
// one kind in Xlib's own queue. Apart from the rest of the layer because
// Xlib's internal header clashes with the platform's types.
//
// Xlib converts an event into the queue element that will hold it, and
// numbers an element as it queues it and zeroes that number as it takes the
// element off (_XEnq, _XDeq). So an event of a kind that has one waiting
// can be written over the waiting one, found again through its element and
// number; a number that no longer matches means the element left the queue.
// The standard headers go first: Xlibint.h defines min and max as macros.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <dlfcn.h>
#include <poll.h>
#include <vector>

#include <X11/Xlibint.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include "platform/x11/event_filter.h"

namespace {

using WireToEvent = Bool (*)(Display*, XEvent*, xEvent*);

// An event of a kind that merges, waiting in Xlib's queue.
struct WaitingEvent {
    Window window;
    unsigned long kind;
    _XQEvent* element;
    unsigned long number;  // the element's queue number when it was queued
};

// The filter of the one connection; x11ResetEventFilter leaves it as new.
struct EventFilter {
    Display* display = nullptr;
    EventJudge judge = nullptr;
    int maxInput = 0;
    WireToEvent converters[128] = {};
    std::vector<WaitingEvent> waiting;
    long read = 0;
    bool awaitingReply = false;  // within _XReply, for the display's connection
};
EventFilter filter;

// The function of that name in the library after the program.
template <typename Real>
Real realFunction(const char* name) {
    return reinterpret_cast<Real>(dlsym(RTLD_NEXT, name));
}

_XQEvent* elementHolding(XEvent* event) {
    return reinterpret_cast<_XQEvent*>(reinterpret_cast<char*>(event) - offsetof(_XQEvent, event));
}

bool stillQueued(const WaitingEvent& waiting) { return waiting.element->qserial_num == waiting.number; }

WaitingEvent* waitingOfKind(const EventVerdict& verdict) {
    for (WaitingEvent& each : filter.waiting)
        if (each.window == verdict.window && each.kind == verdict.kind) return &each;
    return nullptr;
}

// Writes `event` over the queued one of its kind, if one waits where the
// fate allows it.
bool mergedIntoWaiting(Display* display, XEvent* event, const EventVerdict& verdict) {
    WaitingEvent* waiting = waitingOfKind(verdict);
    if (!waiting || !stillQueued(*waiting) || waiting->element == elementHolding(event)) return false;
    if (verdict.fate == EventFate::compress && waiting->element != display->tail) return false;
    waiting->element->event = *event;
    return true;
}

// The event about to be queued is the one the next of its kind merges
// into. Xlib numbers it as it queues it, with the display's next number.
void noteWaiting(Display* display, XEvent* event, const EventVerdict& verdict) {
    WaitingEvent queued{verdict.window, verdict.kind, elementHolding(event), display->next_event_serial_num};
    if (WaitingEvent* waiting = waitingOfKind(verdict)) {
        *waiting = queued;
        return;
    }
    // Entries whose events were taken are done with.
    filter.waiting.erase(std::remove_if(filter.waiting.begin(), filter.waiting.end(),
                                        [](const WaitingEvent& each) { return !stillQueued(each); }),
                         filter.waiting.end());
    filter.waiting.push_back(queued);
}

Bool convertAndFilter(Display* display, XEvent* event, xEvent* wire) {
    int type = wire->u.u.type & 0x7f;
    ++filter.read;
    if (!filter.converters[type](display, event, wire)) return False;
    // An extension's converter writes its own layout, whose first field
    // need not be an event type: the OpenGL driver's takes it from the
    // wire as sent, so that a forged event of its extension reads as any
    // core event (a MappingNotify whose display is garbage, say). What
    // came as an extension's event is never taken for a core one.
    if (type >= LASTEvent && event->type < LASTEvent) return False;
    // Nor does every converter say whether another client sent it: the
    // server's word on that is the wire's.
    event->xany.send_event = (wire->u.u.type & 0x80) != 0;
    EventVerdict verdict = filter.judge(*event);
    bool merges = verdict.fate == EventFate::latest || verdict.fate == EventFate::compress;
    int bound = verdict.input ? filter.maxInput : 2 * filter.maxInput;
    if (verdict.fate == EventFate::drop || (merges && mergedIntoWaiting(display, event, verdict)) ||
        display->qlen >= bound)
        return False;
    if (merges) noteWaiting(display, event, verdict);
    return True;
}

}  // namespace

void x11FilterEvents(Display* display, EventJudge judge, int maxInput) {
    filter.display = display;
    filter.judge = judge;
    filter.maxInput = maxInput;
    // Every core type and every type an extension may use; errors and
    // replies (0 and 1) are no events.
    for (int type = KeyPress; type < 128; ++type) {
        if (type >= LASTEvent && type < 64) continue;
        filter.converters[type] = XESetWireToEvent(display, type, convertAndFilter);
    }
}

// Libraries that set up an extension (the OpenGL driver's GLX, Xcursor's
// XFIXES, the driver's shared memory) install their converters as they
// first use it, long after the filter was installed, and would take the
// filter's place for their types: every event of those types would then be
// queued unjudged and unbounded. So the filter keeps its place: what a
// library installs becomes the converter the filter calls, and the library
// is given back the one it replaced, as Xlib would. The program exports the
// symbol (CMakeLists.txt), so that every library binds to it.
extern "C" WireToEvent XESetWireToEvent(Display* display, int type, WireToEvent converter) {
    static auto real = realFunction<WireToEvent (*)(Display*, int, WireToEvent)>("XESetWireToEvent");
    if (display != filter.display || converter == convertAndFilter || type < KeyPress || type >= 128)
        return real(display, type, converter);
    WireToEvent replaced = filter.converters[type];
    // Xlib decides what stands for a converter (for none, its own that
    // queues nothing); the filter then takes the slot back.
    real(display, type, converter);
    filter.converters[type] = display->event_vec[type];
    real(display, type, convertAndFilter);
    return replaced;
}

long x11EventsRead() { return filter.read; }

void x11ResetEventFilter() { filter = EventFilter{}; }

// Every round trip of Xlib (the program's, Xlib's own, the OpenGL driver's
// at each buffer swap) waits for its answer in xcb_wait_for_reply64, which
// takes in all that the server sends before that answer: under a flood, the
// flood's whole backlog, which the server may hold by the hundred megabytes
// for a program slower than the flood, and which xcb would hold in memory
// however the events are judged. So while Xlib waits for an answer, what
// arrives is put through the filter as it comes, a read at a time, and the
// answer is taken once it is there. The program exports both symbols
// (CMakeLists.txt), so that libX11 binds to them.
extern "C" Status _XReply(Display* display, xReply* reply, int extra, Bool discard) {
    static auto real = realFunction<Status (*)(Display*, xReply*, int, Bool)>("_XReply");
    bool ours = display == filter.display && !filter.awaitingReply;
    if (ours) filter.awaitingReply = true;
    Status status = real(display, reply, extra, discard);
    if (ours) filter.awaitingReply = false;
    return status;
}

// Xlib's _XReply waits here with the display unlocked and the request
// marked as awaited, so that another thread may read meanwhile: the events
// are read so. That reading stops at the first event after the answer, or
// at an error in answer, and leaves it for _XReply, as _XReply's own
// reading would.
extern "C" void* xcb_wait_for_reply64(xcb_connection_t* connection, uint64_t request, xcb_generic_error_t** error) {
    static auto real = realFunction<decltype(&xcb_wait_for_reply64)>("xcb_wait_for_reply64");
    // Only the wait of the _XReply above: others, an OpenGL driver's own
    // among them, may hold Xlib's lock.
    if (!filter.awaitingReply || xcb_get_file_descriptor(connection) != ConnectionNumber(filter.display))
        return real(connection, request, error);
    filter.awaitingReply = false;
    if (error) *error = nullptr;                     // as xcb's own wait leaves it without one
    if (xcb_flush(connection) <= 0) return nullptr;  // the connection is lost: Xlib says so
    for (;;) {
        void* reply = nullptr;
        if (xcb_poll_for_reply64(connection, request, &reply, error)) return reply;
        // As XEventsQueued does, but also when Xlib's queue holds events.
        LockDisplay(filter.display);
        _XEventsQueued(filter.display, QueuedAfterReading);
        UnlockDisplay(filter.display);
        if (xcb_poll_for_reply64(connection, request, &reply, error)) return reply;
        pollfd readable{xcb_get_file_descriptor(connection), POLLIN, 0};
        while (poll(&readable, 1, -1) < 0 && errno == EINTR) {
        }
    }
}
