// How the layer deals with the X server's errors: each distinct one is told
// once and its repeats counted, expected ones are not told at all, and a
// rendering context the server refuses is no context.
#include "layer_test.h"

#include "platform/x11/internal.h"
#include "surface/surface.h"

#include <X11/keysym.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

using XErrors = PrivateServerTest;

// Runs `work` in a child process whose standard error goes to a file, and
// returns what it wrote there by the time it exited.
std::string standardErrorOf(const std::function<void()>& work) {
    std::string path = testing::TempDir() + "x-errors-" + std::to_string(getpid()) + ".txt";
    pid_t child = forkChild();
    if (child == 0) {
        int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, 2);
        native();  // the layer, connected
        work();
        std::exit(0);  // as the program ends: exit handlers run
    }
    EXPECT_EQ(waitForExit(child, 20000), 0);
    return fileText(path);
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

const Window noSuchWindow = 0x3fffffe;

TEST_F(XErrors, EachDistinctErrorIsToldOnceAndItsRepeatsAreCounted) {
    std::string errors = standardErrorOf([] {
        Display* display = x11Display();
        for (int i = 0; i < 1000; ++i) XMapWindow(display, noSuchWindow);
        XUnmapWindow(display, noSuchWindow);
        XSync(display, False);
    });
    // X_MapWindow is request 8, X_UnmapWindow 10.
    EXPECT_EQ(countOf(errors, "(request 8.0, resource 0x3fffffe)"), 1u) << errors;
    EXPECT_EQ(countOf(errors, "(request 10.0, resource 0x3fffffe)"), 1u) << errors;
    EXPECT_EQ(countOf(errors, "(request 8.0) 999 more times"), 1u) << errors;
    EXPECT_LT(countOf(errors, "\n"), 6u) << errors;
}

// A program that uses Xlib beside the layer, or goes on after it, finds
// its own handlers again once the layer has ended.
TEST_F(XErrors, TheLayersEndGivesTheProcessItsOwnHandlersBack) {
    terminateLayer();  // connected by the fixture: this test connects it afresh
    XErrorHandler mine = [](Display*, XErrorEvent*) { return 0; };
    XIOErrorHandler mineForIO = [](Display*) { return 0; };
    void (*mineForPipes)(int) = [](int) {};
    XSetErrorHandler(mine);
    XSetIOErrorHandler(mineForIO);
    std::signal(SIGPIPE, mineForPipes);
    ASSERT_STREQ(native().name, "X11");  // connects
    XErrorHandler layers = XSetErrorHandler(nullptr);
    XSetErrorHandler(layers);
    EXPECT_NE(layers, mine) << "the layer reports the server's errors itself";
    terminateLayer();
    EXPECT_EQ(XSetErrorHandler(nullptr), mine);
    EXPECT_EQ(XSetIOErrorHandler(nullptr), mineForIO);
    EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), mineForPipes);
}

TEST_F(XErrors, RepeatsAreToldAtMostOnceASecondWhileTheyGoOn) {
    std::string errors = standardErrorOf([] {
        Display* display = x11Display();
        double end = monotonicSeconds() + 2.5;
        while (monotonicSeconds() < end) {
            for (int i = 0; i < 100; ++i) XMapWindow(display, noSuchWindow);
            XSync(display, False);
        }
    });
    size_t lines = countOf(errors, "request 8.0");
    EXPECT_GE(lines, 3u) << "the first, then the repeats as they go on: " << errors;
    EXPECT_LE(lines, 5u) << errors;
}

TEST_F(XErrors, ExpectedErrorsAreNotToldAndCheckedRequestsReturnTheirCode) {
    std::string errors = standardErrorOf([] {
        Display* display = x11Display();
        unsigned long first = x11BeginQuietRequests();
        XMapWindow(display, noSuchWindow);
        x11EndQuietRequests(first);
        XSync(display, False);
        first = x11BeginQuietRequests();
        XUnmapWindow(display, noSuchWindow);
        if (x11EndCheckedRequests(first) != BadWindow) std::_Exit(3);
        first = x11BeginQuietRequests();
        XSync(display, False);
        if (x11EndCheckedRequests(first) != Success) std::_Exit(4);
        XMapWindow(display, noSuchWindow);  // after the brackets: told
        XSync(display, False);
    });
    EXPECT_EQ(countOf(errors, "X error"), 1u) << errors;
    EXPECT_EQ(countOf(errors, "(request 8.0, resource 0x3fffffe)"), 1u) << errors;
}

// Indirect rendering, which is all that is left without a client driver, is
// refused by this server.
class RenderingContextsWithoutADriver : public PrivateServerTest {
protected:
    void SetUp() override {
        setenv("LIBGL_ALWAYS_INDIRECT", "1", 1);
        PrivateServerTest::SetUp();
    }
};

TEST_F(RenderingContextsWithoutADriver, AContextTheServerRefusesIsNoneAndNothingIsTold) {
    std::string errors = standardErrorOf([] {
        HWND window = createRecordingWindow("refused", 0, 0, 64, 64, false);
        HDC dc = GetDC(window);
        configurePixelFormat(dc);
        if (wglCreateContext(dc) != nullptr) std::_Exit(3);
        if (wglGetCurrentContext() != nullptr) std::_Exit(4);
    });
    EXPECT_EQ(errors.find("X error"), std::string::npos) << errors;
}

TEST_F(RenderingContextsWithoutADriver, CreatingTheViewersContextShowsTheErrorAndExitsWithOne) {
    pid_t child = forkChild();
    if (child == 0) {
        HWND window = createRecordingWindow("owner", 0, 0, 64, 64, false);
        configurePixelFormat(GetDC(window));
        createRenderingContext(GetDC(window));
        _exit(0);
    }
    Window box = waitForWindowNamed(user, "Error", 20000);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(textProperty(user, box, "WIN32_MESSAGE_TEXT"), "wglCreateContext failed");
    // Answering, the box has read what came before and is still up.
    EXPECT_TRUE(answersPing(user, box, 20000));
    EXPECT_TRUE(isRunning(child)) << "the box waits for the user";
    pressKey(user, XK_Return);
    EXPECT_EQ(waitForExit(child, 20000), 1);
}

}  // namespace
