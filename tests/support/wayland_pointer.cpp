// A mouse for tests under a wlroots compositor: moves the pointer and
// presses its left button through the virtual pointer protocol, as a user's
// hand would, on the compositor that WAYLAND_DISPLAY names.
//
//   wayland-pointer WIDTH HEIGHT [COMMAND...]
//
// Positions are in the output's own coordinates, WIDTH x HEIGHT being its
// extent. The commands are "move X Y", "press" and "release". Given as
// arguments, they are carried out in turn; otherwise the helper says
// "ready" once its device is in place, then reads them a line at a time
// from standard input and answers each "ok" once the compositor has taken
// it in, or "error" with why. A button still held when the helper ends is
// released with it.
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <time.h>
#include <vector>

namespace {

zwlr_virtual_pointer_manager_v1* manager;
wl_seat* seat;

void announce(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}

void withdraw(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {announce, withdraw};

uint32_t milliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

struct Pointer {
    wl_display* display;
    zwlr_virtual_pointer_v1* device;
    uint32_t width, height;
    bool held;
};

// Carries out one command; an empty answer when it went through.
std::string carryOut(Pointer& pointer, const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "move") {
        long x = -1, y = -1;
        words >> x >> y;
        if (x < 0 || y < 0 || x > long(pointer.width) || y > long(pointer.height))
            return "a position within 0..WIDTH, 0..HEIGHT is wanted: " + line;
        zwlr_virtual_pointer_v1_motion_absolute(pointer.device, milliseconds(), uint32_t(x), uint32_t(y),
                                                pointer.width, pointer.height);
    } else if (verb == "press" || verb == "release") {
        pointer.held = verb == "press";
        zwlr_virtual_pointer_v1_button(pointer.device, milliseconds(), BTN_LEFT,
                                       pointer.held ? WL_POINTER_BUTTON_STATE_PRESSED
                                                    : WL_POINTER_BUTTON_STATE_RELEASED);
    } else {
        return "unknown command: " + line;
    }
    zwlr_virtual_pointer_v1_frame(pointer.device);
    // Answered only once the compositor has read it: a test that goes on
    // to look at the screen then asks after what the input did.
    if (wl_display_roundtrip(pointer.display) < 0) return "the compositor's connection failed";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::atol(argv[1]) <= 0 || std::atol(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: wayland-pointer WIDTH HEIGHT [move X Y | press | release]...\n");
        return 2;
    }
    Pointer pointer{wl_display_connect(nullptr), nullptr, uint32_t(std::atol(argv[1])), uint32_t(std::atol(argv[2])),
                    false};
    if (!pointer.display) {
        std::fprintf(stderr, "wayland-pointer: cannot connect to the Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(pointer.display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(pointer.display);
    if (!manager) {
        std::fprintf(stderr, "wayland-pointer: the compositor offers no virtual pointers\n");
        return 1;
    }
    pointer.device = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(pointer.display);

    int status = 0;
    if (argc > 3) {
        // Arguments: split into commands at each verb.
        std::vector<std::string> commands;
        for (int i = 3; i < argc; ++i) {
            std::string word = argv[i];
            if (commands.empty() || word == "move" || word == "press" || word == "release") commands.push_back(word);
            else commands.back() += " " + word;
        }
        for (const std::string& command : commands) {
            std::string failure = carryOut(pointer, command);
            if (failure.empty()) continue;
            std::fprintf(stderr, "wayland-pointer: %s\n", failure.c_str());
            status = 1;
            break;
        }
    } else {
        std::cout << "ready" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.empty()) continue;
            std::string failure = carryOut(pointer, line);
            std::cout << (failure.empty() ? "ok" : "error " + failure) << std::endl;
        }
    }
    if (pointer.held) carryOut(pointer, "release");
    zwlr_virtual_pointer_v1_destroy(pointer.device);
    wl_display_roundtrip(pointer.display);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    if (seat) wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(pointer.display);
    return status;
}
