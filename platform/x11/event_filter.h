// Filters on the events Xlib takes in from the connection (event_filter.cpp).
#pragma once

#include <X11/Xlib.h>

// Whether a converted event goes into the queue. A filter runs inside Xlib,
// with the display locked: it may not make requests or ask the server.
using EventFilter = bool (*)(const XEvent& event);
void x11SetEventFilter(Display* display, int type, EventFilter keep);
