// Window classes and handles, device contexts, painting, capture and
// default processing: what the platform does whatever shows the windows.
#include "platform/common/internal.h"
#include "platform/common/message_box.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

struct HICON__ {
    int resource;
};
struct HCURSOR__ {
    int resource;
};

namespace {

HICON__ applicationIcon{32512};
HCURSOR__ arrowCursor{32512};

}  // namespace

// Never destroyed, so that what it holds stays reachable to the end.
PlatformState& platform = *new PlatformState;

void terminateLayer() {
    if (platform.backend) platform.backend->terminate();
    for (HWND window : platform.windows) delete window;
    for (HPALETTE palette : platform.palettes) delete palette;
    for (HGLRC context : platform.contexts) delete context;
    platform = PlatformState{};
}

const std::vector<BackendChoice>& backendChoices() {
    static const std::vector<BackendChoice> choices = {
#ifdef LAYER_WAYLAND
        {"Wayland", waylandConnects, &waylandBackend},
#endif
#ifdef LAYER_X11
        {"X11", [] { x11Connect(); return true; }, &x11Backend},
#endif
    };
    return choices;
}

std::string missingBackendEntries(const DisplayBackend& backend) {
    const std::pair<const char*, bool> required[] = {
        {"readEvents", backend.readEvents},
        {"waitForEvents", backend.waitForEvents},
        {"keyText", backend.keyText},
        {"createWindow", backend.createWindow},
        {"showWindow", backend.showWindow},
        {"hideWindow", backend.hideWindow},
        {"setWindowPos", backend.setWindowPos},
        {"windowRect", backend.windowRect},
        {"destroyWindow", backend.destroyWindow},
        {"listPixelFormats", backend.listPixelFormats},
        {"setPixelFormat", backend.setPixelFormat},
        {"swapBuffers", backend.swapBuffers},
        {"windowShown", backend.windowShown},
        {"createContext", backend.createContext},
        {"makeCurrent", backend.makeCurrent},
        {"deleteContext", backend.deleteContext},
        {"screenSize", backend.screenSize},
        {"messageBoxWindow", backend.messageBoxWindow},
        {"realizePalette", backend.realizePalette},
        {"capture", backend.capture},
        {"releaseCapture", backend.releaseCapture},
        {"terminate", backend.terminate},
    };
    std::string missing;
    for (const auto& [name, present] : required)
        if (!present) missing += (missing.empty() ? "" : ", ") + std::string(name);
    return missing;
}

const DisplayBackend& native() {
    if (platform.backend) return *platform.backend;
    for (const BackendChoice& choice : backendChoices()) {
        if (!choice.connects()) continue;
        // A table with a hole would crash where the hole is first used.
        std::string missing = missingBackendEntries(*choice.table);
        if (!missing.empty()) {
            std::fprintf(stderr, "%s: the %s back end leaves out %s\n", program_invocation_short_name, choice.name,
                         missing.c_str());
            std::exit(1);
        }
        platform.backend = choice.table;
        return *platform.backend;
    }
    // Only where X11 is not built: its connection says why it failed.
    std::fprintf(stderr, "%s: cannot use the Wayland compositor%s%s (this build has no X11 back end)\n",
                 program_invocation_short_name, std::getenv("WAYLAND_DISPLAY") ? " " : "",
                 std::getenv("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY") : "");
    std::exit(1);
}

int64_t nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const WindowClass* findClass(LPCSTR name) {
    if (!name) return nullptr;
    for (const WindowClass& windowClass : platform.classes)
        if (strcasecmp(windowClass.name.c_str(), name) == 0) return &windowClass;
    return nullptr;
}

const std::vector<HWND>& liveWindows() { return platform.windows; }

