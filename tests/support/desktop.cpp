#include "desktop.h"

#include "x_server.h"
#include "x_user.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>

namespace {

Window windowProperty(Display* display, Window window, const char* name) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    Window value = 0;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &after, &data) == Success &&
        data && count == 1)
        value = Window(reinterpret_cast<unsigned long*>(data)[0]);
    if (data) XFree(data);
    return value;
}

bool managerRuns(Display* display) {
    Window check = windowProperty(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    return check && windowProperty(display, check, "_NET_SUPPORTING_WM_CHECK") == check;
}

bool supports(Display* display, const char* hint) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    bool found = false;
    Atom wanted = XInternAtom(display, hint, False);
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_SUPPORTED", False), 0,
                           4096, False, XA_ATOM, &type, &format, &count, &after, &data) == Success &&
        data)
        for (unsigned long i = 0; i < count && !found; ++i) found = reinterpret_cast<Atom*>(data)[i] == wanted;
    if (data) XFree(data);
    return found;
}

void sendToRoot(Display* display, Window window, const char* type, long l0, long l1 = 0, long l2 = 0, long l3 = 0) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = l0;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
    XFlush(display);
}

// A manager publishes its check window early in its start-up, before it
// handles requests: it is ready once it answers one. Managers that do not
// publish frames are taken as ready when they have the check window.
bool answersRequests(Display* display) {
    Window root = DefaultRootWindow(display);
    Window probe = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
    Extents extents;
    bool answered = false;
    // A request made while it is still starting is dropped: ask again.
    for (int attempt = 0; attempt < 25 && !answered; ++attempt) {
        sendToRoot(display, probe, "_NET_REQUEST_FRAME_EXTENTS", 0);
        answered = waitUntil([&] { return frameExtents(display, probe, &extents); }, 200);
    }
    XDestroyWindow(display, probe);
    XSync(display, False);
    return answered || !supports(display, "_NET_REQUEST_FRAME_EXTENTS");
}

const long fromPager = 2;  // EWMH source indication: a pager or task bar, acting for the user

}  // namespace

pid_t startWindowManager(const std::string& name, const std::string& display, Display* user,
                         const std::string& home, bool untilReady) {
    mkdir(home.c_str(), 0755);
    setenv("HOME", home.c_str(), 1);
    std::vector<std::string> command = {name};
    if (name == "i3") {
        std::string config = home + "/i3.conf";
        std::ofstream(config) << "# i3 config file (v4)\nfont fixed\n";
        command = {"i3", "-c", config};
    }
    pid_t manager = spawnCommand(command, display, home + "/manager.log");
    if (!waitUntil([&] { return managerRuns(user); }, 10000) || (untilReady && !answersRequests(user))) {
        stopProgram(manager);
        return -1;
    }
    return manager;
}

pid_t startCompositor(const std::string& display, Display* user) {
    pid_t compositor = spawnCommand({"xcompmgr"}, display);
    Atom selection = XInternAtom(user, ("_NET_WM_CM_S" + std::to_string(DefaultScreen(user))).c_str(), False);
    if (!waitUntil([&] { return XGetSelectionOwner(user, selection) != 0; }, 10000)) {
        stopProgram(compositor);
        return -1;
    }
    return compositor;
}

void stopProgram(pid_t& program) {
    if (program <= 0) return;
    kill(program, SIGTERM);
    if (waitForExit(program, 3000) == -1) kill(program, SIGKILL);
    program = -1;
}

void setWindowState(Display* display, Window window, bool add, const char* state, const char* second) {
    sendToRoot(display, window, "_NET_WM_STATE", add ? 1 : 0, long(XInternAtom(display, state, False)),
               second ? long(XInternAtom(display, second, False)) : 0, fromPager);
}

void minimizeWindow(Display* display, Window window) {
    sendToRoot(display, window, "WM_CHANGE_STATE", IconicState);
}

void activateWindow(Display* display, Window window) {
    sendToRoot(display, window, "_NET_ACTIVE_WINDOW", fromPager, CurrentTime);
}

void closeWindow(Display* display, Window window) {
    sendToRoot(display, window, "_NET_CLOSE_WINDOW", CurrentTime, fromPager);
}

long windowState(Display* display, Window window) {
    Atom wmState = XInternAtom(display, "WM_STATE", False), type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long state = 0;
    if (XGetWindowProperty(display, window, wmState, 0, 2, False, wmState, &type, &format, &count, &after, &data) ==
            Success &&
        data && count >= 1)
        state = reinterpret_cast<long*>(data)[0];
    if (data) XFree(data);
    return state;
}

bool frameExtents(Display* display, Window window, Extents* extents) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_FRAME_EXTENTS", False), 0, 4, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && count == 4) {
        long* values = reinterpret_cast<long*>(data);
        *extents = Extents{int(values[0]), int(values[1]), int(values[2]), int(values[3])};
        found = true;
    }
    if (data) XFree(data);
    return found;
}

Window activeWindow(Display* display) {
    return windowProperty(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW");
}

Window frameOf(Display* display, Window window) {
    Window root = DefaultRootWindow(display);
    for (;;) {
        Window rootReturn, parent, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count)) return window;
        if (children) XFree(children);
        if (parent == root || !parent) return window;
        window = parent;
    }
}
