#include "x_user.h"

#include "x_server.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

// Last, for XESetCloseDisplay: it defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace {

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

unsigned long maskShift(unsigned long mask) { return mask ? static_cast<unsigned long>(__builtin_ctzl(mask)) : 0; }

int channel(unsigned long pixel, unsigned long mask) {
    unsigned long value = (pixel & mask) >> maskShift(mask);
    unsigned long maximum = mask >> maskShift(mask);
    return maximum ? int(value * 255 / maximum) : 0;
}

}  // namespace

Display* openUserConnection(const std::string& display) {
    Display* connection = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (connection) XSetErrorHandler(ignoreErrors);
    return connection;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    long long deadline = monotonicMs() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (monotonicMs() >= deadline) return false;
        usleep(10000);
    }
}

namespace {

// A window manager puts frames around top-level windows, so they are looked
// for in the whole tree.
void findNamed(Display* display, Window parent, const std::string& name, int depth, std::vector<Window>& found) {
    Window root, parentReturn, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentReturn, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) {
        char* windowName = nullptr;
        if (XFetchName(display, children[i], &windowName) && windowName) {
            if (name == windowName) found.push_back(children[i]);
            XFree(windowName);
        }
        if (depth > 1) findNamed(display, children[i], name, depth - 1, found);
    }
    if (children) XFree(children);
}

}  // namespace

std::vector<Window> windowsNamed(Display* display, const std::string& name) {
    std::vector<Window> found;
    findNamed(display, DefaultRootWindow(display), name, 4, found);
    return found;
}

Window waitForWindowNamed(Display* display, const std::string& name, int timeoutMs) {
    Window window = 0;
    waitUntil(
        [&] {
            for (Window candidate : windowsNamed(display, name))
                if (isViewable(display, candidate)) window = candidate;
            return window != 0;
        },
        timeoutMs);
    return window;
}

std::string textProperty(Display* display, Window window, const char* property) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 65536, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data) {
        text.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return text;
}

std::vector<long> property32(Display* display, Window window, const char* property, Atom wantedType,
                             long maximumItems, bool* more) {
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> items;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, maximumItems, False, wantedType,
                           &type, &format, &count, &after, &data) == Success &&
        data && type == wantedType && format == 32)
        items.assign(reinterpret_cast<const long*>(data), reinterpret_cast<const long*>(data) + count);
    if (data) XFree(data);
    if (more) *more = after > 0;
    return items;
}

bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

bool answersPing(Display* display, Window window, int timeoutMs) {
    XSync(display, False);  // what this connection asked for is done first
    // A connection of its own, so that the user's gets no events it did not ask for.
    Display* listener = XOpenDisplay(DisplayString(display));
    if (!listener) return false;
    Window root = DefaultRootWindow(listener);
    Atom protocols = XInternAtom(listener, "WM_PROTOCOLS", False), ping = XInternAtom(listener, "_NET_WM_PING", False);
    static long pings = 0;
    long token = 1000 + ++pings;  // the ping's time stamp: which answer is this one's
    XSelectInput(listener, root, SubstructureNotifyMask);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    event.xclient.data.l[1] = token;
    event.xclient.data.l[2] = long(window);
    XSendEvent(listener, window, False, NoEventMask, &event);
    XFlush(listener);
    bool answered = false;
    long long deadline = monotonicMs() + timeoutMs;
    while (!answered) {
        while (!answered && XPending(listener)) {
            XNextEvent(listener, &event);
            answered = event.type == ClientMessage && event.xclient.window == root &&
                       event.xclient.message_type == protocols && Atom(event.xclient.data.l[0]) == ping &&
                       event.xclient.data.l[1] == token;
        }
        long long left = deadline - monotonicMs();
        if (answered || left <= 0) break;
        pollfd connection{ConnectionNumber(listener), POLLIN, 0};
        poll(&connection, 1, int(std::min(left, 100LL)));
    }
    XCloseDisplay(listener);
    return answered;
}

bool pictureChanges(Display* display, Window window, int timeoutMs, const std::vector<uint32_t>* before) {
    int width = 0, height = 0;
    std::vector<uint32_t> first = before ? *before : captureWindow(display, window, &width, &height);
    return waitUntil([&] { return captureWindow(display, window, &width, &height) != first; }, timeoutMs);
}

WindowGeometry rootGeometry(Display* display, Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return WindowGeometry{x, y, attributes.width, attributes.height};
}

void setKey(Display* display, unsigned long keysym, bool down) {
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down, CurrentTime);
    XFlush(display);
}

void pressKey(Display* display, unsigned long keysym, bool withShift) {
    KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    KeyCode key = XKeysymToKeycode(display, keysym);
    if (withShift) XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    if (withShift) XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XFlush(display);
}

void movePointer(Display* display, int rootX, int rootY) {
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XFlush(display);
}

void setButton(Display* display, unsigned button, bool down) {
    XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
    XFlush(display);
}

void clickAt(Display* display, int rootX, int rootY) {
    movePointer(display, rootX, rootY);
    setButton(display, 1, true);
    setButton(display, 1, false);
}

void requestClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

