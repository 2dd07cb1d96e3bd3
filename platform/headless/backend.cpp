// The headless display's windows and events: a screen with no frames, where
// the window under the pointer gets the mouse, a held button or the capture
// keeps it, and the window last shown has the keyboard.
#include "platform/headless/internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

HeadlessState& headless = *new HeadlessState;

namespace {

// An event of `kind`, for `window` where the desktop does it, with a
// position or a size.
HeadlessEvent eventOf(HeadlessEvent::Kind kind, HWND window = nullptr, int x = 0, int y = 0) {
    HeadlessEvent event;
    event.kind = kind;
    event.window = window;
    event.x = x;
    event.y = y;
    return event;
}

const unsigned controlKeyState = 1u << 31;

bool contains(HWND window, POINT point) {
    return point.x >= window->clientX && point.x < window->clientX + window->clientWidth &&
           point.y >= window->clientY && point.y < window->clientY + window->clientHeight;
}

// The capture's window, the one a held button keeps, or the topmost shown
// window under the pointer (the last made is on top).
HWND pointerWindow() {
    if (platform.capture) return platform.capture;
    if (headless.buttonWindow && isLiveWindow(headless.buttonWindow)) return headless.buttonWindow;
    const std::vector<HWND>& windows = liveWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->visible && !(*it)->minimized && contains(*it, headless.pointer)) return *it;
    return nullptr;
}

void report(const HeadlessEvent& event) {
    if (event.window && !isLiveWindow(event.window)) return;
    POINT at = headless.pointer;
    switch (event.kind) {
    case HeadlessEvent::Kind::pointer:
        headless.pointer = POINT{event.x, event.y};
        at = headless.pointer;
        if (HWND window = pointerWindow())
            inputPointerMoved(window, at.x - window->clientX, at.y - window->clientY, at, headless.modifiers, 0);
        else
            notePointer(at);
        break;
    case HeadlessEvent::Kind::button:
        if (HWND window = pointerWindow()) {
            unsigned bit = 1u << event.code;
            headless.buttonsDown = event.on ? headless.buttonsDown | bit : headless.buttonsDown & ~bit;
            headless.buttonWindow = headless.buttonsDown ? window : nullptr;
            inputButton(window, MouseButton(event.code), event.on, at.x - window->clientX, at.y - window->clientY, at,
                        headless.modifiers, 0);
        }
        break;
    case HeadlessEvent::Kind::key:
        headless.modifiers = event.modifiers;
        if (headless.focus && isLiveWindow(headless.focus))
            inputKey(headless.focus, event.symbol, event.code, !event.on,
                     event.symbol | (event.modifiers.control ? controlKeyState : 0));
        break;
    case HeadlessEvent::Kind::resize: inputWindowSize(event.window, event.x, event.y, event.state); break;
    case HeadlessEvent::Kind::move: inputWindowPosition(event.window, event.x, event.y); break;
    case HeadlessEvent::Kind::closeRequest: inputWindowCloseRequest(event.window); break;
    case HeadlessEvent::Kind::uncover: inputWindowDamage(event.window); break;
    case HeadlessEvent::Kind::focus:
        if (event.on) headless.focus = event.window;
        inputFocus(event.window, event.on);
        break;
    case HeadlessEvent::Kind::destroy: inputWindowDestroyed(event.window); break;
    }
}

void readEvents() {
    int64_t until = nowMs() + eventReadingBudgetMs;
    for (;;) {
        HeadlessEvent event;
        {
            std::lock_guard<std::mutex> hold(headless.lock);
            if (headless.events.empty()) {
                // All read: a wake from now on says that more came.
                uint64_t count;
                if (read(headless.wake, &count, sizeof count) < 0) {
                    // Nothing came since the last wait.
                }
                return;
            }
            event = headless.events.front();
            headless.events.pop_front();
        }
        report(event);
        if (nowMs() >= until) return;
    }
}

// As a display connection does, returns at once while events wait unread.
bool waitForEvents(int timeoutMs) {
    {
        std::lock_guard<std::mutex> hold(headless.lock);
        if (!headless.events.empty()) return true;
    }
    headlessWaitForNewEvents(timeoutMs);
    return true;
}

