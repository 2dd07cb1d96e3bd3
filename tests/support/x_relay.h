// A relay between one X client and a real server, standing in for the
// server's socket: it passes bytes both ways until told to stop taking the
// client's requests, as a server does that has shut the client's connection.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class ConnectionRelay {
public:
    // Listens on a free display number; `display` names it (":N"), empty on failure.
    explicit ConnectionRelay(const std::string& serverDisplay);
    ~ConnectionRelay();
    ConnectionRelay(const ConnectionRelay&) = delete;
    ConnectionRelay& operator=(const ConnectionRelay&) = delete;

    // From now on the client's writes fail (EPIPE) while its reads still wait;
    // a little later the connection closes altogether.
    void refuseRequests();

    std::string display;

private:
    void run(int serverNumber);

    int listener = -1;
    std::atomic<bool> refusing{false};
    std::atomic<bool> stopping{false};
    std::thread worker;
};
