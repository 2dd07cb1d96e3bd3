// The messages the viewer's window procedure receives, step by step, as a
// user maximizes, minimizes, restores and closes its window through a real
// window manager: the program with a trace of its window's messages, checked
// against tables of the sequences the platform delivers. The reference is
// what the Windows build's window receives under Wine on the same manager;
// where the two builds must differ, the table says why.
#include "viewer_desktop.h"

#include <X11/keysym.h>

#include <fstream>
#include <sstream>

namespace {

// A row's entries: a message as the trace writes it (WM_SIZE with the
// window's IsZoomed and IsIconic), where "client" stands for the size the
// window was first told, "larger" for any size beyond it,
// and a trailing "?" marks an entry that may be missing (paint messages,
// whose number depends on how fast the queue empties).
struct Step {
    const char* action;
    std::vector<std::string> expected;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

const Scenario scenarios[] = {
    {"MaximizeMinimizeRestoreClose",
     {{"start", {"WM_CREATE", "WM_SIZE restored client", "WM_PAINT"}},
      // Under Wine the second message is "maximized client zoomed": the
      // platform keeps a window maximized while the program sizes it. But
      // the manager still holds the X window maximized, and Wine's window
      // goes back and forth between the two sizes. An X manager resizes only
      // a window it no longer holds maximized, so the Linux build leaves
      // that state first, and says so.
      {"maximize", {"WM_SIZE maximized larger zoomed", "WM_PAINT?", "WM_SIZE restored client", "WM_PAINT?"}},
      {"minimize", {"WM_SIZE minimized 0x0 iconic"}},
      // Under Wine the window comes back maximized, as it was left, and goes
      // back and forth again; the Linux build comes back at its own size.
      {"restore", {"WM_SIZE restored client", "WM_PAINT"}},
      {"close button", {"WM_CLOSE", "WM_DESTROY", "exit 0"}}}},
    {"FullscreenEscape",
     {{"start", {"WM_CREATE", "WM_SIZE restored client", "WM_PAINT"}},
      {"fullscreen", {"WM_SIZE restored larger", "WM_PAINT?", "WM_SIZE restored client", "WM_PAINT?"}},
      {"escape", {"WM_CHAR 27", "WM_DESTROY", "exit 0"}}}},
};

struct Size {
    int width = 0, height = 0;
};

bool parseSize(const std::string& text, Size* size) {
    return std::sscanf(text.c_str(), "%dx%d", &size->width, &size->height) == 2;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> list;
    for (std::string word; stream >> word;) list.push_back(word);
    return list;
}

// Whether a trace line is what a table entry (without its "?") describes.
bool matches(const std::string& line, const std::string& entry, const Size& client) {
    std::vector<std::string> seen = words(line), wanted = words(entry);
    if (seen.size() != wanted.size()) return false;
    for (size_t i = 0; i < seen.size(); ++i) {
        Size size;
        if (wanted[i] == "client") {
            if (!parseSize(seen[i], &size) || size.width != client.width || size.height != client.height) return false;
        } else if (wanted[i] == "larger") {
            if (!parseSize(seen[i], &size) || size.width < client.width || size.height < client.height ||
                (size.width == client.width && size.height == client.height))
                return false;
        } else if (seen[i] != wanted[i]) {
            return false;
        }
    }
    return true;
}

// Whether `lines` are the entries in order, optional ones present or not.
bool matchesAll(const std::vector<std::string>& lines, const std::vector<std::string>& entries, const Size& client) {
    if (entries.empty()) return lines.empty();
    std::string entry = entries.front();
    bool optional = entry.back() == '?';
    if (optional) entry.pop_back();
    std::vector<std::string> restOfEntries(entries.begin() + 1, entries.end());
    if (!lines.empty() && matches(lines.front(), entry, client) &&
        matchesAll(std::vector<std::string>(lines.begin() + 1, lines.end()), restOfEntries, client))
        return true;
    return optional && matchesAll(lines, restOfEntries, client);
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += "\n    " + line;
    return text.empty() ? " (nothing)" : text;
}

class MessageSequences : public ViewerOnADesktopTest,
                         public testing::WithParamInterface<std::tuple<const char*, Scenario>> {
protected:
    const char* managerName() const override { return std::get<0>(GetParam()); }
    std::vector<std::string> viewerCommand() const override { return {TRACE_BINARY, tracePath()}; }
    std::string tracePath() const { return testing::TempDir() + "trace-" + std::to_string(getpid()) + ".txt"; }

    // The trace's lines from `from` on, repeats of a line folded into one.
    // Past the start, paint messages before the step's first message are
    // the previous step's: a paint comes when the queue has emptied.
    std::vector<std::string> traceFrom(size_t from) {
        std::ifstream file(tracePath());
        std::vector<std::string> lines;
        std::string line;
        for (size_t index = 0; std::getline(file, line); ++index) {
            if (index < from || (!lines.empty() && lines.back() == line)) continue;
            if (from > 0 && lines.empty() && line == "WM_PAINT") continue;
            lines.push_back(line);
        }
        return lines;
    }
    size_t traceLength() {
        std::ifstream file(tracePath());
        size_t count = 0;
        for (std::string line; std::getline(file, line);) ++count;
        return count;
    }

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
    Size client;
    size_t from = 0;
    for (const Step& step : std::get<1>(GetParam()).steps) {
        act(step.action);
        if (HasFatalFailure()) return;
        std::vector<std::string> seen;
        bool matched = waitUntil(
            [&] {
                seen = traceFrom(from);
                for (const std::string& line : seen) {
                    std::vector<std::string> told = words(line);
                    if (!client.width && told.size() >= 3 && told[0] == "WM_SIZE" && told[1] == "restored")
                        parseSize(told[2], &client);
                }
                return matchesAll(seen, step.expected, client);
            },
            15000);
        ASSERT_TRUE(matched) << step.action << ": expected" << joined(step.expected) << "\n  received"
                             << joined(seen);
        from = traceLength();
    }
    EXPECT_EQ(waitForExit(child, 10000), 0);
    EXPECT_EQ(errorText(), "");
}

INSTANTIATE_TEST_SUITE_P(Desktops, MessageSequences,
                         testing::Combine(testing::Values("openbox", "jwm", "mutter"), testing::ValuesIn(scenarios)),
                         [](const testing::TestParamInfo<std::tuple<const char*, Scenario>>& row) {
                             return std::string(std::get<0>(row.param)) + "_" + std::get<1>(row.param).name;
                         });

}  // namespace
