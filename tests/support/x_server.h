// Private virtual X servers for tests that need a server of their own
// (no GLX, 8-bit colour) or a clean one for a child process.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct VirtualServer {
    pid_t pid = -1;
    std::string display;  // ":N"
};

// Starts Xvfb with the given extra arguments and waits until it accepts
// connections; the display is empty when it could not be started.
VirtualServer startVirtualServer(const std::vector<std::string>& arguments);
// Starts Xephyr as a window on `host`: a server whose screen can change size
// (xrandr -s), as a real display's can.
VirtualServer startNestedServer(const std::string& host, const std::vector<std::string>& arguments);
// Starts Xorg with its dummy driver (as root, no GPU needed) on the given
// configuration: a screen that RandR can lay out as several monitors.
VirtualServer startDummyServer(const std::string& configPath, const std::string& logPath);
void stopVirtualServer(VirtualServer& server);

// Seconds on the monotonic clock, and the CPU seconds this process has used.
double monotonicSeconds();
// The same in whole milliseconds.
long long monotonicMs();
// A file's whole text; empty if it cannot be read.
std::string fileText(const std::string& path);
// Where PATH finds a program of this name; empty if nowhere.
std::string pathOf(const std::string& program);
bool inPath(const std::string& program);
double cpuSecondsUsed();

// fork(), for every child a test starts: the child is killed when the test's
// process ends, however it ends. A test that crashes would otherwise leave a
// box, a server or a program behind holding its output open, and ctest
// would report the crash as a timeout, minutes later.
pid_t forkChild();
// A child process running `program` with DISPLAY set to `display`
// (or unset when it is empty).
// Its standard error goes to `errorPath` when that is given.
pid_t spawnProgram(const std::string& program, const std::string& display, const std::string& errorPath = "");
// A child process running a command line (looked up in PATH), with DISPLAY
// set to `display`.
pid_t spawnCommand(const std::vector<std::string>& command, const std::string& display,
                   const std::string& errorPath = "");
// The same in an environment a launcher may have left it: streams closed,
// variables set, memory limited.
struct ChildSetup {
    std::string errorPath;             // standard error goes here, when given
    std::vector<int> closedStreams;    // 0, 1, 2
    std::vector<std::string> environment;  // NAME=value
    unsigned long addressSpaceLimit = 0;   // bytes; 0 for none
    std::vector<int> blockedSignals;       // as a launcher may leave them
};
pid_t spawnCommand(const std::vector<std::string>& command, const std::string& display, const ChildSetup& setup);
// In a child process: becomes the command (looked up in PATH), or exits with 127.
[[noreturn]] void execCommand(const std::vector<std::string>& command);
// The child's exit code; -1 if it did not end within the time (it is then
// killed); 128 + signal number if a signal ended it.
int waitForExit(pid_t child, int timeoutMs);
// The CPU seconds a process has used, user and system; -1 if it is gone.
double processCpuSeconds(pid_t process);
// The resident memory of a process, in kilobytes; -1 if it is gone.
long residentKilobytes(pid_t process);
// Whether the child is still running.
bool isRunning(pid_t child);
// Ends a helper program started here (politely, then for good) and waits for it.
void stopProgram(pid_t& program);
