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
#include <cstddef>
#include <dlfcn.h>
#include <vector>

#include <X11/Xlibint.h>

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
    bool readingAhead = false;
};
EventFilter filter;

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

long x11EventsRead() { return filter.read; }

void x11ResetEventFilter() { filter = EventFilter{}; }

// Every round trip of Xlib (the program's, Xlib's own, the OpenGL driver's
// at each buffer swap) waits here for its answer, and takes in at once all
// that the server queued for the program before it: under a flood, that is
// the flood's whole backlog, held in memory however the events are judged.
// So what has arrived is read through the filter first, which keeps what
// it queues bounded, and the round trip finds little left. Xlib calls this
// with the display locked, as _XEventsQueued expects it. The program
// exports the symbol (CMakeLists.txt), so that libX11 binds to it.
extern "C" Status _XReply(Display* display, xReply* reply, int extra, Bool discard) {
    using Real = Status (*)(Display*, xReply*, int, Bool);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "_XReply"));
    // With an answer of another request pending (async_handlers), what is
    // read here could take that answer too: read only where none is.
    if (display == filter.display && !filter.readingAhead && !display->async_handlers) {
        filter.readingAhead = true;
        _XEventsQueued(display, QueuedAfterReading);
        filter.readingAhead = false;
    }
    return real(display, reply, extra, discard);
}
