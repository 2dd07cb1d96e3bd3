#include "layer_test.h"

#include "platform/x11/internal.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <time.h>

std::vector<RecordedMessage> recorded;
std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> recordingBehaviour;

LRESULT CALLBACK recordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    recorded.push_back({window, message, wParam, lParam});
    if (recordingBehaviour) return recordingBehaviour(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createRecordingWindow(const char* title, int x, int y, int width, int height, bool show) {
    // Registered again by each test: the layer forgets its classes when it ends.
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = recordingWindowProc;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "Recorder";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "Recorder", title, WS_OVERLAPPEDWINDOW, x, y, width, height, nullptr,
                                  nullptr, nullptr, nullptr);
    if (window && show) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    return window;
}

std::vector<UINT> recordedMessages(UINT only) {
    std::vector<UINT> messages;
    for (const RecordedMessage& each : recorded)
        if (!only || each.message == only) messages.push_back(each.message);
    return messages;
}

const RecordedMessage* lastRecorded(UINT message) {
    for (auto it = recorded.rbegin(); it != recorded.rend(); ++it)
        if (it->message == message) return &*it;
    return nullptr;
}

void syncLayer() { XSync(x11Display(), False); }

Window layerWindow(Display* user, const char* name) {
    syncLayer();
    std::vector<Window> found = windowsNamed(user, name);
    return found.size() == 1 ? found[0] : 0;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    double deadline = monotonicSeconds() + timeoutMs / 1000.0;
    for (;;) {
        if (done()) return true;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done()) return true;
        }
        if (monotonicSeconds() > deadline) return done();
        timespec pause{0, 2000000};
        nanosleep(&pause, nullptr);
    }
}

void PrivateServerTest::SetUp() {
    server = startServer();
    ASSERT_FALSE(server.display.empty()) << "could not start the X server";
    setenv("DISPLAY", server.display.c_str(), 1);
    user = openUserConnection(server.display);
    ASSERT_NE(user, nullptr);
    recorded.clear();
    recordingBehaviour = nullptr;
}

std::vector<std::string> serverWithoutGlx() { return {"-screen", "0", "1280x1024x24", "-extension", "GLX"}; }

void keepGraphicsDriversLoaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            for (const char* driver : {"_dri.so", "libEGL_mesa.so", "libdecor-cairo.so"})
                if (info->dlpi_name && std::strstr(info->dlpi_name, driver))
                    dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

void PrivateServerTest::TearDown() {
    for (pid_t& helper : helpers) stopProgram(helper);
    if (user) XCloseDisplay(user);
    // The layer ends with the test, so that the next one in this process
    // starts it anew on its own server.
    keepGraphicsDriversLoaded();
    terminateLayer();
    stopVirtualServer(server);
}

void ChildProgramTest::TearDown() {
    if (child > 0 && isRunning(child)) waitForExit(child, 0);
    PrivateServerTest::TearDown();
}

std::vector<uint32_t> ChildProgramTest::screen() {
    int width = 0, height = 0;
    return captureWindow(user, window, &width, &height);
}
