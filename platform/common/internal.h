// The platform's own behaviour, shared by every display system the layer
// runs on: every Win32 entry point of the subset, with window classes and
// handles, the message queue and its order, timers, capture, default
// processing, the ranking of pixel formats and the layout of message boxes.
// Below the common part, the narrow contract a display back end fulfils
// (the native... functions): all that differs from one display system to
// another goes through it.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <bitset>
#include <deque>
#include <memory>
#include <string>
#include <vector>

struct HPALETTE__ {
    std::vector<PALETTEENTRY> entries;
    bool realized = false;
};

// With CS_OWNDC every window has exactly one device context for its life.
struct HDC__ {
    HWND window = nullptr;
    HPALETTE palette = nullptr;
    bool paletteInForeground = false;
};

struct WindowTimer {
    UINT_PTR id;
    UINT periodMs;
    int64_t dueMs;
    TIMERPROC proc;
};

struct WindowClass {
    std::string name;
    UINT style;
    WNDPROC windowProc;
    HCURSOR cursor;
    HICON icon;
};

struct HGLRC__ {
    int pixelFormat = 0;
    void* backendContext = nullptr;  // what the back end keeps of it, its own kind
};

// The platform's window rectangle is the outer one, frame included; the
// client area is what the display system shows of the program. Sizes are
// what the display system has confirmed, never what was only asked for.
struct HWND__ {
    WNDPROC windowProc = nullptr;
    UINT classStyle = 0;
    bool hasIcon = false;  // the class names an icon: the application's
    std::string className;
    std::string title;
    DWORD style = 0;
    int clientX = 0, clientY = 0;           // the client area's top left on the screen
    int clientWidth = 0, clientHeight = 0;  // the client area's size
    int pixelFormat = 0;
    bool visible = false;  // shown, as ShowWindow and WS_VISIBLE mean it
    bool shownBefore = false;
    bool needsPaint = false;
    bool focused = false;
    bool destroying = false;
    bool minimized = false, maximized = false;  // as the display system last said
    HDC__ deviceContext;
    std::vector<WindowTimer> timers;
    void* backendWindow = nullptr;  // what the back end keeps of it, its own kind
};

// Input messages carry the modifier state of their event, so that
// TranslateMessage sees the keyboard as it was when the key went down.
struct QueuedMessage {
    MSG msg;
    unsigned keyState;
};

// All that the common part holds, in one record, reset when the layer ends.
struct PlatformState {
    std::vector<WindowClass> classes;
    std::vector<HWND> windows;
    HWND capture = nullptr;
    std::vector<HPALETTE> palettes;
    std::vector<HGLRC> contexts;
    HGLRC currentContext = nullptr;
    HWND currentWindow = nullptr;  // the one the current context draws on
    // The display's pixel formats, numbered from 1, listed on first use.
    std::vector<struct ListedPixelFormat> pixelFormats;
    bool pixelFormatsListed = false;

    // The thread's message queue.
    std::deque<QueuedMessage> postedMessages, inputMessages;
    bool quitPosted = false;
    int quitCode = 0;
    unsigned retrievedKeyState = 0;
    POINT lastPointer{0, 0};
    // Keys held down, by scan code: a press of a key held already is a
    // repeat, whichever display system reported it.
    std::bitset<256> keysHeld;
    WPARAM buttonsHeld = 0;  // the MK_ bits of the mouse buttons down
    // Set when the queue can no longer serve the program: its window was
    // taken away by another client. Retrieval then fails, as the platform's does.
    bool queueBroken = false;

    // The display system the layer runs on, chosen at its first use.
    const struct DisplayBackend* backend = nullptr;
};
extern PlatformState& platform;

// Ends the layer: the back end closes its connection and forgets what it
// made, without telling any window procedure (as the end of the process
// would), and the layer is left as before its first call.
void terminateLayer();

int64_t nowMs();

// Windows of the layer.
bool isLiveWindow(HWND window);
const std::vector<HWND>& liveWindows();
const WindowClass* findClass(LPCSTR name);
// Sends a message straight to a window procedure, as SendMessageA does.
LRESULT sendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Forgets queued messages and timers of a window that is going away.
void forgetWindowMessages(HWND window);
// Queues an input message from the display system, with the pointer's
// position on the screen and the modifier state it came with.
void queueInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam, unsigned keyState);
void notePointer(POINT onScreen);
// The queue holds something for the program: a message or the quit.
bool messagesWaiting();
// Milliseconds until the next timer of any window is due; -1 when none is.
int nextTimerTimeout();
// The key symbols back ends report, in the numbering of X11 and xkbcommon
// (a back end for another display system gives its keys these numbers):
// the layer's names for those of the subset. Letters and digits are their
// ASCII codes.
namespace keySymbol {
const uint32_t escape = 0xff1b, enter = 0xff0d, keypadEnter = 0xff8d, space = 0x0020, backSpace = 0xff08,
               tab = 0xff09, shiftLeft = 0xffe1, shiftRight = 0xffe2, controlLeft = 0xffe3, controlRight = 0xffe4;
}  // namespace keySymbol
// The platform's virtual key for a key symbol, 0 for keys outside the
// subset; a key message's lParam for a key's scan code (the kernel's key code).
WPARAM virtualKeyForSymbol(uint32_t symbol);
LPARAM keyLParamFor(unsigned scanCode, bool release, bool repeated);