namespace {

// Tests read whole windows and screens many times a second while they wait
// for a picture to change: through shared memory where the server offers it,
// rather than megabytes down the connection each time. Each connection has
// one segment the size of its screen, attached once: a segment made and
// attached for each picture cost the server and the test a page fault for
// every page, every time.
struct SharedCapture {
    Display* display;
    XShmSegmentInfo segment;
    size_t bytes;
};
std::list<SharedCapture> sharedCaptures;  // a list: images point at their entry's segment

int forgetSharedCapture(Display* display, XExtCodes*) {
    // The server lets go of the segment with the connection.
    sharedCaptures.remove_if([&](SharedCapture& capture) {
        if (capture.display != display) return false;
        shmdt(capture.segment.shmaddr);
        return true;
    });
    return 0;
}

bool attachFailed = false;
int noteAttachFailure(Display*, XErrorEvent*) {
    attachFailed = true;
    return 0;
}

SharedCapture* sharedCaptureFor(Display* display) {
    for (SharedCapture& capture : sharedCaptures)
        if (capture.display == display) return capture.segment.shmaddr ? &capture : nullptr;
    SharedCapture capture{display, {}, 0};
    int screen = DefaultScreen(display);
    capture.bytes = size_t(DisplayWidth(display, screen)) * size_t(DisplayHeight(display, screen)) * 4;
    if (XShmQueryExtension(display)) {
        capture.segment.shmid = shmget(IPC_PRIVATE, capture.bytes, IPC_CREAT | 0600);
        void* memory =
            capture.segment.shmid < 0 ? reinterpret_cast<void*>(-1) : shmat(capture.segment.shmid, nullptr, 0);
        if (capture.segment.shmid >= 0) shmctl(capture.segment.shmid, IPC_RMID, nullptr);  // gone once both let go
        if (memory != reinterpret_cast<void*>(-1)) {
            capture.segment.shmaddr = static_cast<char*>(memory);
            capture.segment.readOnly = False;
            XSync(display, False);
            attachFailed = false;
            XErrorHandler previous = XSetErrorHandler(noteAttachFailure);
            XShmAttach(display, &capture.segment);
            XSync(display, False);  // a server in another host's memory refuses it
            XSetErrorHandler(previous);
            if (attachFailed) {
                shmdt(memory);
                capture.segment.shmaddr = nullptr;
            }
        }
    }
    // Remembered either way, so that a connection that cannot share is not asked again.
    XESetCloseDisplay(display, XAddExtension(display)->extension, forgetSharedCapture);
    sharedCaptures.push_back(capture);
    return capture.segment.shmaddr ? &sharedCaptures.back() : nullptr;
}

// The image's pixels are the connection's segment: XDestroyImage leaves them.
XImage* sharedImage(Display* display, Window window, const XWindowAttributes& attributes) {
    SharedCapture* capture = sharedCaptureFor(display);
    if (!capture) return nullptr;
    XImage* image = XShmCreateImage(display, attributes.visual, unsigned(attributes.depth), ZPixmap, nullptr,
                                    &capture->segment, unsigned(attributes.width), unsigned(attributes.height));
    if (!image) return nullptr;
    image->data = capture->segment.shmaddr;
    if (size_t(image->bytes_per_line) * size_t(image->height) > capture->bytes ||
        !XShmGetImage(display, window, image, 0, 0, AllPlanes)) {
        XDestroyImage(image);
        return nullptr;
    }
    return image;
}

bool isPlainTrueColour(const XImage* image) {
    return image->bits_per_pixel == 32 && image->red_mask == 0xff0000 && image->green_mask == 0xff00 &&
           image->blue_mask == 0xff &&
           image->byte_order == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst);
}

}  // namespace

std::vector<uint32_t> captureWindow(Display* display, Window window, int* width, int* height) {
    XWindowAttributes attributes{};
    std::vector<uint32_t> pixels;
    if (!XGetWindowAttributes(display, window, &attributes)) return pixels;
    XImage* image = sharedImage(display, window, attributes);
    if (!image)
        image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height), AllPlanes,
                          ZPixmap);
    if (!image) return pixels;
    *width = attributes.width;
    *height = attributes.height;
    pixels.resize(size_t(attributes.width) * size_t(attributes.height));
    uint32_t* out = pixels.data();
    if (isPlainTrueColour(image)) {
        for (int y = 0; y < attributes.height; ++y) {
            const uint32_t* row =
                reinterpret_cast<const uint32_t*>(image->data + size_t(y) * size_t(image->bytes_per_line));
            for (int x = 0; x < attributes.width; ++x) *out++ = row[x] & 0xffffff;
        }
    } else {
        for (int y = 0; y < attributes.height; ++y)
            for (int x = 0; x < attributes.width; ++x) {
                unsigned long pixel = XGetPixel(image, x, y);
                *out++ = uint32_t(channel(pixel, image->red_mask) << 16 | channel(pixel, image->green_mask) << 8 |
                                  channel(pixel, image->blue_mask));
            }
    }
    XDestroyImage(image);
    return pixels;
}

Rgb pixelAt(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return Rgb{-1, -1, -1};
    unsigned long pixel = XGetPixel(image, 0, 0);
    Rgb colour{channel(pixel, image->red_mask), channel(pixel, image->green_mask), channel(pixel, image->blue_mask)};
    XDestroyImage(image);
    return colour;
}

bool closeTo(Rgb colour, Rgb expected, int tolerance) {
    return std::abs(colour.red - expected.red) <= tolerance && std::abs(colour.green - expected.green) <= tolerance &&
           std::abs(colour.blue - expected.blue) <= tolerance;
}

Rgb rgbOf(float red, float green, float blue) {
    return Rgb{int(std::lround(red * 255)), int(std::lround(green * 255)), int(std::lround(blue * 255))};
}
