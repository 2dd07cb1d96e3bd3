#include "nested_wayland.h"

#include <X11/extensions/XTest.h>
#include <wayland-client.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// What a client of the display is offered, as far as these tests need.
struct Offered {
    bool seat = false, output = false, shell = false;
};

void announce(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    auto* offered = static_cast<Offered*>(data);
    if (!std::strcmp(interface, "wl_seat")) offered->seat = true;
    if (!std::strcmp(interface, "wl_output")) offered->output = true;
    if (!std::strcmp(interface, "xdg_wm_base")) offered->shell = true;
}
void withdraw(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {announce, withdraw};

// Whether the display takes a connection and offers what a desktop's
// client finds there.
bool offersADesktop(const NestedDesktop& desktop) {
    std::string socket = desktop.directory + "/" + desktop.wayland;
    if (access(socket.c_str(), R_OK | W_OK) != 0) return false;
    wl_display* display = wl_display_connect(socket.c_str());
    if (!display) return false;
    Offered offered;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &offered);
    bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && offered.seat && offered.output && offered.shell;
}

// The distribution's kwin_wayland carries a file capability, which a
// container refuses to exec; a copy carries none.
std::string capabilityFreeCopy(const std::string& program, const std::string& directory) {
    std::string copy = directory + "/" + program;
    std::ifstream from(pathOf(program), std::ios::binary);
    std::ofstream to(copy, std::ios::binary);
    to << from.rdbuf();
    to.close();
    chmod(copy.c_str(), 0755);
    return copy;
}

std::vector<std::string> compositorCommand(const NestedDesktop& desktop) {
    switch (desktop.compositor) {
    case NestedCompositor::mutter:
        return {"mutter", "--wayland", "--nested", "--no-x11", "--wayland-display=" + desktop.wayland};
    case NestedCompositor::kwin:
        return {capabilityFreeCopy("kwin_wayland", desktop.directory), "--x11-display", desktop.x.display,
                "--width", std::to_string(desktop.width), "--height", std::to_string(desktop.height), "--scale",
                std::to_string(desktop.scale), "--socket", desktop.wayland, "--no-lockscreen"};
    case NestedCompositor::westonGl: {
        // One colour behind the windows, nothing animated, no screen lock.
        std::string config = desktop.directory + "/weston.ini";
        std::ofstream(config) << "[core]\nidle-time=0\n"
                              << "[shell]\nbackground-color=0xff203040\npanel-position=none\n"
                              << "locking=false\nanimation=none\nclose-animation=none\n"
                              << "startup-animation=none\nfocus-animation=none\n";
        return {"weston", "--config=" + config, "--backend=x11-backend.so", "--width=" + std::to_string(desktop.width),
                "--height=" + std::to_string(desktop.height), "--idle-time=0", "--socket=" + desktop.wayland};
    }
    }
    return {};
}

}  // namespace

const char* nestedName(NestedCompositor compositor) {
    switch (compositor) {
    case NestedCompositor::mutter: return "mutter";
    case NestedCompositor::kwin: return "kwin";
    case NestedCompositor::westonGl: return "weston_gl";
    }
    return "?";
}

std::string missingNestedTools(NestedCompositor compositor) {
    std::vector<std::string> wanted = {"Xvfb"};
    switch (compositor) {
    case NestedCompositor::mutter: wanted.insert(wanted.end(), {"mutter", "dbus-daemon"}); break;
    case NestedCompositor::kwin: wanted.insert(wanted.end(), {"kwin_wayland", "dbus-daemon"}); break;
    case NestedCompositor::westonGl: wanted.push_back("weston"); break;
    }
    std::string missing;
    for (const std::string& program : wanted)
        if (!inPath(program)) missing += (missing.empty() ? "" : " ") + program;
    return missing;
}