bool isLiveWindow(HWND window) {
    return window && std::find(platform.windows.begin(), platform.windows.end(), window) != platform.windows.end();
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
    if (findClass(windowClass->lpszClassName)) return 0;
    platform.classes.push_back({windowClass->lpszClassName, windowClass->style, windowClass->lpfnWndProc,
                                windowClass->hCursor, windowClass->hIcon});
    return ATOM(0xC000 + platform.classes.size());
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    return !instance && name == IDI_APPLICATION ? &applicationIcon : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    return !instance && name == IDC_ARROW ? &arrowCursor : nullptr;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
    const WindowClass* windowClass = findClass(className);
    if (!windowClass || width < 0 || height < 0) return nullptr;
    HWND window = new HWND__;
    window->windowProc = windowClass->windowProc;
    window->classStyle = windowClass->style;
    window->className = windowClass->name;
    window->hasIcon = windowClass->icon != nullptr;
    window->title = windowName ? windowName : "";
    window->style = style;
    window->clientX = x;
    window->clientY = y;
    window->clientWidth = std::max(width, 1);
    window->clientHeight = std::max(height, 1);
    window->deviceContext.window = window;
    native().createWindow(window, *windowClass, x, y, width, height);
    platform.windows.push_back(window);

    if (sendToWindow(window, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    if (style & WS_VISIBLE) ShowWindow(window, SW_SHOW);
    return window;
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (!isLiveWindow(window) || window->destroying) return FALSE;
    window->destroying = true;
    if (platform.capture == window) ReleaseCapture();
    if (window->visible) (native().hideForDestroy ? native().hideForDestroy : native().hideWindow)(window);
    window->visible = false;
    sendToWindow(window, WM_DESTROY, 0, 0);
    forgetWindowMessages(window);
    platform.windows.erase(std::find(platform.windows.begin(), platform.windows.end(), window));
    native().destroyWindow(window);
    delete window;
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    if (!isLiveWindow(window)) return FALSE;
    BOOL wasVisible = window->visible;
    if (command == SW_HIDE) {
        if (wasVisible) native().hideWindow(window);
        window->visible = false;
        return wasVisible;
    }
    if (!wasVisible) {
        window->visible = true;
        window->needsPaint = true;
        native().showWindow(window);
        // As on the platform, a window learns its size when first shown, in
        // the state the display system has shown it in.
        if (!window->shownBefore) {
            window->shownBefore = true;
            sendToWindow(window, WM_SIZE, window->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                         MAKELPARAM(window->clientWidth, window->clientHeight));
        }
    }
    return wasVisible;
}

// Only asks: the display system may place and size the window otherwise,
// and WM_MOVE and WM_SIZE follow from what it then reports.
BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
    if (!isLiveWindow(window)) return FALSE;
    native().setWindowPos(window, x, y, width, height, flags);
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, RECT* rect) {
    if (!isLiveWindow(window) || !rect) return FALSE;
    *rect = native().windowRect(window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return isLiveWindow(window); }

BOOL WINAPI IsIconic(HWND window) { return isLiveWindow(window) && window->minimized; }

BOOL WINAPI IsZoomed(HWND window) { return isLiveWindow(window) && window->maximized; }

BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
    if (!isLiveWindow(window) || !rect) return FALSE;
    *rect = RECT{0, 0, window->clientWidth, window->clientHeight};
    return TRUE;
}

HDC WINAPI GetDC(HWND window) { return isLiveWindow(window) ? &window->deviceContext : nullptr; }

int WINAPI ReleaseDC(HWND window, HDC dc) { return isLiveWindow(window) && dc == &window->deviceContext; }

HWND WINAPI WindowFromDC(HDC dc) { return dc && isLiveWindow(dc->window) ? dc->window : nullptr; }

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    if (!isLiveWindow(window) || !paint) return nullptr;
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = &window->deviceContext;
    paint->rcPaint = RECT{0, 0, window->clientWidth, window->clientHeight};
    window->needsPaint = false;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT*) { return isLiveWindow(window); }

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL) {
    if (!window) {
        for (HWND each : platform.windows) each->needsPaint = true;
        return TRUE;
    }
    if (!isLiveWindow(window)) return FALSE;
    window->needsPaint = true;
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    if (!isLiveWindow(window)) return FALSE;
    if (window->visible && window->needsPaint) sendToWindow(window, WM_PAINT, 0, 0);
    return TRUE;
}

HWND WINAPI SetCapture(HWND window) {
    HWND previous = platform.capture;
    if (!isLiveWindow(window)) return previous;
    native().capture(window);
    platform.capture = window;
    return previous;
}

BOOL WINAPI ReleaseCapture(void) {
    if (platform.capture) {
        native().releaseCapture();
        platform.capture = nullptr;
    }
    return TRUE;
}

HWND WINAPI GetCapture(void) { return platform.capture; }

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    default: return 0;
    }
}

PixelSize boundedPixelSize(int width, int height) {
    width = std::clamp(width, 1, largestSide);
    height = std::clamp(height, 1, largestSide);
    int64_t area = int64_t(width) * height;
    if (area <= largestArea) return PixelSize{width, height};
    // The same shape, so that a picture made for the size still fits it.
    double shrink = std::sqrt(double(largestArea) / double(area));
    return PixelSize{std::max(int(width * shrink), 1), std::max(int(height * shrink), 1)};
}

int WINAPI GetSystemMetrics(int index) {
    if (index != SM_CXSCREEN && index != SM_CYSCREEN) return 0;
    ScreenSize screen = native().screenSize();
    PixelSize bounded = boundedPixelSize(screen.width, screen.height);
    return index == SM_CXSCREEN ? bounded.width : bounded.height;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    // "Error" is the platform's default caption.
    if (!text) text = "";
    std::unique_ptr<BoxWindow> window = native().messageBoxWindow(owner, text, caption ? caption : "Error");
    return runMessageBox(*window, text, type);
}
