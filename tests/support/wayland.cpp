#include "wayland.h"

#include "json.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs a client of the session in `directory` (if given) and collects its
// standard output; false, with why (and its errors), if it fails or does
// not end within the time, when it is killed.
bool runClient(const WaylandSession& session, const std::vector<std::string>& command, std::string* output,
               std::string* why, const std::string& directory = "", int timeoutMs = 20000) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        *why = "no pipe";
        return false;
    }
    // Errors into a file, apart from the output, which may be a picture.
    ChildSetup setup = waylandClientSetup(session, session.directory + "/" + command[0] + "-errors.txt");
    pid_t child = forkChild();
    if (child == 0) {
        dup2(ends[1], 1);
        int errors = open(setup.errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(errors, 2);
        if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
        unsetenv("DISPLAY");
        for (const std::string& variable : setup.environment) putenv(strdup(variable.c_str()));
        execCommand(command);
    }
    close(ends[1]);
    output->clear();
    long long deadline = monotonicMs() + timeoutMs;
    bool ended = false;
    while (monotonicMs() < deadline) {
        pollfd descriptor{ends[0], POLLIN, 0};
        if (poll(&descriptor, 1, 100) <= 0) continue;
        char buffer[65536];
        ssize_t got = read(ends[0], buffer, sizeof buffer);
        if (got > 0) output->append(buffer, size_t(got));
        else if (got == 0 || errno != EINTR) {
            ended = true;
            break;
        }
    }
    close(ends[0]);
    int status = waitForExit(child, ended ? int(std::max(0LL, deadline - monotonicMs())) : 0);
    if (status == 0) return true;
    *why = command[0] + (status == -1 ? " did not end in time" : " failed with " + std::to_string(status)) + ": " +
           fileText(setup.errorPath).substr(0, 2000);
    return false;
}

// sway's windows: nodes that show a client's surface.
void collectSwayWindows(const Json& node, std::vector<ToplevelWindow>& windows) {
    const Json* shell = node.member("shell");
    const Json* rect = node.member("rect");
    const Json* windowRect = node.member("window_rect");
    // Until sway lays a new window out, its node has no border, which this
    // harness's sway gives every window, and the rect of an empty tile.
    const Json* border = node.member("border");
    bool laidOut = border && border->text != "none";
    if (shell && shell->quoted && rect && windowRect && laidOut) {
        ToplevelWindow window;
        window.id = long(node.numberOf("id"));
        window.pid = long(node.numberOf("pid"));
        const Json* title = node.member("name");
        const Json* appId = node.member("app_id");
        window.title = title && title->quoted ? title->text : "";
        window.appId = appId && appId->quoted ? appId->text : "";
        window.shell = shell->text;
        const Json* focused = node.member("focused");
        window.focused = focused && focused->text == "true";
        // sway's rect leaves out the title bar; the window's is within it.
        window.shown = WindowGeometry{int(rect->numberOf("x") + windowRect->numberOf("x")),
                                      int(rect->numberOf("y") + windowRect->numberOf("y")),
                                      int(windowRect->numberOf("width")), int(windowRect->numberOf("height"))};
        windows.push_back(window);
    }
    for (const char* children : {"nodes", "floating_nodes"})
        if (const Json* list = node.member(children))
            for (const Json& child : list->items) collectSwayWindows(child, windows);
}

