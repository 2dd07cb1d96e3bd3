#include "wayland_proxy.h"

#include "fractional-scale-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <wayland-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// libwayland sends no more descriptors than this at once, nor does the proxy.
const size_t maxFdsPerSend = 28;

// The globals a client binds by name, by wl_registry.bind; objects made by
// other requests and events have their interface in the message's table.
const wl_interface* const boundByName[] = {
    &wl_compositor_interface,          &wl_subcompositor_interface,          &wl_shm_interface,
    &wl_seat_interface,                &wl_output_interface,                 &wl_data_device_manager_interface,
    &xdg_wm_base_interface,            &zxdg_decoration_manager_v1_interface, &zxdg_output_manager_v1_interface,
    &wp_viewporter_interface,          &wp_fractional_scale_manager_v1_interface};

const wl_interface* interfaceNamed(const std::string& name) {
    for (const wl_interface* interface : boundByName)
        if (name == interface->name) return interface;
    return nullptr;
}

// One direction of a connection: what has come and is not passed on yet.
struct Stream {
    int from = -1, to = -1;
    bool events = false;
    std::string pending;
    std::deque<int> fds;
};

struct Connection {
    Stream requests, events;
    // Objects of interfaces the proxy does not know are there as null.
    std::map<uint32_t, const wl_interface*> objects{{1, &wl_display_interface}};
};

// What one read passes on, sent when full and at the end of the read.
struct Outgoing {
    int to = -1;
    std::string bytes;
    std::vector<int> fds;
    std::vector<int> spent;  // to close once sent
};

uint32_t wordAt(const std::string& bytes, size_t at) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + at, sizeof word);
    return word;
}

void appendWord(std::string& bytes, uint32_t word) { bytes.append(reinterpret_cast<const char*>(&word), sizeof word); }

size_t padded(size_t length) { return (length + 3) & ~size_t(3); }

const wl_message* messageOf(const WireMessage& message) {
    if (!message.interface) return nullptr;
    int count = message.event ? message.interface->event_count : message.interface->method_count;
    if (message.opcode >= count) return nullptr;
    return &(message.event ? message.interface->events : message.interface->methods)[message.opcode];
}

// The message's arguments, read from its body by its signature with the
// descriptors it takes from `fds`; false when the body does not match.
bool readArguments(const wl_message& described, const std::string& body, std::deque<int>& fds, WireMessage& message) {
    size_t at = 0;
    for (const char* type = described.signature; *type; ++type) {
        if (*type == '?' || (*type >= '0' && *type <= '9')) continue;
        WireArgument argument;
        argument.type = *type;
        if (*type == 'h') {
            argument.fd = fds.front();
            fds.pop_front();
        } else if (at + 4 > body.size()) {
            return false;
        } else if (*type == 's' || *type == 'a') {
            size_t length = wordAt(body, at);
            if (at + 4 + padded(length) > body.size()) return false;
            argument.bytes = body.substr(at + 4, length);
            at += 4 + padded(length);
        } else {
            argument.word = wordAt(body, at);
            at += 4;
        }
        message.arguments.push_back(argument);
    }
    return at == body.size();
}

size_t descriptorsTaken(const wl_message& described) {
    return size_t(std::count(described.signature, described.signature + std::strlen(described.signature), 'h'));
}

// Notes the objects a message makes: those of wl_registry.bind by the
// interface named just before.
void noteNewObjects(const wl_message& described, const WireMessage& message, Connection& connection) {
    int index = 0;
    std::string lastString;
    for (const WireArgument& argument : message.arguments) {
        if (argument.type == 's') lastString = argument.bytes.c_str();
        if (argument.type == 'n') {
            const wl_interface* typed = described.types[index];
            connection.objects[argument.word] = typed ? typed : interfaceNamed(lastString);
        }
        ++index;
    }
}

