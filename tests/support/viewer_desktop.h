// The viewer (either build) on a real desktop: a window manager from the
// distribution, optionally with a compositing manager, on a server of the
// test's own, and the sizes a user makes the manager give the window.
#pragma once

#include "viewer_program.h"  // GoogleTest before Xlib
#include "desktop.h"

class ViewerOnADesktopTest : public ViewerProgramTest {
protected:
    virtual const char* managerName() const = 0;
    virtual bool composited() const { return false; }

    void SetUp() override;

    // Whether each frame clears all of the window, however large the
    // manager has made it (the Linux build's drawable is the whole client).
    virtual bool clearsTheWholeWindow() const { return true; }
    // Whether a maximized or fullscreen window comes back to its own size
    // where the manager lets it (Wine leaves it at the manager's).
    virtual bool takesItsOwnSizeBack() const { return true; }

    bool tiling() const;
    // At whatever size the window has, frames go on, the whole window is
    // cleared to the background (where the build does so), and a key shows
    // within a frame or two. Prints the size, so that runs can be compared.
    WindowGeometry expectAliveAt(const char* action);
    // Maximize (where the manager has it), restore, fullscreen, back, each
    // checked as above; on a stacking manager the window takes its own size
    // back after maximize and fullscreen, as on the platform, while a tiling
    // manager's sizes stay; at the end the window is back at its first size.
    void goThroughTheManagersSizes();
    // Asks the manager to take the window out of a state, and waits for its
    // word that it did. (Into one, the manager's word may not last: a
    // manager drops a state the program resizes its window out of.)
    void leaveState(const char* state, const char* second = nullptr);
    // Waits until the window's client area is width x height; its geometry then.
    WindowGeometry waitForSize(int width, int height, const char* action);
};