// What a key types: its character, as ASCII symbols are, and with Control
// a letter's control code.
int keyText(const MSG&, unsigned keyState, char* text, int size) {
    uint32_t symbol = keyState & ~controlKeyState;
    char typed = 0;
    if (symbol >= 0x20 && symbol < 0x7f)
        typed = (keyState & controlKeyState) && std::isalpha(int(symbol)) ? char(std::toupper(int(symbol)) - '@')
                                                                          : char(symbol);
    else if (symbol == keySymbol::enter || symbol == keySymbol::keypadEnter)
        typed = '\r';
    else if (symbol == keySymbol::escape)
        typed = 27;
    else if (symbol == keySymbol::backSpace)
        typed = 8;
    else if (symbol == keySymbol::tab)
        typed = 9;
    if (!typed || size < 1) return 0;
    text[0] = typed;
    return 1;
}

void createWindow(HWND window, const WindowClass&, int, int, int width, int height) {
    PixelSize size = boundedPixelSize(width, height);
    window->clientWidth = size.width;
    window->clientHeight = size.height;
    window->backendWindow = new HeadlessWindow;
}

void queueFocus(HWND window, bool focused) {
    HeadlessEvent event = eventOf(HeadlessEvent::Kind::focus, window);
    event.on = focused;
    headlessPlay(event);
}

// Shown, the window takes the focus, as a desktop gives it a new window.
void showWindow(HWND window) {
    if (headless.focus && headless.focus != window) queueFocus(headless.focus, false);
    queueFocus(window, true);
}

void hideWindow(HWND window) {
    if (headless.focus == window) {
        headless.focus = nullptr;
        queueFocus(window, false);
    }
}

// The display does what is asked, and says so as it would of any change.
void setWindowPos(HWND window, int x, int y, int width, int height, UINT flags) {
    if (!(flags & SWP_NOMOVE) && (x != window->clientX || y != window->clientY)) headlessMove(window, x, y);
    PixelSize size = boundedPixelSize(width, height);
    if (!(flags & SWP_NOSIZE) && (size.width != window->clientWidth || size.height != window->clientHeight))
        headlessResize(window, size.width, size.height);
}

RECT windowRect(HWND window) {
    return RECT{window->clientX, window->clientY, window->clientX + window->clientWidth,
                window->clientY + window->clientHeight};
}

void destroyWindow(HWND window) {
    {
        std::lock_guard<std::mutex> hold(headless.lock);
        headless.events.erase(std::remove_if(headless.events.begin(), headless.events.end(),
                                             [window](const HeadlessEvent& event) { return event.window == window; }),
                              headless.events.end());
    }
    if (headless.focus == window) headless.focus = nullptr;
    if (headless.buttonWindow == window) headless.buttonWindow = nullptr;
    headlessReleaseSurface(window);
    delete headlessOf(window);
    window->backendWindow = nullptr;
}

bool windowShown(HWND window) { return !window->minimized; }

ScreenSize screenSize() { return headless.screen; }

void terminate() {
    headlessEndOpenGl();  // the windows' surfaces too
    for (HWND window : liveWindows()) {
        delete headlessOf(window);
        window->backendWindow = nullptr;
    }
    if (headless.wake >= 0) close(headless.wake);
    headless.~HeadlessState();
    new (&headless) HeadlessState;
}

const DisplayBackend headlessBackend = [] {
    DisplayBackend backend;
    backend.name = "headless";
    backend.readEvents = readEvents;
    backend.waitForEvents = waitForEvents;
    backend.keyText = keyText;
    backend.createWindow = createWindow;
    backend.showWindow = showWindow;
    backend.hideWindow = hideWindow;
    backend.setWindowPos = setWindowPos;
    backend.windowRect = windowRect;
    backend.destroyWindow = destroyWindow;
    backend.listPixelFormats = headlessListPixelFormats;
    backend.setPixelFormat = headlessSetPixelFormat;
    backend.swapBuffers = headlessSwapBuffers;
    backend.windowShown = windowShown;
    backend.createContext = headlessCreateContext;
    backend.makeCurrent = headlessMakeCurrent;
    backend.deleteContext = headlessDeleteContext;
    backend.screenSize = screenSize;
    backend.messageBoxWindow = headlessMessageBoxWindow;
    backend.terminate = terminate;
    return backend;
}();

}  // namespace