// weston's scene graph, as weston-debug prints it, has a line for each
// view, such as
//   View 0 (role xdg_toplevel, PID 12, surface ID 9, top-level window 'T' of A, 0x55d8):
// and below it
//   position: (273, 736) -> (523, 986)
void collectWestonWindows(const std::string& graph, std::vector<ToplevelWindow>& windows) {
    std::istringstream lines(graph);
    std::string line;
    ToplevelWindow* view = nullptr;
    while (std::getline(lines, line)) {
        size_t at = line.find("View ");
        if (at != std::string::npos && line.find("(role xdg_toplevel, PID ") != std::string::npos) {
            ToplevelWindow window;
            window.shell = "xdg_shell";
            window.pid = std::atol(line.c_str() + line.find("PID ") + 4);
            size_t surface = line.find("surface ID ");
            window.id = surface == std::string::npos ? 0 : std::atol(line.c_str() + surface + 11);
            // The label, from "top-level window" to the view's address.
            size_t label = line.find("top-level window");
            size_t end = line.rfind(", 0x");
            if (label != std::string::npos && end != std::string::npos && end > label) {
                std::string rest = line.substr(label + 16, end - label - 16);
                if (rest.rfind(" '", 0) == 0) {
                    size_t close = rest.rfind('\'');
                    window.title = rest.substr(2, close - 2);
                    rest = rest.substr(close + 1);
                }
                if (rest.rfind(" of ", 0) == 0) window.appId = rest.substr(4);
            }
            windows.push_back(window);
            view = &windows.back();
            continue;
        }
        if (line.find("View ") != std::string::npos || line.find("Layer ") != std::string::npos) view = nullptr;
        int x0, y0, x1, y1;
        if (view && std::sscanf(line.c_str(), " position: (%d, %d) -> (%d, %d)", &x0, &y0, &x1, &y1) == 4) {
            view->shown = WindowGeometry{x0, y0, x1 - x0, y1 - y0};
            view = nullptr;
        }
    }
}

std::string westonSceneGraph(const WaylandSession& session, std::string* why) {
    std::string graph;
    return runClient(session, {"weston-debug", "scene-graph"}, &graph, why) ? graph : "";
}

bool westonReady(const WaylandSession& session) {
    std::string ignored;
    // The shell's background is drawn: a picture taken now is the desktop's.
    return westonSceneGraph(session, &ignored).find("background for output") != std::string::npos;
}

WaylandSession startWeston(const std::string& parent, std::string* why) {
    WaylandSession session;
    session.compositor = Compositor::weston;
    std::string pattern = parent + "weston-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *why = "could not make a runtime directory under " + parent;
        return session;
    }
    session.directory = pattern;
    std::string dir = session.directory;
    // A plain background of one colour, no panel, nothing animated and no
    // screen lock, so that a picture shows windows at once and nothing else.
    std::ofstream(dir + "/weston.ini") << "[core]\nidle-time=0\n"
                                       << "[shell]\nbackground-color=0xff203040\npanel-position=none\n"
                                       << "locking=false\nanimation=none\nclose-animation=none\n"
                                       << "startup-animation=none\nfocus-animation=none\n"
                                       << "[input-method]\npath=\n";
    std::string socket = "wayland-test";
    ChildSetup setup;
    setup.errorPath = dir + "/weston.log";
    setup.environment = {"XDG_RUNTIME_DIR=" + dir, "HOME=" + dir, "WAYLAND_DISPLAY="};
    // --debug lets clients take screenshots and read the scene graph.
    session.pid = spawnCommand({"weston", "--config=" + dir + "/weston.ini", "--backend=headless-backend.so",
                                "--use-gl", "--width=1280", "--height=1024", "--idle-time=0", "--socket=" + socket,
                                "--debug"},
                               "", setup);
    session.wayland = socket;
    session.socketPath = dir + "/" + socket;
    session.width = 1280;
    session.height = 1024;
    bool ready = waitUntil(
        [&] {
            return !isRunning(session.pid) ||
                   (access(session.socketPath.c_str(), R_OK | W_OK) == 0 && westonReady(session));
        },
        20000) &&
        isRunning(session.pid);
    if (!ready) {
        *why = std::string(isRunning(session.pid) ? "weston runs" : "weston ended") + ", socket " +
               session.socketPath + "; its log:\n" + fileText(dir + "/weston.log");
        stopWayland(session);
    }
    return session;
}

