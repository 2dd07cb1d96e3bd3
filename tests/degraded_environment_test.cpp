// The real program started the way launchers and broken machines start
// programs: standard streams closed, no usable OpenGL driver, a display that
// never answers, too little memory. It works, or it says why and ends with
// a defined exit code; it never hangs and never floods its log.
#include "viewer_program.h"

#include <X11/keysym.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <sstream>

namespace {

class DegradedEnvironment : public ViewerProgramTest {
protected:
    void startWith(ChildSetup setup) {
        setup.errorPath = errorPath();
        child = spawnCommand(viewerCommand(), server.display, setup);
    }
};

struct ClosedStreams {
    const char* name;
    std::vector<int> streams;
};

void PrintTo(const ClosedStreams& closed, std::ostream* out) { *out << closed.name; }

class ViewerWithClosedStreams : public DegradedEnvironment, public testing::WithParamInterface<ClosedStreams> {};

TEST_P(ViewerWithClosedStreams, StartsDrawsAndEndsOnEscapeWithZero) {
    ChildSetup setup;
    setup.closedStreams = GetParam().streams;
    startWith(setup);
    ASSERT_NE(waitForWindowNamed(user, "vorandile", 10000), 0u);
    pressKey(user, XK_Return);
    window = waitForWindowNamed(user, "vorandile ", 10000);
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(waitUntil([&] { return closeTo(pixel(3, 3), viewerBackground); }, 20000));
    EXPECT_TRUE(keepsChanging());
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

INSTANTIATE_TEST_SUITE_P(Streams, ViewerWithClosedStreams,
                         testing::Values(ClosedStreams{"input", {0}}, ClosedStreams{"output", {1}},
                                         ClosedStreams{"error", {2}}, ClosedStreams{"all", {0, 1, 2}}),
                         [](const testing::TestParamInfo<ClosedStreams>& closed) { return closed.param.name; });

// With standard error closed, the driver loader's message once went into
// the X connection and the program hung for good.
TEST_F(DegradedEnvironment, NoDriverWithStandardErrorClosedIsReportedInABox) {
    ChildSetup setup;
    setup.closedStreams = {2};
    setup.environment = {"LIBGL_DRIVERS_PATH=/nonexistent"};
    startWith(setup);
    Window box = dismissNoticeAndWaitForErrorBox();
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "wglCreateContext failed");
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), 1);
}

// No client driver (or one that cannot be loaded) leaves only indirect
// rendering, which the server refuses: a failure to report, not a black
// window, and keys pressed meanwhile never start frames without a context.
class ViewerWithoutAUsableDriver : public DegradedEnvironment, public testing::WithParamInterface<const char*> {};

TEST_P(ViewerWithoutAUsableDriver, SaysWhichCallFailedAndExitsWithOneWithoutFlooding) {
    ChildSetup setup;
    setup.environment = {GetParam()};
#ifdef __SANITIZE_ADDRESS__
    // Mesa leaks what it allocated for a driver it then fails to load and
    // unloads; the program's own memory is checked by every other test.
    setup.environment.push_back("ASAN_OPTIONS=detect_leaks=0:exitcode=86");
#endif
    startWith(setup);
    Window box = dismissNoticeAndWaitForErrorBox();
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "wglCreateContext failed");
    EXPECT_EQ(textProperty(user, box, "_NET_WM_NAME"), "Error");
    for (unsigned long key : {XK_f, XK_p, XK_j, XK_k}) pressKey(user, key);
    EXPECT_TRUE(answersPing(user, box, 20000)) << "the box took in the keys";
    ASSERT_TRUE(isRunning(child)) << "the box waits for the user";
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), 1);
    std::string errors = errorText(), own;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("vorandile:", 0) == 0) own += line + "\n";
    std::printf("%s: %zu bytes on standard error, %zu of them the program's own\n", GetParam(), errors.size(),
                own.size());
    EXPECT_LT(errors.size(), 64u * 1024) << "no flood";
    EXPECT_EQ(own, "") << "the refused context is the box's to tell";
}

INSTANTIATE_TEST_SUITE_P(Drivers, ViewerWithoutAUsableDriver,
                         testing::Values("LIBGL_DRIVERS_PATH=/nonexistent", "LIBGL_ALWAYS_INDIRECT=1",
                                         "GALLIUM_DRIVER=bogus"),
                         [](const testing::TestParamInfo<const char*>& variable) {
                             std::string name = variable.param;
                             return name.substr(0, name.find('='));
                         });

// Something listening where an X server would be, that never says a word.
struct SilentDisplay {
    int socket = -1;
    std::string path, display;

    SilentDisplay() {
        mkdir("/tmp/.X11-unix", 01777);
        for (int number = 900; number < 1000 && display.empty(); ++number) {
            std::string candidate = "/tmp/.X11-unix/X" + std::to_string(number);
            if (access(candidate.c_str(), F_OK) == 0) continue;
            socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", candidate.c_str());
            if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(socket, 4) == 0) {
                path = candidate;
                display = ":" + std::to_string(number);
            } else {
                close(socket);
                socket = -1;
            }
        }
    }
    ~SilentDisplay() {
        if (socket >= 0) close(socket);
        if (!path.empty()) unlink(path.c_str());
    }
};

