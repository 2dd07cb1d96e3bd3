// The viewer's own window, created in-process with the real window
// procedure, on a private server; for tests of the scene, the loop and the
// window procedure.
#pragma once

#include "layer_test.h"

#include "app/viewer_state.h"

// Each test starts from fresh viewer state (but for an objectMatrix that is
// not yet the identity) and a shown window of windowSide() pixels, whose
// WM_CREATE has set up the pixel format, the context and the scene.
class ViewerWindowTest : public PrivateServerTest {
protected:
    void SetUp() override;
    virtual int windowSide() const { return 400; }
    // What the user sees of the window after the frames so far.
    std::vector<uint32_t> screen();
    Rgb screenPixel(int x, int y);
    // Renders one frame and waits until the server has it.
    void renderAndWait();

    HWND window = nullptr;
    Window xid = 0;
    int side = 0;
};

// Registers the viewer's window class ("OpenGL", the real window procedure)
// as the program does; false if the layer refused it.
bool registerViewerClass();

// The largest amount by which the matrix's three columns miss being
// orthonormal.
double orthonormalDeviation(const float* matrix);

bool sameImage(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);
// How many pixels of an image have exactly this colour.
size_t countColour(const std::vector<uint32_t>& image, Rgb colour, int tolerance = 2);
