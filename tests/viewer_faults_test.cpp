// The real program under faults and hostile input: it keeps working, or it
// ends at once with a clear message and a non-zero exit code.
#include "viewer_program.h"
#include "x_relay.h"

#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

class ViewerUnderFaults : public ViewerProgramTest {
protected:
    // The program ended soon after the fault (typically within milliseconds;
    // the bound leaves room for a busy machine), by exiting with a
    // failure (no crash, no core dump) and saying why.
    void expectEndedWithin(double fault, const char* message) {
        int status = waitForExit(child, 10000);
        std::printf("ended %.3f s after the fault, with %d\n", monotonicSeconds() - fault, status);
        EXPECT_LT(monotonicSeconds() - fault, 5.0);
        EXPECT_GT(status, 0);
        EXPECT_LT(status, 128) << "an exit, not a crash or a core dump";
        EXPECT_NE(errorText().find(message), std::string::npos) << errorText();
    }
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
    ASSERT_TRUE(answersPing(user, window, 20000)) << "the viewer took in the press";
    long before = residentKilobytes(child);
    for (int i = 0; i < 100000; ++i)
        XTestFakeMotionEvent(user, DefaultScreen(user), (i * 37) % 2000 - 300, (i * 53) % 1600 - 300, CurrentTime);
    XSync(user, False);
    double burstEnd = monotonicSeconds();
    EXPECT_TRUE(answersPing(user, window, 60000)) << "the viewer took in the burst";
    long after = residentKilobytes(child);
    setButton(user, 1, false);
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
    EXPECT_LT(monotonicSeconds() - burstEnd, 5.0) << "Esc still ends it";
    EXPECT_GT(before, 0);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine keeps freed memory resident on purpose
    EXPECT_LT(after - before, 10 * 1024) << "resident size grew from " << before << " kB to " << after << " kB";
#endif
    std::printf("100000 motions: resident size %ld kB before, %ld kB after\n", before, after);
}

// Structure events sent by another client are not the server's word: they
// neither end the viewer nor stop it repainting.
void sendSynthetic(Display* user, Window window, int type) {
    XEvent event{};
    event.type = type;
    event.xany.window = window;  // the event window: the viewer's own
    switch (type) {
    case DestroyNotify: event.xdestroywindow.window = window; break;
    case UnmapNotify: event.xunmap.window = window; break;
    default: break;
    }
    XSendEvent(user, window, False, StructureNotifyMask, &event);
    XSync(user, False);
}

TEST_F(ViewerUnderFaults, ASyntheticDestroyNotifyChangesNothing) {
    ASSERT_NE(start(), 0u);
    sendSynthetic(user, window, DestroyNotify);
    EXPECT_TRUE(answersPing(user, window, 20000)) << "the viewer took in the synthetic event";
    ASSERT_TRUE(isRunning(child));
    EXPECT_TRUE(keepsChanging()) << "it goes on drawing";
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
    EXPECT_EQ(errorText(), "");
}

TEST_F(ViewerUnderFaults, ASyntheticUnmapNotifyDoesNotStopItRepaintingWhatWasCovered) {
    ASSERT_NE(start(), 0u);
    std::vector<uint32_t> stopped = stopModel();
    ASSERT_FALSE(stopped.empty());
    sendSynthetic(user, window, UnmapNotify);
    coverAndUncover(50, 400);
    EXPECT_TRUE(waitUntil([&] { return screen() == stopped; }, 20000)) << "what was covered is drawn again";
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
}

// However many events another client sends, the viewer takes them in
// without a round trip each and answers Esc at once.
void expectEscapeAnsweredAfterAStorm(Display* user, pid_t child, Window window, int type) {
    for (int i = 0; i < 100000; ++i) {
        XEvent event{};
        event.type = type;
        if (type == ConfigureNotify) {
            event.xconfigure.event = event.xconfigure.window = window;
            event.xconfigure.x = i % 700;
            event.xconfigure.y = i % 500;
            event.xconfigure.width = 100 + i % 900;
            event.xconfigure.height = 100 + i % 800;
            XSendEvent(user, window, False, StructureNotifyMask, &event);
        } else {
            event.xexpose.window = window;
            event.xexpose.width = event.xexpose.height = 10;
            XSendEvent(user, window, False, ExposureMask, &event);
        }
    }
    XSync(user, False);
    double pressed = monotonicSeconds();
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
    double answered = monotonicSeconds() - pressed;
    std::printf("after 100000 events of type %d, Esc ended it in %.3f s\n", type, answered);
    EXPECT_LT(answered, 5.0);  // typically well under a tenth of a second
}

TEST_F(ViewerUnderFaults, AStormOfSyntheticConfigureNotifyLeavesItAnsweringEsc) {
    ASSERT_NE(start(), 0u);
    expectEscapeAnsweredAfterAStorm(user, child, window, ConfigureNotify);
}

TEST_F(ViewerUnderFaults, AStormOfExposeLeavesItAnsweringEsc) {
    ASSERT_NE(start(), 0u);
    expectEscapeAnsweredAfterAStorm(user, child, window, Expose);
}

// A box that another client takes away fails as the platform's call fails;
// the program goes on as its code says.
TEST_F(ViewerUnderFaults, ANoticeThatAnotherClientDestroysLetsTheProgramGoOn) {
    Window notice = startAndWaitForNotice();
    ASSERT_NE(notice, 0u);
    // Once its text is drawn, the box holds drawing resources of its window.
    const Rgb face = rgbOf(0xf0 / 255.0f, 0xf0 / 255.0f, 0xf0 / 255.0f);
    ASSERT_TRUE(waitUntil([&] { return closeTo(pixelAt(user, notice, 2, 2), face); }, 10000));
    XDestroyWindow(user, notice);
    XSync(user, False);
    window = waitForWindowNamed(user, "vorandile ", 20000);
    ASSERT_NE(window, 0u) << "the window follows the notice";
    EXPECT_TRUE(keepsChanging());
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 20000), 0);
    EXPECT_EQ(errorText(), "") << "nothing to report: the box's end was expected";
}

class ViewerWithoutGlxUnderFaults : public ViewerUnderFaults {
    std::vector<std::string> serverArguments() const override {
        return serverWithoutGlx();
    }
};

TEST_F(ViewerWithoutGlxUnderFaults, AnErrorBoxThatAnotherClientDestroysEndsItWithOne) {
    ASSERT_NE(startAndWaitForNotice(), 0u);
    Window box = dismissNoticeAndWaitForErrorBox();
    ASSERT_NE(box, 0u);
    XDestroyWindow(user, box);
    XSync(user, False);
    EXPECT_EQ(waitForExit(child, 10000), 1);
}

}  // namespace
