// The Wayland back end as the common part sees it. Wayland has no palettes
// and lets no client take the pointer: those entries keep their defaults.
#include "platform/wayland/internal.h"

const DisplayBackend waylandBackend = [] {
    DisplayBackend backend;
    backend.name = "Wayland";
    backend.readEvents = waylandReadEvents;
    backend.waitForEvents = waylandWaitForEvents;
    backend.keyText = waylandKeyText;
    backend.createWindow = waylandCreateWindow;
    backend.showWindow = waylandShowWindow;
    backend.hideWindow = waylandHideWindow;
    backend.setWindowPos = waylandSetWindowPos;
    backend.windowRect = waylandWindowRect;
    backend.destroyWindow = waylandDestroyWindow;
    backend.listPixelFormats = waylandListPixelFormats;
    backend.setPixelFormat = waylandSetPixelFormat;
    backend.swapBuffers = waylandSwapBuffers;
    backend.createContext = waylandCreateContext;
    backend.makeCurrent = waylandMakeCurrent;
    backend.deleteContext = waylandDeleteContext;
    backend.screenSize = waylandScreenSize;
    backend.messageBoxWindow = waylandMessageBoxWindow;
    backend.terminate = waylandTerminate;
    return backend;
}();
