// The bound on what the X connection holds for the program (event_filter.cpp).
#pragma once

#include <X11/Xlib.h>

// What becomes of an event as Xlib converts it from the wire, before it is
// queued: a judge decides, and the filter does it.
enum class EventFate {
    keep,     // queued
    drop,     // not queued: nothing needs it, or what it said has been noted
    latest,   // only the newest of its kind matters: it takes the place of
              // one of its kind still queued, wherever that waits
    compress, // the same, but only in place of the event just before it,
              // as a motion may not overtake a button
};
struct EventVerdict {
    EventFate fate;
    Window window = None;    // with `kind`, what a merged event must share:
    unsigned long kind = 0;  // the window it is about, and the layer's key
    bool input = false;      // keys, buttons and motion: the first to go
};
// A judge runs inside Xlib, with the display locked: it may not make
// requests or ask the server anything.
using EventJudge = EventVerdict (*)(const XEvent& event);

// Puts every event of the connection, whatever its type, core or an
// extension's, before `judge`, and bounds Xlib's queue: past `maxInput`
// events queued, input is dropped, as a full queue loses input on the
// platform; past twice that, every event is, whatever it is. A burst of
// input so loses what came last and not the close request after it.
void x11FilterEvents(Display* display, EventJudge judge, int maxInput);
// Events read from the connection since the filter was installed,
// whatever became of them.
long x11EventsRead();
// Forgets the connection's filter state; after XCloseDisplay.
void x11ResetEventFilter();
