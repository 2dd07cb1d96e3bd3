// A finger for tests under KDE's compositor: touches the screen through its
// fake input protocol, which the compositor takes as a touch screen's own
// events and sends on to the window under the finger as wl_touch events.
//
//   wayland-touch COMMAND...
//
// The commands, carried out in turn: "down X Y" (in the compositor's
// coordinates), "move X Y", "up", "cancel", and "down2 X Y" / "up2", a
// second finger beside the first. Each is answered only once the compositor
// has taken it in, so that what the test looks at next already shows it.
#include "fake-input-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

org_kde_kwin_fake_input* fakeInput;

void announce(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 2)
        fakeInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 2));
}

void withdraw(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {announce, withdraw};

// Carries out the command that starts at words[at], moving `at` past it;
// an empty answer when it went through.
std::string carryOut(const std::vector<std::string>& words, size_t& at) {
    const std::string verb = words[at++];
    auto position = [&](wl_fixed_t* x, wl_fixed_t* y) {
        if (at + 2 > words.size()) return false;
        char* end = nullptr;
        double across = std::strtod(words[at].c_str(), &end);
        if (*end) return false;
        double down = std::strtod(words[at + 1].c_str(), &end);
        if (*end || across < 0 || down < 0) return false;
        at += 2;
        *x = wl_fixed_from_double(across);
        *y = wl_fixed_from_double(down);
        return true;
    };
    wl_fixed_t x, y;
    if (verb == "down" || verb == "down2" || verb == "move") {
        if (!position(&x, &y)) return verb + " wants X Y, two numbers of at least 0";
        uint32_t finger = verb == "down2" ? 1 : 0;
        if (verb == "move")
            org_kde_kwin_fake_input_touch_motion(fakeInput, finger, x, y);
        else
            org_kde_kwin_fake_input_touch_down(fakeInput, finger, x, y);
    } else if (verb == "up" || verb == "up2") {
        org_kde_kwin_fake_input_touch_up(fakeInput, verb == "up2" ? 1 : 0);
    } else if (verb == "cancel") {
        org_kde_kwin_fake_input_touch_cancel(fakeInput);
    } else {
        return "unknown command: " + verb;
    }
    org_kde_kwin_fake_input_touch_frame(fakeInput);
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wayland-touch [down X Y | down2 X Y | move X Y | up | up2 | cancel]...\n");
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "wayland-touch: cannot connect to the Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!fakeInput) {
        std::fprintf(stderr, "wayland-touch: the compositor offers no fake input (version 2, with touch)\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fakeInput, "wayland-touch", "a test's finger on the touch screen");
    std::vector<std::string> words(argv + 1, argv + argc);
    int status = 0;
    for (size_t at = 0; at < words.size() && status == 0;) {
        std::string failure = carryOut(words, at);
        if (!failure.empty()) {
            std::fprintf(stderr, "wayland-touch: %s\n", failure.c_str());
            status = 1;
        } else if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "wayland-touch: the compositor's connection failed\n");
            status = 1;
        }
    }
    org_kde_kwin_fake_input_destroy(fakeInput);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return status;
}