// What a back end reports of the user's input (input.cpp), in the window's
// client pixels and on the screen, with the modifier state it came with
// (`keyState`, the back end's own) and the modifiers held; the platform's
// messages follow from it, with the buttons held as the reports tell.
enum class MouseButton { left, middle, right };
struct HeldModifiers {
    bool shift = false, control = false;
};
void inputPointerMoved(HWND window, int x, int y, POINT onScreen, HeldModifiers modifiers, unsigned keyState);
void inputButton(HWND window, MouseButton button, bool press, int x, int y, POINT onScreen, HeldModifiers modifiers,
                 unsigned keyState);
// The pointer went away with its buttons, as a seat's may: none is held.
void inputPointerGone();
// A key by its symbol (X11's and xkbcommon's numbering) and scan code (the
// kernel's key code): a press, each repeat of it while held (as another
// press), and its release.
void inputKey(HWND window, uint32_t symbol, unsigned scanCode, bool release, unsigned keyState);
// The window has the keyboard's focus now, or not.
void inputFocus(HWND window, bool focused);

// What a back end reports of its windows, as the display system says it
// (input.cpp); the platform's messages follow from it.
enum class WindowSizeState { restored, minimized, maximized };
// The client area is `width` x `height` in that state, or (minimized) the
// window is out of sight: WM_SIZE once the window was shown, a repaint
// where the size changed and the class asks for one, or on its way back.
void inputWindowSize(HWND window, int width, int height, WindowSizeState state);
// The client area's corner is now at (x, y), in the program's coordinates: WM_MOVE.
void inputWindowPosition(HWND window, int x, int y);
// The user asked to close the window (the manager's or compositor's close): WM_CLOSE.
void inputWindowCloseRequest(HWND window);
// What the window showed is lost and must be painted again.
void inputWindowDamage(HWND window);
// Another client took the window away, which no program can do on the
// platform: said on standard error, the window procedure releases what it
// holds, and the queue fails, so that the program ends as after a failure.
void inputWindowDestroyed(HWND window);

// What a back end provides to the common part: one table of functions per
// display system. The first call that needs a display chooses the back end
// (native()); the common part reaches the display only through it.
struct BoxFont;
struct BoxWindow;
struct PixelFormatTraits {
    bool carriesAlpha = false;     // a compositor would blend the window with what lies behind
    bool hasColourTables = false;  // ramps or a palette to keep, unlike plain true colour
};
// A pixel format as the platform describes it, and what ranking it needs
// beyond the descriptor.
struct ListedPixelFormat {
    PIXELFORMATDESCRIPTOR descriptor;
    PixelFormatTraits traits;
};
// The format numbered so; null for a number that is none.
const ListedPixelFormat* listedPixelFormat(int format);
// The size of the screen, in the platform's pixels.
struct ScreenSize {
    int width, height;
};

// A size in the platform's pixels.
struct PixelSize {
    int width, height;
};
// What a display system says of sizes is taken only up to what the layer
// can draw. OpenGL draws no larger than its largest viewport (16384 under
// Mesa's software rasterizer, 8192 or more on every driver in use): 8192
// on a side, which the widest screens made (7680) are within. A window's
// memory grows with its pixels, the OpenGL driver's colour and depth
// buffers and the buffers shown: some 17 bytes a pixel under Mesa's
// software rasterizer on Wayland, over 4 GB at 16384 by 16384. As many
// pixels as a 4K screen has (3840 by 2160) keep a window's buffers under
// 150 MB; a larger screen is taken as one of that size and its shape.
const int largestSide = 8192;
const int64_t largestArea = int64_t(3840) * 2160;
// The size bounded so: at least 1 and at most largestSide on each side,
// and both sides shrunk by one factor where there are too many pixels.
PixelSize boundedPixelSize(int width, int height);

// Each back end fills its table by name (see backend.cpp in its folder); an
// entry it leaves alone keeps the default given here, for what its display
// system does not need.
struct DisplayBackend {
    const char* name = nullptr;

    // Reads the events that have arrived, for a bounded time, and turns them
    // into messages and window state.
    void (*readEvents)() = nullptr;
    // Blocks until events arrive or `timeoutMs` passes (-1: no timeout);
    // false when the display system can no longer be read.
    bool (*waitForEvents)(int timeoutMs) = nullptr;
    // The characters a key press gives with the modifier state it came with.
    int (*keyText)(const MSG& keyDown, unsigned keyState, char* text, int size) = nullptr;