NestedDesktop startNested(NestedCompositor compositor, const std::string& parent, std::string* why, double scale) {
    NestedDesktop desktop;
    desktop.compositor = compositor;
    desktop.scale = scale;
    std::string pattern = parent + "nested-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *why = "could not make a runtime directory under " + parent;
        return desktop;
    }
    desktop.directory = pattern;
    desktop.x = startVirtualServer({"-screen", "0", std::to_string(desktop.pixelsWide()) + "x" +
                                                        std::to_string(desktop.pixelsHigh()) + "x24"});
    if (desktop.x.display.empty()) {
        *why = "Xvfb did not start";
        return desktop;
    }
    desktop.user = openUserConnection(desktop.x.display);
    desktop.wayland = "wayland-nested";
    std::string log = desktop.directory + "/compositor.log";
    // Nothing animated, as in weston's configuration: a window being
    // mapped, minimized or restored shows where it ends at once, rather than
    // steps of an animation that a loaded machine can hold still long enough
    // to look settled. GNOME's compositor reads it from its settings, KDE's
    // from its global configuration.
    std::filesystem::create_directories(desktop.directory + "/config/glib-2.0/settings");
    std::ofstream(desktop.directory + "/config/glib-2.0/settings/keyfile")
        << "[org/gnome/desktop/interface]\nenable-animations=false\n";
    std::ofstream(desktop.directory + "/config/kdeglobals") << "[KDE]\nAnimationDurationFactor=0\n";
    ChildSetup setup;
    setup.errorPath = log;
    setup.environment = {"XDG_RUNTIME_DIR=" + desktop.directory, "HOME=" + desktop.directory,
                         "XDG_CONFIG_HOME=" + desktop.directory + "/config", "WAYLAND_DISPLAY=",
                         "GSETTINGS_BACKEND=keyfile", "MUTTER_DEBUG_DUMMY_MODE_SPECS=" +
                                                         std::to_string(desktop.width) + "x" +
                                                         std::to_string(desktop.height),
                         "QT_QPA_PLATFORM=wayland", "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1"};
    // GNOME's and KDE's compositors want a session bus: one of their own,
    // a child of this process as the compositor is, so that both end with it.
    if (compositor != NestedCompositor::westonGl) {
        std::string bus = "unix:path=" + desktop.directory + "/session-bus";
        desktop.bus = spawnCommand({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, "",
                                   desktop.directory + "/bus.log");
        setup.environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus);
        waitUntil([&] { return access((desktop.directory + "/session-bus").c_str(), F_OK) == 0; }, 10000);
    }
    desktop.pid = spawnCommand(compositorCommand(desktop), desktop.x.display, setup);
    bool ready = waitUntil([&] { return !isRunning(desktop.pid) || offersADesktop(desktop); }, 30000) &&
                 isRunning(desktop.pid);
    if (!ready) {
        *why = std::string(nestedName(compositor)) + (isRunning(desktop.pid) ? " runs" : " ended") +
               " without offering a desktop on " + desktop.directory + "/" + desktop.wayland + "; its log:\n" +
               fileText(log).substr(0, 4000);
        stopNested(desktop);
        return desktop;
    }
    // Keys go where the pointer is on a server without a window manager:
    // on the compositor's window, which fills the screen.
    movePointer(desktop.user, desktop.pixelsWide() / 2, desktop.pixelsHigh() / 2);
    return desktop;
}

void stopNested(NestedDesktop& desktop) {
    stopProgram(desktop.pid);
    stopProgram(desktop.bus);
    if (desktop.user) XCloseDisplay(desktop.user);
    desktop.user = nullptr;
    stopVirtualServer(desktop.x);
    desktop.wayland.clear();
}

pid_t spawnNestedClient(const NestedDesktop& desktop, const std::vector<std::string>& command,
                        const std::string& errorPath, const std::vector<std::string>& environment) {
    ChildSetup setup;
    setup.errorPath = errorPath;
    setup.environment = {"XDG_RUNTIME_DIR=" + desktop.directory, "WAYLAND_DISPLAY=" + desktop.wayland};
    setup.environment.insert(setup.environment.end(), environment.begin(), environment.end());
    return spawnCommand(command, "", setup);
}

Picture screenPicture(const NestedDesktop& desktop) {
    Picture picture;
    std::vector<uint32_t> pixels =
        captureWindow(desktop.user, DefaultRootWindow(desktop.user), &picture.width, &picture.height);
    picture.pixels = std::move(pixels);
    return picture;
}

Region regionOf(const Picture& picture, Rgb colour, int tolerance) {
    Region region{picture.width, picture.height, 0, 0, 0};
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            if (!closeTo(pixelOf(picture, x, y), colour, tolerance)) continue;
            region.left = std::min(region.left, x);
            region.top = std::min(region.top, y);
            region.right = std::max(region.right, x + 1);
            region.bottom = std::max(region.bottom, y + 1);
            ++region.count;
        }
    if (!region.count) region = Region{};
    return region;
}

Picture cropTo(const Picture& picture, const Region& region) {
    Picture part;
    part.width = std::max(0, std::min(region.right, picture.width) - std::max(region.left, 0));
    part.height = std::max(0, std::min(region.bottom, picture.height) - std::max(region.top, 0));
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x)
            part.pixels.push_back(
                picture.pixels[size_t(region.top + y) * size_t(picture.width) + size_t(region.left + x)]);
    return part;
}

void pressChord(const NestedDesktop& desktop, const std::vector<unsigned long>& keysyms) {
    Display* display = desktop.user;
    std::vector<KeyCode> codes;
    for (unsigned long keysym : keysyms) codes.push_back(XKeysymToKeycode(display, keysym));
    for (KeyCode code : codes) XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) XTestFakeKeyEvent(display, *code, False, CurrentTime);
    XSync(display, False);
}