// Reads a PNG file as 0xRRGGBB pixels.
bool readPng(const std::string& path, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    picture->width = int(image.width);
    picture->height = int(image.height);
    picture->pixels.resize(size_t(picture->width) * size_t(picture->height));
    for (size_t i = 0; i < picture->pixels.size(); ++i)
        picture->pixels[i] = uint32_t(bytes[3 * i]) << 16 | uint32_t(bytes[3 * i + 1]) << 8 | bytes[3 * i + 2];
    return true;
}

// Reads a binary PPM (P6, 8 bits a channel), as grim writes it.
bool readPpm(const std::string& text, Picture* picture) {
    std::istringstream header(text);
    std::string magic;
    int maximum = 0;
    header >> magic >> picture->width >> picture->height >> maximum;
    if (magic != "P6" || maximum != 255 || picture->width <= 0 || picture->height <= 0) return false;
    size_t start = size_t(header.tellg()) + 1;  // one whitespace character ends the header
    size_t count = size_t(picture->width) * size_t(picture->height);
    if (text.size() < start + 3 * count) return false;
    picture->pixels.resize(count);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data() + start);
    for (size_t i = 0; i < count; ++i)
        picture->pixels[i] = uint32_t(bytes[3 * i]) << 16 | uint32_t(bytes[3 * i + 1]) << 8 | bytes[3 * i + 2];
    return true;
}

// Reads the helper's next line, for at most 20 s; whether it is `expected`.
bool readAnswer(VirtualPointer& pointer, const std::string& expected, std::string* why) {
    std::string answer;
    long long deadline = monotonicMs() + 20000;
    while (monotonicMs() < deadline) {
        pollfd descriptor{pointer.channel, POLLIN, 0};
        if (poll(&descriptor, 1, 100) <= 0) continue;
        char c;
        if (read(pointer.channel, &c, 1) != 1) break;
        if (c == '\n') {
            if (answer == expected) return true;
            break;
        }
        answer += c;
    }
    *why = "wayland-pointer answered '" + answer + "'";
    return false;
}

bool seatHasAKeyboard(const WaylandSession& session) {
    const int keyboardCapability = 2;  // wl_seat's
    std::string text;
    Json seats;
    if (!swayMessage(session, "-r -t get_seats", &text) || !JsonReader(text).read(seats)) return false;
    for (const Json& seat : seats.items)
        if (int(seat.numberOf("capabilities")) & keyboardCapability) return true;
    return false;
}

}  // namespace

std::string missingWaylandTools(Compositor compositor) {
    std::vector<std::string> tools = compositor == Compositor::sway
                                         ? std::vector<std::string>{"sway", "swaymsg", "wtype", "grim"}
                                         : std::vector<std::string>{"weston", "weston-debug", "weston-screenshooter"};
    std::string missing;
    for (const std::string& tool : tools)
        if (!inPath(tool)) missing += (missing.empty() ? "" : " ") + tool;
    if (compositor == Compositor::sway && access(WAYLAND_POINTER_BINARY, X_OK) != 0)
        missing += (missing.empty() ? "" : " ") + std::string(WAYLAND_POINTER_BINARY);
    return missing;
}

WaylandSession startWayland(Compositor compositor, const std::string& parent, std::string* why, int scale) {
    if (compositor == Compositor::weston) {
        if (scale == 1) return startWeston(parent, why);
        *why = "weston is started at scale 1 only";
        return WaylandSession();
    }
    WaylandSession session;
    SwayOptions options;
    options.xwayland = false;
    options.scale = scale;
    static_cast<SwaySession&>(session) = startSway(parent, why, options);
    if (session.wayland.empty()) return session;
    session.compositor = Compositor::sway;
    session.socketPath = session.directory + "/" + session.wayland;
    session.width = 1280 / scale;
    session.height = 1024 / scale;
    session.scale = scale;
    // A client takes the seat's keyboard once the seat offers one. wtype's
    // own keyboard lasts only as long as its keys: a client slower than
    // that (under load) never saw it, and lost the keys. A keyboard held
    // from the start, as a desktop has, is there before the client is.
    session.keyboard = spawnWaylandClient(session, {"wtype", "-s", "2000000000"});
    if (!waitUntil([&] { return !isRunning(session.keyboard) || seatHasAKeyboard(session); }, 20000) ||
        !isRunning(session.keyboard)) {
        *why = "wtype's keyboard did not reach the seat; sway's log:\n" + fileText(session.directory + "/sway.log");
        stopWayland(session);
    }
    return session;
}

