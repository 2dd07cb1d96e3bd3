#include "x_relay.h"

#include "x_server.h"

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The server's socket as Xlib names it, in the abstract namespace when
// `abstract` is set (the first place a client looks).
sockaddr_un displaySocket(int number, bool abstract, socklen_t* length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    size_t offset = abstract ? 1 : 0;
    std::memcpy(address.sun_path + offset, path.c_str(), path.size());
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    return address;
}

bool pass(int from, int to) {
    char buffer[65536];
    ssize_t got = read(from, buffer, sizeof buffer);
    if (got <= 0) return false;
    for (ssize_t sent = 0; sent < got;) {
        ssize_t wrote = send(to, buffer + sent, size_t(got - sent), MSG_NOSIGNAL);
        if (wrote <= 0) return false;
        sent += wrote;
    }
    return true;
}

}  // namespace

ConnectionRelay::ConnectionRelay(const std::string& serverDisplay) {
    for (int number = 700; number < 800 && listener < 0; ++number) {
        int candidate = socket(AF_UNIX, SOCK_STREAM, 0);
        socklen_t length;
        sockaddr_un address = displaySocket(number, true, &length);
        if (bind(candidate, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(candidate, 1) == 0) {
            listener = candidate;
            display = ":" + std::to_string(number);
        } else {
            close(candidate);
        }
    }
    if (listener < 0) return;
    worker = std::thread(&ConnectionRelay::run, this, std::stoi(serverDisplay.substr(1)));
}

ConnectionRelay::~ConnectionRelay() {
    stopping = true;
    if (worker.joinable()) worker.join();
    if (listener >= 0) close(listener);
}

void ConnectionRelay::refuseRequests() { refusing = true; }

void ConnectionRelay::run(int serverNumber) {
    int client = -1, server = -1;
    while (!stopping) {
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, 50) == 1) {
            client = accept(listener, nullptr, nullptr);
            break;
        }
    }
    if (client >= 0) {
        server = socket(AF_UNIX, SOCK_STREAM, 0);
        socklen_t length;
        sockaddr_un address = displaySocket(serverNumber, false, &length);
        if (connect(server, reinterpret_cast<sockaddr*>(&address), length) != 0) stopping = true;
    }
    bool clientRequestsShut = false;
    double closeAt = 0;
    while (!stopping && client >= 0) {
        if (refusing && !clientRequestsShut) {
            // Pass on what the client has sent so far, then shut its requests.
            pollfd pending{client, POLLIN, 0};
            while (poll(&pending, 1, 0) == 1 && pass(client, server)) {}
            shutdown(client, SHUT_RD);
            clientRequestsShut = true;
            closeAt = monotonicSeconds() + 0.3;
        }
        pollfd ends[2] = {{server, POLLIN, 0}, {client, short(clientRequestsShut ? 0 : POLLIN), 0}};
        if (poll(ends, 2, 50) < 0) break;
        if ((ends[0].revents & (POLLIN | POLLHUP)) && !pass(server, client)) break;
        if ((ends[1].revents & (POLLIN | POLLHUP)) && !pass(client, server)) break;
        if (clientRequestsShut && monotonicSeconds() > closeAt) break;
    }
    if (client >= 0) close(client);
    if (server >= 0) close(server);
}