std::string wireBytes(const WireMessage& message) {
    std::string body;
    for (const WireArgument& argument : message.arguments) {
        if (argument.type == 'h') continue;
        if (argument.type == 's' || argument.type == 'a') {
            appendWord(body, uint32_t(argument.bytes.size()));
            body += argument.bytes;
            body.append(padded(argument.bytes.size()) - argument.bytes.size(), '\0');
        } else {
            appendWord(body, argument.word);
        }
    }
    std::string bytes;
    appendWord(bytes, message.object);
    appendWord(bytes, uint32_t(body.size() + 8) << 16 | message.opcode);
    return bytes + body;
}

bool sendAll(int to, const std::string& bytes, const std::vector<int>& fds) {
    size_t sent = 0;
    bool fdsSent = fds.empty();
    while (sent < bytes.size()) {
        iovec io{const_cast<char*>(bytes.data() + sent), bytes.size() - sent};
        msghdr header{};
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxFdsPerSend)] = {};
        if (!fdsSent) {
            header.msg_control = control;
            header.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
            cmsghdr* rights = CMSG_FIRSTHDR(&header);
            rights->cmsg_level = SOL_SOCKET;
            rights->cmsg_type = SCM_RIGHTS;
            rights->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
            std::memcpy(CMSG_DATA(rights), fds.data(), sizeof(int) * fds.size());
        }
        ssize_t written = sendmsg(to, &header, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return false;
        sent += size_t(written);
        fdsSent = true;
    }
    return true;
}

bool flush(Outgoing& out) {
    bool sent = sendAll(out.to, out.bytes, out.fds);
    for (int fd : out.spent) close(fd);
    out.bytes.clear();
    out.fds.clear();
    out.spent.clear();
    return sent;
}

// What a rule added after the message, sent a part at a time so that the
// client reads it as it comes.
bool passStorm(const WireMessage& message, Outgoing& out) {
    std::string once;
    for (const WireMessage& each : message.then) once += wireBytes(each);
    for (long i = 0; i < message.thenTimes && !once.empty(); ++i) {
        out.bytes += once;
        if (out.bytes.size() >= 65536 && !flush(out)) return false;
    }
    return true;
}

void spend(Outgoing& out, int fd) {
    if (fd >= 0 && std::find(out.spent.begin(), out.spent.end(), fd) == out.spent.end()) out.spent.push_back(fd);
}

// Passes on what has come on the stream, through the rule; false when
// either end is gone.
bool relay(Stream& stream, Connection& connection, WireRule& rule) {
    char data[4096];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxFdsPerSend)];
    iovec io{data, sizeof data};
    msghdr header{};
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got = recvmsg(stream.from, &header, MSG_CMSG_CLOEXEC);
    if (got < 0 && errno == EINTR) return true;
    if (got <= 0) return false;
    for (cmsghdr* part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS) continue;
        size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(part) + i * sizeof(int), sizeof fd);
            stream.fds.push_back(fd);
        }
    }
    stream.pending.append(data, size_t(got));

    Outgoing out{stream.to, {}, {}, {}};
    std::string& pending = stream.pending;
    while (pending.size() >= 8) {
        size_t size = wordAt(pending, 4) >> 16;
        if (size < 8) return false;
        if (pending.size() < size) break;
        WireMessage message;
        message.event = stream.events;
        message.object = wordAt(pending, 0);
        message.opcode = uint16_t(wordAt(pending, 4) & 0xffff);
        auto known = connection.objects.find(message.object);
        message.interface = known == connection.objects.end() ? nullptr : known->second;
        const wl_message* described = messageOf(message);
        // Its descriptors come with its bytes or before them: not yet all
        // here, they are still to come.
        if (described && stream.fds.size() < descriptorsTaken(*described)) break;
        std::string body = pending.substr(8, size - 8);
        bool readable = described && readArguments(*described, body, stream.fds, message);
        std::string bytes = pending.substr(0, size);
        pending.erase(0, size);
        bool kept = true;
        std::vector<int> received;
        if (readable) {
            noteNewObjects(*described, message, connection);
            for (const WireArgument& argument : message.arguments) received.push_back(argument.fd);
            kept = rule(message);
            bytes = wireBytes(message);
        }
        std::vector<int> fds;
        for (const WireArgument& argument : message.arguments)
            if (argument.type == 'h') fds.push_back(argument.fd);
        if (out.fds.size() + fds.size() > maxFdsPerSend && !flush(out)) return false;
        if (kept) {
            out.bytes += bytes;
            out.fds.insert(out.fds.end(), fds.begin(), fds.end());
        }
        if (!passStorm(message, out)) return false;
        for (int fd : received) spend(out, fd);
        for (int fd : fds) spend(out, fd);
    }
    // Descriptors no message the proxy read has taken belong to messages it
    // passed unread: they go on with them.
    while (pending.empty() && !stream.fds.empty() && out.fds.size() < maxFdsPerSend) {
        out.fds.push_back(stream.fds.front());
        spend(out, stream.fds.front());
        stream.fds.pop_front();
    }
    return flush(out);
}

