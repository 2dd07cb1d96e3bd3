// The real program as a child process on a private server, used only as a
// user can: keys and the mouse through XTEST, and what the server shows.
#pragma once

#include "layer_test.h"

#include <string>

// The clear colours without and with fog.
const Rgb viewerBackground = rgbOf(0.5f, 0.25f, 0.35f);
const Rgb viewerFoggyBackground = rgbOf(0.5f, 0.25f, 0.25f);

class ViewerProgramTest : public ChildProgramTest {
protected:
    // The command that starts the viewer, and how long it may take to show
    // a window.
    virtual std::vector<std::string> viewerCommand() const;
    virtual int patienceMs() const { return 20000; }

    // Starts the viewer (on `display`, or the test's server) with its
    // standard error in errorPath(), and waits for the notice.
    Window startAndWaitForNotice(const std::string& display = "");
    // Until the user's keys go to `target`; false if they never do in time.
    bool waitForFocus(Window target);
    // ...then dismisses the notice with Return and waits for the window and
    // its first frame.
    Window start(const std::string& display = "");
    // Dismisses the notice (once it shows) and waits for the error box of a
    // surface that cannot be had; the main window must never be shown.
    Window dismissNoticeAndWaitForErrorBox();
    // The client size once nothing changes it: the same for half a second.
    WindowGeometry settledGeometry();
    // The settled size is `expected`'s; then Esc ends the viewer with 0.
    void expectSettledSizeThenEscape(const WindowGeometry& expected);

    // Waits until two captures a quarter of a second apart agree; empty if
    // the picture never settled.
    std::vector<uint32_t> steadyScreen();
    // Whether the picture changes within a few seconds.
    bool keepsChanging();
    // A pixel of the window, in its own coordinates.
    Rgb pixel(int x, int y);
    WindowGeometry geometry();
    void clickCentre();
    // Stops the model with a click and waits until the picture settles.
    std::vector<uint32_t> stopModel();
    // Presses the left button at the window's centre and drags down and to
    // the right; the button stays down.
    void pressAndDragFromCentre();
    // Maps a window of another client over part of the viewer's, then
    // removes it again.
    void coverAndUncover(int inset, int side);
    std::string errorText();
    std::string errorPath();
};

