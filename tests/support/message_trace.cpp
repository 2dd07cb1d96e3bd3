// The viewer as it runs, with every message its window procedure handles
// written to a file as it arrives, a line each, before the viewer's own
// procedure handles it. Built for Linux and for Windows alike, so that the
// two builds' sequences can be compared line by line.
//   message-trace FILE
#include "app/window_proc.h"
#include "trace_line.h"

#include <cstdio>

namespace {

FILE* trace = nullptr;

void write(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::string line = traceLine(window, message, wParam, lParam);
    if (line.empty()) return;
    std::fprintf(trace, "%s\n", line.c_str());
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
