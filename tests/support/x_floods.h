// Floods of events that another X client can send or cause, as fast as the
// server takes them, against the real viewer on a server of its own: the
// fault script prints their figures, and the flood test holds the viewer
// to its bounds.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <sys/types.h>
#include <vector>

// What a flood works with: the flooding client's connection, the viewer's
// window under attack, and a window and key of the flooder's own.
struct FloodTarget {
    Display* flooder;
    Window window;
    Window own;
    KeyCode spareKey;  // a key with no symbol, whose mapping a flood may change
};

struct Flood {
    const char* name;  // as the fault script takes it
    const char* description;
    void (*send)(FloodTarget& target, long count);
    bool atNotice = false;  // floods the start-up notice rather than the main window
};
const std::vector<Flood>& floods();
const Flood* floodNamed(const std::string& name);

struct FloodFigures {
    std::string failure;  // why the flood could not be run; empty if it ran
    long sent = 0;
    long residentBefore = 0, growth = 0;  // kilobytes: at the start, and to the peak
    bool ended = false;                   // Esc ended the viewer with 0
    double escSeconds = 0;                // from the flood's end until the viewer ended
};
// Starts the viewer on a server of its own, floods it for `seconds` once
// its window is up, and presses Esc.
FloodFigures runFlood(const std::string& viewer, const Flood& flood, double seconds);
// One line of figures, as the fault script prints it.
std::string describeFigures(const Flood& flood, const FloodFigures& figures, double seconds);