void closeConnection(Connection& connection) {
    for (Stream* stream : {&connection.requests, &connection.events}) {
        for (int fd : stream->fds) close(fd);
        close(stream->from);
    }
}

int connectTo(const std::string& path) {
    int compositor = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (compositor >= 0 && connect(compositor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return compositor;
    if (compositor >= 0) close(compositor);
    return -1;
}

[[noreturn]] void serve(int listener, const std::string& compositorPath, WireRule rule) {
    std::vector<std::unique_ptr<Connection>> connections;
    for (;;) {
        std::vector<pollfd> watched{{listener, POLLIN, 0}};
        for (const auto& connection : connections) {
            watched.push_back({connection->requests.from, POLLIN, 0});
            watched.push_back({connection->events.from, POLLIN, 0});
        }
        if (poll(watched.data(), watched.size(), -1) < 0) continue;
        for (size_t i = connections.size(); i-- > 0;) {
            Connection& connection = *connections[i];
            bool alive = true;
            if (watched[1 + 2 * i].revents) alive = relay(connection.requests, connection, rule);
            if (alive && watched[2 + 2 * i].revents) alive = relay(connection.events, connection, rule);
            if (alive) continue;
            closeConnection(connection);
            connections.erase(connections.begin() + long(i));
        }
        if (!(watched[0].revents & POLLIN)) continue;
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        int compositor = connectTo(compositorPath);
        if (compositor < 0) {
            close(client);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->requests = Stream{client, compositor, false, {}, {}};
        connection->events = Stream{compositor, client, true, {}, {}};
        connections.push_back(std::move(connection));
    }
}

std::string proxyPath(const WaylandProxy& proxy, const WaylandSession& session) {
    return session.directory + "/" + proxy.name;
}

}  // namespace

WireMessage eventOf(uint32_t object, const wl_interface& interface, const char* name,
                    std::vector<WireArgument> arguments) {
    WireMessage event{true, object, &interface, 0, std::move(arguments), {}, 0};
    for (int opcode = 0; opcode < interface.event_count; ++opcode)
        if (!std::strcmp(interface.events[opcode].name, name)) event.opcode = uint16_t(opcode);
    return event;
}

WireArgument word(char type, uint32_t value) { return WireArgument{type, value, {}, -1}; }

bool isMessage(const WireMessage& message, const wl_interface& interface, const char* name) {
    const wl_message* described = message.interface == &interface ? messageOf(message) : nullptr;
    return described && std::strcmp(described->name, name) == 0;
}

WaylandProxy startWaylandProxy(const WaylandSession& session, const WireRule& rule) {
    WaylandProxy proxy;
    proxy.name = "proxy-" + std::to_string(getpid());
    std::string path = proxyPath(proxy, session);
    unlink(path.c_str());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0) {
        if (listener >= 0) close(listener);
        proxy.name.clear();
        return proxy;
    }
    proxy.pid = forkChild();
    if (proxy.pid == 0) serve(listener, session.socketPath, rule);
    close(listener);
    return proxy;
}

void stopWaylandProxy(WaylandProxy& proxy, const WaylandSession& session) {
    if (proxy.pid > 0) stopProgram(proxy.pid);
    if (!proxy.name.empty()) unlink(proxyPath(proxy, session).c_str());
    proxy = WaylandProxy();
}
