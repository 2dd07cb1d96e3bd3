#include "desktop.h"

#include "x_server.h"
#include "x_user.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

namespace {

Window windowProperty(Display* display, Window window, const char* name) {
    std::vector<long> items = property32(display, window, name, XA_WINDOW, 1);
    return items.size() == 1 ? Window(items[0]) : 0;
}

bool managerRuns(Display* display) {
    Window check = windowProperty(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    return check && windowProperty(display, check, "_NET_SUPPORTING_WM_CHECK") == check;
}

bool supports(Display* display, const char* hint) {
    std::vector<long> atoms = property32(display, DefaultRootWindow(display), "_NET_SUPPORTED", XA_ATOM, 4096);
    return std::find(atoms.begin(), atoms.end(), long(XInternAtom(display, hint, False))) != atoms.end();
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
    } else if (name == "mutter") {
        // GNOME's manager in its X11 mode wants a session bus: one of its
        // own, ended with it.
        command = {"sh", "-c",
                   "bus=unix:path=\"$HOME/session-bus-$$\"; "
                   "daemon=$(dbus-daemon --session --fork --print-pid --address=\"$bus\") || exit 1; "
                   "DBUS_SESSION_BUS_ADDRESS=\"$bus\" mutter --x11 --replace & manager=$!; "
                   "trap 'kill $manager $daemon' TERM; wait $manager; kill $daemon"};
    }
    pid_t manager = spawnCommand(command, display, home + "/manager.log");
    if (!waitUntil([&] { return managerRuns(user); }, 10000) || (untilReady && !answersRequests(user))) {
        stopProgram(manager);
        return -1;
    }
    return manager;
}

bool managesNewWindows(Display* user, int timeoutMs) {
    Window probe = XCreateSimpleWindow(user, DefaultRootWindow(user), 0, 0, 10, 10, 0, 0, 0);
    XMapWindow(user, probe);
    XSync(user, False);
    bool managed = waitUntil([&] { return windowState(user, probe) == NormalState; }, timeoutMs);
    XDestroyWindow(user, probe);
    XSync(user, False);
    return managed;
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

bool inWindowState(Display* display, Window window, const char* state) {
    std::vector<long> states = property32(display, window, "_NET_WM_STATE", XA_ATOM, 64);
    return std::find(states.begin(), states.end(), long(XInternAtom(display, state, False))) != states.end();
}

long windowState(Display* display, Window window) {
    std::vector<long> state = property32(display, window, "WM_STATE", XInternAtom(display, "WM_STATE", False), 2);
    return state.empty() ? 0 : state[0];
}

bool frameExtents(Display* display, Window window, Extents* extents) {
    std::vector<long> sides = property32(display, window, "_NET_FRAME_EXTENTS", XA_CARDINAL, 4);
    if (sides.size() != 4) return false;
    *extents = Extents{int(sides[0]), int(sides[1]), int(sides[2]), int(sides[3])};
    return true;
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
