#include "sway.h"

#include "json.h"
#include "x_server.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

std::string firstLine(const std::string& path) {
    std::string text = fileText(path);
    return text.substr(0, text.find('\n'));
}

const Json* nodeShowing(const Json& node, double xWindow) {
    const Json* window = node.member("window");
    if (window && window->number == xWindow) return &node;
    for (const char* children : {"nodes", "floating_nodes"})
        if (const Json* list = node.member(children))
            for (const Json& child : list->items)
                if (const Json* found = nodeShowing(child, xWindow)) return found;
    return nullptr;
}

// Whether sway shows its output at the scale asked for: clients that start
// before would see another size.
bool outputReady(const SwaySession& sway, int scale) {
    return waitUntil(
        [&] {
            std::string text;
            Json outputs;
            if (!swayMessage(sway, "-r -t get_outputs", &text) || !JsonReader(text).read(outputs)) return false;
            for (const Json& output : outputs.items) {
                const Json* rect = output.member("rect");
                if (rect && output.numberOf("scale") == scale && rect->numberOf("width") == 1280 / scale)
                    return true;
            }
            return false;
        },
        20000);
}

}  // namespace

bool swayInstalled() { return inPath("sway") && inPath("swaymsg") && inPath("Xwayland"); }

SwaySession startSway(const std::string& parent, std::string* why, const SwayOptions& options) {
    SwaySession sway;
    std::string pattern = parent + "sway-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        *why = "could not make a runtime directory under " + parent;
        return sway;
    }
    sway.directory = pattern;
    std::string dir = sway.directory;
    // sway will not run as root. A test run as root starts it as nobody, in
    // a runtime directory of nobody's (root reaches into it all the same);
    // run as anyone else, sway is the test's own user.
    std::vector<std::string> command = {"env", "-C", dir, "sway", "-c", dir + "/config"};
    std::string grant;
    if (getuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            *why = "no user nobody to run sway as";
            stopSway(sway);
            return sway;
        }
        command.insert(command.begin(), {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                         "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});
        // XWayland as sway starts it has no authorization file and lets in
        // local clients of its own user only. A client of that user, started
        // by sway, lets root in too, so that the viewer runs as the test's
        // own user straight from the build tree and the test's connection
        // can send XTEST input.
        if (options.xwayland) grant = "xhost +si:localuser:root >'" + dir + "/xhost.log' 2>&1 || exit 1\n";
    }
    // What sway gives the programs it starts names its displays. XWayland
    // starts when its first client connects; once the announcement is
    // there, the display takes connections.
    std::ofstream(dir + "/announce.sh") << "echo \"$WAYLAND_DISPLAY\" >'" << dir << "/wayland'\n"
                                        << grant << "echo \"$DISPLAY\" >'" << dir << "/display.new' && mv '"
                                        << dir << "/display.new' '" << dir << "/display'\n";
    std::ofstream(dir + "/config") << (options.xwayland ? "xwayland enable\n" : "xwayland disable\n")
                                   << "output HEADLESS-1 resolution 1280x1024 scale " << options.scale << "\n"
                                   << options.extraConfig << "exec sh " << dir << "/announce.sh\n";
    ChildSetup setup;
    setup.errorPath = dir + "/sway.log";
    setup.environment = {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                         "XDG_RUNTIME_DIR=" + dir, "HOME=" + dir, "WAYLAND_DISPLAY="};
    sway.pid = spawnCommand(command, "", setup);
    bool announced = waitUntil(
        [&] { return !isRunning(sway.pid) || access((dir + "/display").c_str(), R_OK) == 0; }, 20000) &&
        isRunning(sway.pid);
    std::string display = firstLine(dir + "/display");
    std::string wayland = firstLine(dir + "/wayland");
    if (DIR* listing = opendir(dir.c_str())) {
        while (dirent* entry = readdir(listing))
            if (std::string(entry->d_name).rfind("sway-ipc.", 0) == 0) sway.socket = dir + "/" + entry->d_name;
        closedir(listing);
    }
    // The test's user must be let in: a root without the power to override
    // file permissions would not be.
    bool open = !wayland.empty() && access((dir + "/" + wayland).c_str(), R_OK | W_OK) == 0;
    if (!announced || (options.xwayland && display.empty()) || !open || sway.socket.empty() ||
        !outputReady(sway, options.scale)) {
        *why = std::string(isRunning(sway.pid) ? "sway runs" : "sway ended") + ", display '" + display +
               "', Wayland display '" + wayland + (open ? "'" : "' (not open to this user)") + ", socket '" +
               sway.socket + "'; sway's log:\n" + fileText(dir + "/sway.log") + "\nxhost's:\n" +
               fileText(dir + "/xhost.log");
        stopSway(sway);
        return sway;
    }
    sway.display = display;
    sway.wayland = wayland;
    return sway;
}

void stopSway(SwaySession& sway) {
    stopProgram(sway.pid);  // XWayland ends with it
    if (!sway.directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(sway.directory, ignored);
    }
    sway.directory.clear();
    sway.display.clear();
    sway.wayland.clear();
}

bool swayMessage(const SwaySession& sway, const std::string& arguments, std::string* output) {
    // Bounded: a sway that hangs must fail the test, not stall it.
    FILE* pipe = popen(("timeout 20 swaymsg -s '" + sway.socket + "' " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return false;
    output->clear();
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, got);
    return pclose(pipe) == 0;
}

bool findSwayWindow(const SwaySession& sway, unsigned long xWindow, SwayWindow* found) {
    std::string text;
    Json tree;
    if (!swayMessage(sway, "-r -t get_tree", &text) || !JsonReader(text).read(tree)) return false;
    const Json* node = nodeShowing(tree, double(xWindow));
    const Json* rect = node ? node->member("rect") : nullptr;
    const Json* windowRect = node ? node->member("window_rect") : nullptr;
    if (!rect || !windowRect) return false;
    found->id = long(node->numberOf("id"));
    found->fullscreen = node->numberOf("fullscreen_mode") != 0;
    found->shown = WindowGeometry{int(rect->numberOf("x") + windowRect->numberOf("x")),
                                  int(rect->numberOf("y") + windowRect->numberOf("y")),
                                  int(windowRect->numberOf("width")), int(windowRect->numberOf("height"))};
    return true;
}
