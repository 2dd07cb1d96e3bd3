// Xlib's hook for converting events from the wire, under a filter that
// decides whether an event is queued at all. Apart from the rest of the layer
// because Xlib's internal header clashes with the platform's types.
#include <X11/Xlibint.h>

#include "platform/x11/event_filter.h"

namespace {

using WireToEvent = Bool (*)(Display*, XEvent*, xEvent*);
WireToEvent converters[LASTEvent];
EventFilter filters[LASTEvent];

Bool convertAndFilter(Display* display, XEvent* event, xEvent* wire) {
    int type = wire->u.u.type & 0x7f;
    if (!converters[type](display, event, wire)) return False;
    return filters[type](*event) ? True : False;
}

}  // namespace

void x11SetEventFilter(Display* display, int type, EventFilter keep) {
    if (type <= 0 || type >= LASTEvent) return;
    filters[type] = keep;
    converters[type] = XESetWireToEvent(display, type, convertAndFilter);
}