void stopWayland(WaylandSession& session) {
    stopProgram(session.keyboard);
    stopSway(session);  // the compositor's process and runtime directory, whichever it is
    session.socketPath.clear();
}

ChildSetup waylandClientSetup(const WaylandSession& session, const std::string& errorPath) {
    ChildSetup setup;
    setup.errorPath = errorPath;
    setup.environment = {"XDG_RUNTIME_DIR=" + session.directory, "WAYLAND_DISPLAY=" + session.wayland};
    return setup;
}

pid_t spawnWaylandClient(const WaylandSession& session, const std::vector<std::string>& command,
                         const std::string& errorPath) {
    return spawnCommand(command, "", waylandClientSetup(session, errorPath));
}

std::vector<ToplevelWindow> toplevelWindows(const WaylandSession& session) {
    std::vector<ToplevelWindow> windows;
    std::string text, why;
    if (session.compositor == Compositor::weston) {
        collectWestonWindows(westonSceneGraph(session, &why), windows);
        return windows;
    }
    Json tree;
    if (swayMessage(session, "-r -t get_tree", &text) && JsonReader(text).read(tree))
        collectSwayWindows(tree, windows);
    return windows;
}

bool findToplevel(const WaylandSession& session, const ToplevelTest& wanted, ToplevelWindow* found) {
    for (const ToplevelWindow& window : toplevelWindows(session))
        if (wanted(window)) {
            *found = window;
            return true;
        }
    return false;
}

bool waitForToplevel(const WaylandSession& session, const ToplevelTest& wanted, ToplevelWindow* found,
                     int timeoutMs) {
    return waitUntil([&] { return findToplevel(session, wanted, found); }, timeoutMs);
}

bool closeToplevel(const WaylandSession& session, const ToplevelWindow& window, std::string* why) {
    if (session.compositor != Compositor::sway) {
        *why = "only sway is asked to close windows";
        return false;
    }
    std::string reply;
    if (swayMessage(session, "'[con_id=" + std::to_string(window.id) + "] kill'", &reply)) return true;
    *why = "swaymsg: " + reply;
    return false;
}

bool typeKeys(const WaylandSession& session, const std::vector<std::string>& keysyms, std::string* why) {
    if (session.compositor != Compositor::sway) {
        *why = "weston has no seat here: there is no keyboard to type on";
        return false;
    }
    // wtype sends its keys at once after making its virtual keyboard; sway
    // takes some 20 ms to let that keyboard's keys through (the first key
    // is lost without the pause), so it waits 300 ms first.
    std::vector<std::string> command = {"wtype", "-s", "300"};
    for (const std::string& keysym : keysyms) {
        command.push_back("-k");
        command.push_back(keysym);
    }
    std::string output;
    return runClient(session, command, &output, why);
}

bool holdKey(const WaylandSession& session, const std::string& keysym, int milliseconds, std::string* why) {
    if (session.compositor != Compositor::sway) {
        *why = "weston has no seat here: there is no keyboard to type on";
        return false;
    }
    std::string output;
    return runClient(session, {"wtype", "-s", "300", "-P", keysym, "-s", std::to_string(milliseconds), "-p", keysym},
                     &output, why);
}

