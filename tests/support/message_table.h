// Tables of the messages a window procedure must receive, step by step,
// and how a trace of the messages it did receive is checked against them.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

struct Size {
    int width = 0, height = 0;
};

bool parseSize(const std::string& text, Size* size);
std::vector<std::string> words(const std::string& text);
// Whether `lines` are the entries in order, optional ones present or not;
// `client` is the size the window was first told.
bool matchesAll(const std::vector<std::string>& lines, const std::vector<std::string>& entries, const Size& client);
// The lines indented one to a line, for a failure's message.
std::string joined(const std::vector<std::string>& lines);

// The trace's lines from `from` on, repeats of a line folded into one. Past
// the start, paint messages before the step's first message are the
// previous step's: a paint comes when the queue has emptied.
std::vector<std::string> traceFrom(const std::string& path, size_t from);
size_t traceLength(const std::string& path);
// Waits until the trace from `from` on is the step's expected sequence;
// `client` is noted from the first WM_SIZE the window is told. `seen` is
// what the trace had last.
bool traceReaches(const std::string& path, size_t from, const Step& step, Size* client,
                  std::vector<std::string>* seen);

// The viewer's window maximized, minimized, restored and closed, and put
// to full screen and left with Escape, by the user through the desktop.
extern const std::vector<Scenario> windowStateScenarios;

// A key held past the keyboard's repeat delay, then let go, as the platform
// tells the window of it: one press, repeats marked as such, one release.
// The key is Q (virtual key 81), which the viewer does nothing with.
extern const std::vector<std::string> heldKeyMessages;
// The key messages of a trace, repeats of a line folded into one.
std::vector<std::string> keyMessages(const std::string& path);

// Takes each step's action (`act` returns false when it could not) and
// waits for the step's messages in the trace; what went wrong, or empty.
std::string followSteps(const std::vector<Step>& steps, const std::string& tracePath,
                        const std::function<bool(const std::string&)>& act);
