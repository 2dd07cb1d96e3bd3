// The messages the viewer's window procedure receives, step by step, as a
// user maximizes, minimizes, restores and closes its window through a real
// window manager: the program with a trace of its window's messages, checked
// against tables of the sequences the platform delivers (message_table.cpp).
#include "message_table.h"
#include "viewer_desktop.h"

#include <X11/keysym.h>

#include <algorithm>
#include <fstream>

namespace {

class TracedViewer : public ViewerOnADesktopTest {
protected:
    std::vector<std::string> viewerCommand() const override { return {TRACE_BINARY, tracePath()}; }
    std::string tracePath() const { return testing::TempDir() + "trace-" + std::to_string(getpid()) + ".txt"; }
};

class MessageSequences : public TracedViewer,
                         public testing::WithParamInterface<std::tuple<const char*, Scenario>> {
protected:
    const char* managerName() const override { return std::get<0>(GetParam()); }

    void act(const std::string& action) {
        if (action == "start") {
            ASSERT_NE(start(), 0u);
        } else if (action == "maximize") {
            setWindowState(user, window, true, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
        } else if (action == "fullscreen") {
            setWindowState(user, window, true, "_NET_WM_STATE_FULLSCREEN");
        } else if (action == "minimize") {
            minimizeWindow(user, window);
        } else if (action == "restore") {
            activateWindow(user, window);
        } else if (action == "close button") {
            closeWindow(user, window);
        } else if (action == "escape") {
            pressKey(user, XK_Escape);
        } else {
            FAIL() << "no such action: " << action;
        }
    }
};

TEST_P(MessageSequences, AreThePlatformsStepByStep) {
    std::remove(tracePath().c_str());
    ASSERT_EQ(followSteps(std::get<1>(GetParam()).steps, tracePath(),
                          [this](const std::string& action) {
                              act(action);
                              return !HasFatalFailure();
                          }),
              "");
    EXPECT_EQ(waitForExit(child, 10000), 0);
    EXPECT_EQ(errorText(), "");
}

INSTANTIATE_TEST_SUITE_P(Desktops, MessageSequences,
                         testing::Combine(testing::Values("openbox", "jwm", "mutter"), testing::ValuesIn(windowStateScenarios)),
                         [](const testing::TestParamInfo<std::tuple<const char*, Scenario>>& row) {
                             return std::string(std::get<0>(row.param)) + "_" + std::get<1>(row.param).name;
                         });

// The server repeats a held key; the window is told of it as on Wayland and
// on the platform (the table is the one both back ends share).
class HeldKey : public TracedViewer {
protected:
    const char* managerName() const override { return "openbox"; }
};

TEST_F(HeldKey, IsOnePressItsRepeatsAndOneRelease) {
    std::remove(tracePath().c_str());
    ASSERT_NE(start(), 0u);
    // Held until the window has had its repeats, however long the server's
    // repeat delay is.
    setKey(user, XK_q, true);
    bool repeated = waitUntil([&] {
        std::vector<std::string> keys = keyMessages(tracePath());
        return std::find(keys.begin(), keys.end(), "WM_KEYDOWN 81 repeat") != keys.end();
    }, 20000);
    setKey(user, XK_q, false);
    EXPECT_TRUE(repeated) << joined(keyMessages(tracePath()));
    EXPECT_TRUE(waitUntil([&] { return keyMessages(tracePath()) == heldKeyMessages; }, 20000))
        << joined(keyMessages(tracePath()));
    pressKey(user, XK_Escape);
    EXPECT_EQ(waitForExit(child, 10000), 0);
    EXPECT_EQ(errorText(), "");
}

}  // namespace
