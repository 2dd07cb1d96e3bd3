// A test with a headless compositor of its own, started when the test asks
// and stopped with it, together with the program it started there.
#pragma once

#include <gtest/gtest.h>  // before Xlib, which wayland.h brings in

#include "wayland.h"

class WaylandTestBase : public testing::Test {
protected:
    // Skips the test when the compositor or its tools are not installed.
    void startCompositor(Compositor compositor, int scale = 1) {
        std::string missing = missingWaylandTools(compositor);
        if (!missing.empty()) GTEST_SKIP() << "not installed: " << missing << " (scripts/setup.sh installs them)";
        std::string why;
        session = startWayland(compositor, testing::TempDir(), &why, scale);
        ASSERT_FALSE(session.wayland.empty()) << "the compositor did not start: " << why;
    }
    void TearDown() override {
        if (program > 0) waitForExit(program, 0);
        stopWayland(session);
    }

    WaylandSession session;
    pid_t program = -1;  // the client the test started, if any
};
