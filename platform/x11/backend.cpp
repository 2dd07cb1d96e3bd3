// The X11 back end as the common part sees it.
#include "platform/x11/internal.h"

const DisplayBackend x11Backend = [] {
    DisplayBackend backend;
    backend.name = "X11";
    backend.readEvents = x11ReadEvents;
    backend.waitForEvents = x11WaitForEvents;
    backend.keyText = x11KeyText;
    backend.createWindow = x11CreateWindow;
    backend.showWindow = x11ShowWindow;
    backend.hideWindow = x11HideWindow;
    backend.setWindowPos = x11SetWindowPos;
    backend.windowRect = x11WindowRect;
    backend.hideForDestroy = x11HideForDestroy;
    backend.destroyWindow = x11DestroyWindow;
    backend.listPixelFormats = x11ListPixelFormats;
    backend.setPixelFormat = x11SetPixelFormat;
    backend.swapBuffers = x11SwapBuffers;
    backend.windowShown = x11WindowShown;
    backend.createContext = x11CreateContext;
    backend.makeCurrent = x11MakeCurrent;
    backend.deleteContext = x11DeleteContext;
    backend.screenSize = x11ScreenSize;
    backend.messageBoxWindow = x11MessageBoxWindow;
    backend.realizePalette = x11RealizePalette;
    backend.capture = x11Capture;
    backend.releaseCapture = x11ReleaseCapture;
    backend.terminate = x11Terminate;
    return backend;
}();