bool openVirtualPointer(const WaylandSession& session, VirtualPointer* pointer, std::string* why) {
    if (session.compositor != Compositor::sway) {
        *why = "weston has no seat here: there is no pointer to move";
        return false;
    }
    // One socket both ways, so that writing to a helper that is gone fails
    // rather than raising SIGPIPE.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        *why = "no socket pair";
        return false;
    }
    ChildSetup setup = waylandClientSetup(session);
    pid_t child = forkChild();
    if (child == 0) {
        dup2(ends[1], 0);
        dup2(ends[1], 1);
        unsetenv("DISPLAY");
        for (const std::string& variable : setup.environment) putenv(strdup(variable.c_str()));
        std::string width = std::to_string(session.width), height = std::to_string(session.height);
        execl(WAYLAND_POINTER_BINARY, "wayland-pointer", width.c_str(), height.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    *pointer = VirtualPointer{child, ends[0]};
    if (readAnswer(*pointer, "ready", why)) return true;
    closeVirtualPointer(*pointer);
    return false;
}

bool pointerCommand(VirtualPointer& pointer, const std::string& command, std::string* why) {
    std::string line = command + "\n";
    if (send(pointer.channel, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
        *why = "wayland-pointer is gone";
        return false;
    }
    if (readAnswer(pointer, "ok", why)) return true;
    *why += " to " + command;
    return false;
}


void closeVirtualPointer(VirtualPointer& pointer) {
    // It ends at the end of its input.
    if (pointer.channel >= 0) shutdown(pointer.channel, SHUT_WR);
    if (pointer.pid > 0) waitForExit(pointer.pid, 20000);
    if (pointer.channel >= 0) close(pointer.channel);
    pointer = VirtualPointer();
}

bool takeScreenshot(const WaylandSession& session, Picture* picture, std::string* why) {
    if (session.compositor == Compositor::sway) {
        std::string ppm;
        if (!runClient(session, {"grim", "-t", "ppm", "-"}, &ppm, why)) return false;
        if (readPpm(ppm, picture)) return true;
        *why = "grim wrote no picture: " + ppm.substr(0, 200);
        return false;
    }
    // weston's screenshooter writes a PNG file into the directory it runs in.
    std::string pattern = session.directory + "/shot-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *why = "no directory for the screenshot";
        return false;
    }
    std::string output;
    bool taken = runClient(session, {"weston-screenshooter"}, &output, why, pattern);
    std::string file;
    if (DIR* listing = opendir(pattern.c_str())) {
        while (dirent* entry = readdir(listing))
            if (std::string(entry->d_name).find(".png") != std::string::npos) file = pattern + "/" + entry->d_name;
        closedir(listing);
    }
    bool read = taken && !file.empty() && readPng(file, picture);
    if (taken && !read) *why = "weston-screenshooter left no picture that can be read: " + output;
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return read;
}

Picture cropPicture(const WaylandSession& session, const Picture& screen, const WindowGeometry& area) {
    // The screenshot's pixels per unit of the output's coordinates.
    int scale = session.width > 0 ? screen.width / session.width : 1;
    Picture part;
    int left = std::max(0, area.x * scale), top = std::max(0, area.y * scale);
    int right = std::min(screen.width, (area.x + area.width) * scale);
    int bottom = std::min(screen.height, (area.y + area.height) * scale);
    if (right <= left || bottom <= top) return part;
    part.width = right - left;
    part.height = bottom - top;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) part.pixels.push_back(screen.pixels[size_t(y) * size_t(screen.width) + size_t(x)]);
    return part;
}

bool windowPicture(const WaylandSession& session, const ToplevelWindow& window, Picture* picture, std::string* why) {
    Picture screen;
    if (!takeScreenshot(session, &screen, why)) return false;
    *picture = cropPicture(session, screen, window.shown);
    if (!picture->pixels.empty()) return true;
    *why = "the window is not on the output";
    return false;
}

Rgb pixelOf(const Picture& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height ||
        picture.pixels.size() != size_t(picture.width) * size_t(picture.height))
        return Rgb{-1, -1, -1};
    uint32_t value = picture.pixels[size_t(y) * size_t(picture.width) + size_t(x)];
    return Rgb{int(value >> 16 & 0xff), int(value >> 8 & 0xff), int(value & 0xff)};
}
