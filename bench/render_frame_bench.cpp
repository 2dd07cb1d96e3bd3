// Time per frame of renderFrame in the viewer's own window, on a private
// virtual X server: the median over many frames.
#include "app/viewer_state.h"
#include "app/window_proc.h"
#include "scene/scene.h"
#include "x_server.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 3000;
    VirtualServer server = startVirtualServer({"-screen", "0", "1280x1024x24"});
    if (server.display.empty()) return 1;
    setenv("DISPLAY", server.display.c_str(), 1);

    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.lpszClassName = "OpenGL";
    RegisterClassA(&windowClass);
    viewer.windowWidth = viewer.windowHeight = int32_t(GetSystemMetrics(SM_CYSCREEN) * 0.8);
    HWND window = CreateWindowExA(0, "OpenGL", "vorandile ", WS_OVERLAPPEDWINDOW, 0, 0, viewer.windowWidth,
                                  viewer.windowHeight, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(window, SW_SHOW);

    std::vector<double> times;
    for (int frame = 0; frame < frames + 100; ++frame) {
        double start = monotonicSeconds();
        renderFrame();
        if (frame >= 100) times.push_back(monotonicSeconds() - start);  // after a warm-up
    }
    std::sort(times.begin(), times.end());
    std::printf("renderFrame, %d frames in a %dx%d window: median %.3f ms, 10th percentile %.3f ms, 90th %.3f ms\n",
                frames, viewer.windowWidth, viewer.windowHeight, times[times.size() / 2] * 1000,
                times[times.size() / 10] * 1000, times[times.size() * 9 / 10] * 1000);
    DestroyWindow(window);
    stopVirtualServer(server);
    return 0;
}