    // The window's native counterpart: made with the outer size asked for
    // (the back end sets the client area to what its frame leaves), shown
    // and activated, hidden, placed, and destroyed, in two steps around
    // WM_DESTROY (by default the first step hides it as hideWindow does).
    void (*createWindow)(HWND window, const WindowClass& windowClass, int x, int y, int width, int height) = nullptr;
    void (*showWindow)(HWND window) = nullptr;
    void (*hideWindow)(HWND window) = nullptr;
    void (*setWindowPos)(HWND window, int x, int y, int width, int height, UINT flags) = nullptr;
    RECT (*windowRect)(HWND window) = nullptr;
    void (*hideForDestroy)(HWND window) = nullptr;
    void (*destroyWindow)(HWND window) = nullptr;

    // The display's pixel formats, in the order that numbers them from 1;
    // asked for once, and kept by the common part.
    std::vector<ListedPixelFormat> (*listPixelFormats)() = nullptr;
    // Gives the window a format (a valid number); shows its back buffer
    // (made opaque first where the format has alpha, by the common part).
    void (*setPixelFormat)(HWND window, int format) = nullptr;
    void (*swapBuffers)(HWND window) = nullptr;
    // Whether the display shows the window at all: not while it is
    // minimized or withdrawn. By default the back end's swap decides.
    bool (*windowShown)(HWND window) = [](HWND) { return true; };

    // A rendering context for the window's pixel format; made current on
    // the window (or none current, for null); deleted.
    bool (*createContext)(HGLRC context, HWND window) = nullptr;
    bool (*makeCurrent)(HWND window, HGLRC context) = nullptr;
    void (*deleteContext)(HGLRC context) = nullptr;

    ScreenSize (*screenSize)() = nullptr;

    // The window of a message box, not shown yet; `text` for those who read
    // it from the window rather than its picture.
    std::unique_ptr<BoxWindow> (*messageBoxWindow)(HWND owner, const char* text, const char* caption) = nullptr;

    // Maps the device context's palette onto the display where its window's
    // colours are indexed and writable, telling every window when the
    // colours changed; false where there is nothing to map (the default:
    // true colour).
    bool (*realizePalette)(HDC dc, UINT* mapped) = [](HDC, UINT*) { return false; };

    // Keeps the pointer's input for `window` wherever the pointer goes, or
    // not; by default the display system's own hold while a button is down
    // is all there is.
    void (*capture)(HWND window) = [](HWND) {};
    void (*releaseCapture)() = [] {};

    // Frees what the back end keeps and closes its connection.
    void (*terminate)() = nullptr;
};

// Text in the layer's own windows, in the font a back end opened for them
// at a resolution in dots per inch; deleting it closes it. Each back end's
// font is its own kind of BoxFont, and draws into one window only.
struct BoxFont {
    virtual ~BoxFont() = default;
    virtual int ascent() const = 0;
    virtual int descent() const = 0;
    // The advance of `text` (ANSI code page), exactly as drawing it moves.
    virtual int textWidth(const std::string& text) const = 0;
};
// The resolutions text is drawn at, whatever a desktop or a screen claims.
const double minimumTextDpi = 48.0, maximumTextDpi = 480.0;
// The platform's message-box font, 9 points, in pixels at `dpi` (within the
// resolutions above).
double boxFontPixels(double dpi);
// What text takes where no font at all can be had: each character's
// advance, and the line's ascent and descent.
const int fallbackTextAdvance = 6, fallbackTextAscent = 11, fallbackTextDescent = 2;

// However many events arrive, one read of them works for this long at most,
// so that the program's loop always gets on with its frames and its input.
const int64_t eventReadingBudgetMs = 10;

// A program that draws frames for a window no one sees (minimized, hidden)
// would draw as fast as it can, for nothing: each frame then waits until
// the display system sends something, or for this long (a few frames a
// second, a share of a core of about one percent for a large window). The
// program answers its input at once all the same.
const int unseenFrameWaitMs = 250;

// Sets the current back buffer's alpha to one, for formats whose alpha a
// compositor would blend with what lies behind the window.
void makeBackBufferOpaque();

extern const DisplayBackend x11Backend;
extern const DisplayBackend waylandBackend;
// Whether a Wayland compositor is there that the layer can use; the
// connection it opened stays for the back end.
bool waylandConnects();
// Connects to the X server DISPLAY names, or ends the program with a
// message saying why: without a display it can do nothing.
void x11Connect();

// The display systems the layer runs on, tried in turn at the first call
// that needs one (a Wayland compositor where one is usable, then the X
// server): the first that connects runs. The last ends the program with a
// line saying why when it cannot connect either.
struct BackendChoice {
    const char* name;
    bool (*connects)();
    const DisplayBackend* table;
};
const std::vector<BackendChoice>& backendChoices();
// The entries a back end must fill, by name, that `backend` leaves empty;
// empty when it fills them all.
std::string missingBackendEntries(const DisplayBackend& backend);
// The back end that runs.
const DisplayBackend& native();
