#include "app/window_proc.h"

#include "app/viewer_state.h"

namespace {

const char className[] = "OpenGL";

// Without a class or a window no message would ever come: say so and stop.
int failStartup(LPCSTR text) {
    MessageBoxA(nullptr, text, "Error", MB_ICONERROR);
    return 1;
}

}  // namespace

int runViewer(HINSTANCE hInstance, int nCmdShow, WNDPROC procedure) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = hInstance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass)) return failStartup("RegisterClass failed");

    MessageBoxA(nullptr, " mouse: touch the window image for movement  ", "vorandile", MB_OK);

    viewer.windowWidth = int32_t(GetSystemMetrics(SM_CYSCREEN) * 0.8);
    viewer.windowHeight = int32_t(GetSystemMetrics(SM_CYSCREEN) * 0.8);

    HWND window = CreateWindowExA(0, className, "vorandile ", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                  0, 0, viewer.windowWidth, viewer.windowHeight, nullptr, nullptr, hInstance,
                                  nullptr);
    if (!window) return failStartup("CreateWindow failed");

    ShowWindow(window, nCmdShow);
    UpdateWindow(window);
    return runMessageLoop();
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    return runViewer(hInstance, nCmdShow, windowProc);
}
