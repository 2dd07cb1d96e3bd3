// Shared pieces of the tests that drive the platform layer in-process:
// a private virtual X server, a user connection to it, and a window class
// whose procedure records every message it is given.
#pragma once

// GoogleTest before Xlib, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "x_server.h"
#include "x_user.h"

#include <functional>
#include <vector>

struct RecordedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

extern std::vector<RecordedMessage> recorded;
// What the recording procedure returns for a message, and does besides.
extern std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> recordingBehaviour;

LRESULT CALLBACK recordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Registers the "Recorder" class once and creates a window of it.
HWND createRecordingWindow(const char* title, int x, int y, int width, int height, bool show);
std::vector<UINT> recordedMessages(UINT only = 0);
const RecordedMessage* lastRecorded(UINT message);

// Waits until the server has carried out every request the layer made, so
// that what the user's connection sees is up to date.
void syncLayer();
// The layer's one window of this name, once the server has it; 0 if none.
Window layerWindow(Display* user, const char* name);

// Retrieves and dispatches messages until `done` holds or time is up.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// Ending the layer unloads the OpenGL driver (and on Wayland the EGL vendor
// library and the decorations' plugin), which keep a few allocations for
// the life of the process: pinned, they stay loaded, so that the leak
// checker can name them (lsan.supp) and the next test need not load them again.
void keepGraphicsDriversLoaded();

// Each test has an X server of its own, so that input sent through XTEST
// reaches only the test that sent it.
class PrivateServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual std::vector<std::string> serverArguments() const { return {"-screen", "0", "1280x1024x24"}; }
    // Xvfb with those arguments, unless a test needs another server.
    virtual VirtualServer startServer() { return startVirtualServer(serverArguments()); }

    VirtualServer server;
    Display* user = nullptr;
    // Programs the test runs beside its own (window managers, compositors),
    // stopped before the server.
    std::vector<pid_t> helpers;
};

// A server like the tests' usual one, but without GLX.
std::vector<std::string> serverWithoutGlx();

// Tests of a program run as a child process on the private server: the
// child is ended with the test, and `window` is the one the test watches.
class ChildProgramTest : public PrivateServerTest {
protected:
    void TearDown() override;
    // What the user sees of `window`.
    std::vector<uint32_t> screen();

    pid_t child = -1;
    Window window = 0;
};
