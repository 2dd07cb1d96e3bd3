// A message a window procedure received, as a trace of them writes it: a
// line of its own, or nothing for a message no table names. Shared by the
// traced program (built for Linux and Windows alike) and the tests that
// trace a window in-process.
#pragma once

#include "platform/win32.h"

#include <cstdio>
#include <string>

inline const char* sizeCode(WPARAM code) {
    switch (code) {
    case SIZE_RESTORED: return "restored";
    case SIZE_MINIMIZED: return "minimized";
    case SIZE_MAXIMIZED: return "maximized";
    default: return "other";
    }
}

inline std::string traceLine(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    char line[96];
    switch (message) {
    case WM_CREATE: return "WM_CREATE";
    case WM_SIZE:
        std::snprintf(line, sizeof line, "WM_SIZE %s %dx%d%s%s", sizeCode(wParam), int(LOWORD(lParam)),
                      int(HIWORD(lParam)), IsZoomed(window) ? " zoomed" : "", IsIconic(window) ? " iconic" : "");
        return line;
    case WM_PAINT: return "WM_PAINT";
    case WM_CHAR: return "WM_CHAR " + std::to_string(int(wParam));
    case WM_KEYDOWN:
    case WM_KEYUP:
        return std::string(message == WM_KEYDOWN ? "WM_KEYDOWN " : "WM_KEYUP ") + std::to_string(int(wParam)) +
               (message == WM_KEYDOWN && (lParam & 0x40000000) ? " repeat" : "");
    case WM_LBUTTONDOWN: return "WM_LBUTTONDOWN";
    case WM_LBUTTONUP: return "WM_LBUTTONUP";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_DESTROY: return "WM_DESTROY";
    default: return "";
    }
}
