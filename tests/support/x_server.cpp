#include "x_server.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

long long monotonicMs() { return static_cast<long long>(monotonicSeconds() * 1000); }

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double cpuSecondsUsed() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

pid_t forkChild() {
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);  // the test ended before the signal was asked for
    }
    return child;
}

namespace {

VirtualServer startServer(const char* program, const std::string& host, const std::vector<std::string>& arguments) {
    VirtualServer server;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return server;
    pid_t child = forkChild();
    if (child == 0) {
        close(pipeEnds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 1);
        dup2(devnull, 2);
        if (!host.empty()) setenv("DISPLAY", host.c_str(), 1);
        std::vector<std::string> argv = {program, "-displayfd", std::to_string(pipeEnds[1]), "-nolisten", "tcp"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> raw;
        for (std::string& argument : argv) raw.push_back(argument.data());
        raw.push_back(nullptr);
        execvp(program, raw.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string number;
    long long deadline = monotonicMs() + 10000;
    while (monotonicMs() < deadline) {
        pollfd descriptor{pipeEnds[0], POLLIN, 0};
        if (poll(&descriptor, 1, 100) <= 0) continue;
        char c;
        ssize_t got = read(pipeEnds[0], &c, 1);
        if (got <= 0) break;
        if (c == '\n') break;
        number += c;
    }
    close(pipeEnds[0]);
    server.pid = child;
    if (number.empty()) {
        stopVirtualServer(server);
        return server;
    }
    server.display = ":" + number;
    return server;
}

}  // namespace

VirtualServer startVirtualServer(const std::vector<std::string>& arguments) {
    return startServer("Xvfb", "", arguments);
}

VirtualServer startNestedServer(const std::string& host, const std::vector<std::string>& arguments) {
    return startServer("Xephyr", host, arguments);
}

VirtualServer startDummyServer(const std::string& configPath, const std::string& logPath) {
    return startServer("Xorg", "", {"-config", configPath, "-noreset", "-logfile", logPath, "-novtswitch",
                                    "-sharevts"});
}

void stopVirtualServer(VirtualServer& server) {
    if (server.pid > 0) {
        kill(server.pid, SIGTERM);
        if (waitForExit(server.pid, 5000) == -1) waitpid(server.pid, nullptr, 0);
    }
    server.pid = -1;
    server.display.clear();
}

pid_t spawnCommand(const std::vector<std::string>& command, const std::string& display,
                   const std::string& errorPath) {
    ChildSetup setup;
    setup.errorPath = errorPath;
    return spawnCommand(command, display, setup);
}

void execCommand(const std::vector<std::string>& command) {
    std::vector<std::string> arguments = command;
    std::vector<char*> raw;
    for (std::string& argument : arguments) raw.push_back(argument.data());
    raw.push_back(nullptr);
    execvp(raw[0], raw.data());
    _exit(127);
}

pid_t spawnCommand(const std::vector<std::string>& command, const std::string& display, const ChildSetup& setup) {
    pid_t child = forkChild();
    if (child == 0) {
        if (!setup.errorPath.empty()) {
            int file = open(setup.errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(file, 2);
            close(file);
        }
        for (int stream : setup.closedStreams) close(stream);
        if (display.empty())
            unsetenv("DISPLAY");
        else
            setenv("DISPLAY", display.c_str(), 1);
        for (const std::string& variable : setup.environment) putenv(strdup(variable.c_str()));
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int signal : setup.blockedSignals) sigaddset(&blocked, signal);
        sigprocmask(SIG_BLOCK, &blocked, nullptr);
        if (setup.addressSpaceLimit) {
            rlimit limit{setup.addressSpaceLimit, setup.addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        execCommand(command);
    }
    return child;
}

pid_t spawnProgram(const std::string& program, const std::string& display, const std::string& errorPath) {
    return spawnCommand({program}, display, errorPath);
}

int waitForExit(pid_t child, int timeoutMs) {
    long long deadline = monotonicMs() + timeoutMs;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        }
        if (done < 0 && errno != EINTR) return -2;
        if (monotonicMs() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return -1;
        }
        usleep(5000);
    }
}

void stopProgram(pid_t& program) {
    if (program <= 0) return;
    kill(program, SIGTERM);
    waitForExit(program, 3000);  // kills it if it does not end in time
    program = -1;
}

bool isRunning(pid_t child) {
    // WNOWAIT: an ended child's status stays for waitForExit to collect.
    siginfo_t info{};
    return waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string pathOf(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream directories(path ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':'))
        if (access((directory + "/" + program).c_str(), X_OK) == 0) return directory + "/" + program;
    return "";
}

bool inPath(const std::string& program) { return !pathOf(program).empty(); }

double processCpuSeconds(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        fields.push_back(text.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    // Fields 14 and 15 of the whole line (utime, stime) are 11 and 12 after the name.
    return (std::stod(fields[11]) + std::stod(fields[12])) / double(sysconf(_SC_CLK_TCK));
}

long residentKilobytes(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}