bool useHeadlessDisplay(int screenWidth, int screenHeight) {
    if (platform.backend && platform.backend != &headlessBackend) return false;
    if (!missingBackendEntries(headlessBackend).empty()) return false;
    headless.screen = ScreenSize{screenWidth, screenHeight};
    if (headless.wake < 0) headless.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    platform.backend = &headlessBackend;
    return headless.wake >= 0;
}

void headlessPlay(const HeadlessEvent& event) {
    {
        std::lock_guard<std::mutex> hold(headless.lock);
        headless.events.push_back(event);
    }
    uint64_t one = 1;
    if (headless.wake >= 0 && write(headless.wake, &one, sizeof one) < 0) {
        // The counter is full only when nobody reads it: the program wakes anyway.
    }
}

bool headlessTakeBoxEvent(HeadlessEvent* event) {
    std::lock_guard<std::mutex> hold(headless.lock);
    for (auto it = headless.events.begin(); it != headless.events.end(); ++it) {
        bool forBox = it->kind == HeadlessEvent::Kind::pointer || it->kind == HeadlessEvent::Kind::button ||
                      it->kind == HeadlessEvent::Kind::key ||
                      (it->kind == HeadlessEvent::Kind::closeRequest && !it->window);
        if (!forBox) continue;
        *event = *it;
        headless.events.erase(it);
        return true;
    }
    return false;
}

void headlessWaitForNewEvents(int timeoutMs) {
    pollfd wake{headless.wake, POLLIN, 0};
    if (poll(&wake, 1, timeoutMs) > 0) {
        uint64_t count;
        if (read(headless.wake, &count, sizeof count) < 0) {
            // Already read: the events are in the list all the same.
        }
    }
}

void headlessPointerTo(int x, int y) { headlessPlay(eventOf(HeadlessEvent::Kind::pointer, nullptr, x, y)); }

void headlessButton(MouseButton button, bool press) {
    HeadlessEvent event = eventOf(HeadlessEvent::Kind::button);
    event.code = unsigned(button);
    event.on = press;
    headlessPlay(event);
}

void headlessKey(uint32_t symbol, unsigned scanCode, bool press, HeldModifiers modifiers) {
    HeadlessEvent event = eventOf(HeadlessEvent::Kind::key);
    event.symbol = symbol;
    event.code = scanCode;
    event.on = press;
    event.modifiers = modifiers;
    headlessPlay(event);
}

void headlessResize(HWND window, int width, int height, WindowSizeState state) {
    HeadlessEvent event = eventOf(HeadlessEvent::Kind::resize, window, width, height);
    event.state = state;
    headlessPlay(event);
}

void headlessMove(HWND window, int x, int y) { headlessPlay(eventOf(HeadlessEvent::Kind::move, window, x, y)); }

void headlessCloseRequest(HWND window) { headlessPlay(eventOf(HeadlessEvent::Kind::closeRequest, window)); }

void headlessUncover(HWND window) { headlessPlay(eventOf(HeadlessEvent::Kind::uncover, window)); }

void headlessFocus(HWND window, bool focused) { queueFocus(window, focused); }

void headlessDestroy(HWND window) { headlessPlay(eventOf(HeadlessEvent::Kind::destroy, window)); }

HeadlessPicture headlessWindowPicture(HWND window) {
    return isLiveWindow(window) ? headlessOf(window)->picture : HeadlessPicture{};
}

int headlessFramesShown(HWND window) { return isLiveWindow(window) ? headlessOf(window)->framesShown : 0; }

void whenBoxPainted(std::function<void(const HeadlessBox&)> look) { headless.boxPainted = std::move(look); }