// Whatever signals the launcher left blocked: some block the alarm signal
// for their children.
class SilentDisplayUnder : public DegradedEnvironment, public testing::WithParamInterface<std::vector<int>> {};

TEST_P(SilentDisplayUnder, ALauncherEndsTheViewerWithAMessageAfterTenSeconds) {
    SilentDisplay silent;
    ASSERT_FALSE(silent.display.empty());
    ChildSetup setup;
    setup.errorPath = errorPath();
    setup.blockedSignals = GetParam();
    double started = monotonicSeconds();
    child = spawnCommand({VIEWER_BINARY}, silent.display, setup);
    int status = waitForExit(child, 60000);
    double waited = monotonicSeconds() - started;
    std::printf("a silent display: exit %d after %.1f s: %s", status, waited, errorText().c_str());
    EXPECT_EQ(status, 1);
    EXPECT_GE(waited, 9.5);
    EXPECT_NE(errorText().find("accepted the connection but did not answer"), std::string::npos) << errorText();
}

INSTANTIATE_TEST_SUITE_P(Launchers, SilentDisplayUnder,
                         testing::Values(std::vector<int>{}, std::vector<int>{SIGALRM}),
                         [](const testing::TestParamInfo<std::vector<int>>& blocked) {
                             return blocked.param.empty() ? "NothingBlocked" : "AlarmBlocked";
                         });

// An X authority file that is no regular file would be read for ever as
// the connection is made: the program says so at once instead of waiting
// for the server's ten seconds.
class UnreadableAuthority : public DegradedEnvironment, public testing::WithParamInterface<const char*> {};

TEST_P(UnreadableAuthority, IsSaidAtOnceAndEndsTheViewerWithOne) {
    std::string fifo = testing::TempDir() + "authority-fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string path = std::string(GetParam()) == "fifo" ? fifo : GetParam();
    ChildSetup setup;
    setup.environment = {"XAUTHORITY=" + path};
    startWith(setup);
    int status = waitForExit(child, 9000);  // before the silent server's ten seconds
    unlink(fifo.c_str());
    EXPECT_EQ(status, 1);
    EXPECT_NE(errorText().find("cannot read the X authority file \"" + path + "\""), std::string::npos)
        << errorText();
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableAuthority, testing::Values("/dev/zero", "fifo", "/"),
                         [](const testing::TestParamInfo<const char*>& file) {
                             std::string name = file.param;
                             return name == "/dev/zero" ? "Zeros" : name == "fifo" ? "FifoWithoutWriter" : "Directory";
                         });

// Too little memory to start: whatever gives out first, the program says so
// and ends with a defined code; it never dies without a word.
class ViewerWithLittleMemory : public DegradedEnvironment, public testing::WithParamInterface<int> {};

TEST_P(ViewerWithLittleMemory, EndsWithAMessageOrRuns) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than any of these limits";
#endif
    ChildSetup setup;
    setup.addressSpaceLimit = (unsigned long)GetParam() << 20;
    startWith(setup);
    // Answers whatever it shows, as a user would, until it has ended.
    bool noticed = false, boxed = false, ran = false;
    waitUntil(
        [&] {
            if (!isRunning(child)) return true;
            if (!noticed && waitForWindowNamed(user, "vorandile", 0)) {
                noticed = true;
                pressKey(user, XK_Return);
            }
            Window box = boxed ? 0 : waitForWindowNamed(user, "Error", 0);
            if (box) {
                boxed = true;
                EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "wglCreateContext failed");
                pressKey(user, XK_Return);
            }
            if (!ran && (window = waitForWindowNamed(user, "vorandile ", 0)) != 0 && keepsChanging()) {
                ran = true;
                pressKey(user, XK_Escape);
            }
            return false;
        },
        20000);
    // Its window shown but its picture never changing: the driver had no
    // memory to draw with. The program still answers Esc, as a user would press it.
    bool stillShown = !ran && isRunning(child) && window && waitForWindowNamed(user, "vorandile ", 0);
    if (stillShown) pressKey(user, XK_Escape);
    int status = waitForExit(child, 10000);
    std::printf("%d MiB: exit %d%s%s%s: %s\n", GetParam(), status, boxed ? ", error box" : "", ran ? ", ran" : "",
                stillShown ? ", shown without drawing" : "", errorText().c_str());
    // At a limit near what the driver needs, it may run a while and then
    // give out: that too must be said.
    if (boxed) {
        EXPECT_EQ(status, 1);
    } else if (status == 0) {
        EXPECT_TRUE(ran || stillShown) << "ended well only after running, or on Esc";
    } else {
        EXPECT_FALSE(errorText().empty()) << "it ended without a word";
        if (status > 128) EXPECT_NE(errorText().find("fatal error"), std::string::npos) << errorText();
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, ViewerWithLittleMemory, testing::Values(64, 300, 440),
                         [](const testing::TestParamInfo<int>& limit) { return std::to_string(limit.param) + "MiB"; });

}  // namespace
