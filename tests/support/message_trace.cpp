// The viewer as it runs, with every message its window procedure handles
// written to a file as it arrives, a line each, before the viewer's own
// procedure handles it. Built for Linux and for Windows alike, so that the
// two builds' sequences can be compared line by line.
//   message-trace FILE
#include "app/window_proc.h"

#include <cstdio>

namespace {

FILE* trace = nullptr;

const char* sizeCode(WPARAM code) {
    switch (code) {
    case SIZE_RESTORED: return "restored";
    case SIZE_MINIMIZED: return "minimized";
    case SIZE_MAXIMIZED: return "maximized";
    default: return "other";
    }
}

void write(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: std::fprintf(trace, "WM_CREATE\n"); break;
    case WM_SIZE:
        std::fprintf(trace, "WM_SIZE %s %dx%d%s%s\n", sizeCode(wParam), int(LOWORD(lParam)), int(HIWORD(lParam)),
                     IsZoomed(window) ? " zoomed" : "", IsIconic(window) ? " iconic" : "");
        break;
    case WM_PAINT: std::fprintf(trace, "WM_PAINT\n"); break;
    case WM_CHAR: std::fprintf(trace, "WM_CHAR %d\n", int(wParam)); break;
    case WM_KEYDOWN:
    case WM_KEYUP:
        std::fprintf(trace, "%s %d%s\n", message == WM_KEYDOWN ? "WM_KEYDOWN" : "WM_KEYUP", int(wParam),
                     message == WM_KEYDOWN && (lParam & 0x40000000) ? " repeat" : "");
        break;
    case WM_LBUTTONDOWN: std::fprintf(trace, "WM_LBUTTONDOWN\n"); break;
    case WM_LBUTTONUP: std::fprintf(trace, "WM_LBUTTONUP\n"); break;
    case WM_CLOSE: std::fprintf(trace, "WM_CLOSE\n"); break;
    case WM_DESTROY: std::fprintf(trace, "WM_DESTROY\n"); break;
    default: return;
    }
    std::fflush(trace);
}

LRESULT CALLBACK tracingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    write(window, message, wParam, lParam);
    return windowProc(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || !(trace = std::fopen(argv[1], "w"))) {
        std::fprintf(stderr, "usage: message-trace FILE (a file it can write)\n");
        return 2;
    }
    int code = runViewer(nullptr, SW_SHOWDEFAULT, tracingProc);
    std::fprintf(trace, "exit %d\n", code);
    std::fclose(trace);
    return code;
}
