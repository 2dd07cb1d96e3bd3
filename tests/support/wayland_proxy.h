// A Wayland proxy of the tests' own between a compositor and its clients,
// to play a compositor that says what no real one says. It passes every
// message and file descriptor both ways and lets a test change or drop the
// ones it picks; it knows which object is which from libwayland's own
// tables of the interfaces the layer uses (the core protocol's, xdg-shell's,
// xdg-decoration's, xdg-output's, the viewporter's and fractional scales').
// Messages to objects of any other interface pass unread.
#pragma once

#include "wayland.h"

#include <wayland-util.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One argument of a message, as it goes over the wire.
struct WireArgument {
    char type = 0;      // as in the message's signature: i u f o n s a h
    uint32_t word = 0;  // i u f o n (an int as its bits)
    std::string bytes;  // s (with its terminating NUL; empty for a null string) and a
    int fd = -1;        // h
};

struct WireMessage {
    bool event = false;  // from the compositor; otherwise a request from the client
    uint32_t object = 0;
    const wl_interface* interface = nullptr;
    uint16_t opcode = 0;
    std::vector<WireArgument> arguments;
    // Messages passed on after this one, in the same direction, `thenTimes`
    // times over: a storm no real compositor sends.
    std::vector<WireMessage> then;
    long thenTimes = 0;
};

// Whether the message is the request or event `name` of `interface`.
bool isMessage(const WireMessage& message, const wl_interface& interface, const char* name);
// The event `name` of `interface` to `object`, for a rule to send.
WireMessage eventOf(uint32_t object, const wl_interface& interface, const char* name,
                    std::vector<WireArgument> arguments);
// An argument of one word: `type` is i, u, f, o or n.
WireArgument word(char type, uint32_t value);

// Sees each message before it is passed on, may change its arguments, and
// returns false to drop it. Descriptors the message came with are closed
// by the proxy once it is passed on or dropped; one a rule puts in its
// place is closed with them.
using WireRule = std::function<bool(WireMessage&)>;

struct WaylandProxy {
    pid_t pid = -1;
    std::string name;  // the display to give clients, in the compositor's runtime directory
};
// Starts the proxy in a child process of the test, in front of the
// session's compositor; it takes connections at once.
WaylandProxy startWaylandProxy(const WaylandSession& session, const WireRule& rule);
void stopWaylandProxy(WaylandProxy& proxy, const WaylandSession& session);
