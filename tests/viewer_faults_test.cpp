// The real program under faults and hostile input: it keeps working, or it
// ends at once with a clear message and a non-zero exit code.
#include "layer_test.h"
#include "x_relay.h"

#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

long residentKilobytes(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

class ViewerUnderFaults : public ChildProgramTest {
protected:
    Window start(const std::string& display = "") {
        errors = testing::TempDir() + "viewer-faults-" + std::to_string(getpid()) + ".txt";
        child = spawnProgram(VIEWER_BINARY, display.empty() ? server.display : display, errors);
        if (!waitForWindowNamed(user, "vorandile", 10000)) return 0;
        pressKey(user, XK_Return);
        window = waitForWindowNamed(user, "vorandile ", 10000);
        usleep(300000);
        return window;
    }

    std::string errorText() {
        std::ifstream file(errors);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // The program ended within a second of the fault, by exiting with a
    // failure (no crash, no core dump) and saying why.
    void expectEndedWithin(double fault, const char* message) {
        int status = waitForExit(child, 2000);
        std::printf("ended %.3f s after the fault, with %d\n", monotonicSeconds() - fault, status);
        EXPECT_LT(monotonicSeconds() - fault, 1.0);
        EXPECT_GT(status, 0);
        EXPECT_LT(status, 128) << "an exit, not a crash or a core dump";
        EXPECT_NE(errorText().find(message), std::string::npos) << errorText();
    }

    std::string errors;
};

TEST_F(ViewerUnderFaults, TheServerGoingAwayWhileItSpinsEndsItWithAMessage) {
    ASSERT_NE(start(), 0u);
    XCloseDisplay(user);
    user = nullptr;
    double killed = monotonicSeconds();
    kill(server.pid, SIGKILL);
    expectEndedWithin(killed, "lost the connection to the X server");
}

TEST_F(ViewerUnderFaults, AnotherClientKillingItsConnectionEndsItWithAMessage) {
    ASSERT_NE(start(), 0u);
    double killed = monotonicSeconds();
    XKillClient(user, window);
    XSync(user, False);
    expectEndedWithin(killed, "lost the connection to the X server");
}

// The spinning viewer writes every frame: when the server no longer takes its
// requests, the failed write must be reported like any lost connection, not
// end the process by a broken-pipe signal.
TEST_F(ViewerUnderFaults, AServerThatStopsTakingItsRequestsEndsItWithAMessage) {
    ConnectionRelay relay(server.display);
    ASSERT_FALSE(relay.display.empty());
    ASSERT_NE(start(relay.display), 0u);
    double refused = monotonicSeconds();
    relay.refuseRequests();
    expectEndedWithin(refused, "lost the connection to the X server");
}

TEST_F(ViewerUnderFaults, AnotherClientDestroyingItsWindowEndsItWithAMessage) {
    ASSERT_NE(start(), 0u);
    double destroyed = monotonicSeconds();
    XDestroyWindow(user, window);
    XSync(user, False);
    expectEndedWithin(destroyed, "was destroyed by another client");
}

TEST_F(ViewerUnderFaults, ABurstOfMotionDuringADragLeavesItResponsiveAndItsMemoryBounded) {
    ASSERT_NE(start(), 0u);
    WindowGeometry g = rootGeometry(user, window);
    movePointer(user, g.x + g.width / 2, g.y + g.height / 2);
    setButton(user, 1, true);
    usleep(200000);
    long before = residentKilobytes(child);
    for (int i = 0; i < 100000; ++i)
        XTestFakeMotionEvent(user, DefaultScreen(user), (i * 37) % 2000 - 300, (i * 53) % 1600 - 300, CurrentTime);
    XSync(user, False);
    double burstEnd = monotonicSeconds();
    usleep(300000);  // let the viewer take in what the server has delivered
    long after = residentKilobytes(child);
    setButton(user, 1, false);
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 2000), 0);
    EXPECT_LT(monotonicSeconds() - burstEnd, 1.0) << "Esc still ends it within a second";
    EXPECT_GT(before, 0);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine keeps freed memory resident on purpose
    EXPECT_LT(after - before, 10 * 1024) << "resident size grew from " << before << " kB to " << after << " kB";
#endif
    std::printf("100000 motions: resident size %ld kB before, %ld kB after\n", before, after);
}

}  // namespace
