#include "message_table.h"

#include "x_user.h"

#include <cstdio>
#include <fstream>
#include <sstream>

bool parseSize(const std::string& text, Size* size) {
    return std::sscanf(text.c_str(), "%dx%d", &size->width, &size->height) == 2;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    std::vector<std::string> list;
    for (std::string word; stream >> word;) list.push_back(word);
    return list;
}

namespace {

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

}  // namespace

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


std::vector<std::string> traceFrom(const std::string& path, size_t from) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    std::string line;
    for (size_t index = 0; std::getline(file, line); ++index) {
        if (index < from || (!lines.empty() && lines.back() == line)) continue;
        if (from > 0 && lines.empty() && line == "WM_PAINT") continue;
        lines.push_back(line);
    }
    return lines;
}

// The reference is what the Windows build's window receives under Wine on
// a real manager; where the two builds must differ, the table says why.
const std::vector<Scenario> windowStateScenarios = {
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
      {"escape", {"WM_KEYDOWN 27", "WM_CHAR 27", "WM_DESTROY", "exit 0"}}}},
};

const std::vector<std::string> heldKeyMessages = {"WM_KEYDOWN 81", "WM_KEYDOWN 81 repeat", "WM_KEYUP 81"};

std::vector<std::string> keyMessages(const std::string& path) {
    std::vector<std::string> keys;
    for (const std::string& line : traceFrom(path, 0))
        if (line.rfind("WM_KEY", 0) == 0 && (keys.empty() || keys.back() != line)) keys.push_back(line);
    return keys;
}

size_t traceLength(const std::string& path) {
    std::ifstream file(path);
    size_t count = 0;
    for (std::string line; std::getline(file, line);) ++count;
    return count;
}

bool traceReaches(const std::string& path, size_t from, const Step& step, Size* client,
                  std::vector<std::string>* seen) {
    return waitUntil(
        [&] {
            *seen = traceFrom(path, from);
            for (const std::string& line : *seen) {
                std::vector<std::string> told = words(line);
                if (!client->width && told.size() >= 3 && told[0] == "WM_SIZE" && told[1] == "restored")
                    parseSize(told[2], client);
            }
            return matchesAll(*seen, step.expected, *client);
        },
        20000);
}

std::string followSteps(const std::vector<Step>& steps, const std::string& tracePath,
                        const std::function<bool(const std::string&)>& act) {
    Size client;
    size_t from = 0;
    for (const Step& step : steps) {
        if (!act(step.action)) return std::string(step.action) + ": could not be done";
        std::vector<std::string> seen;
        if (!traceReaches(tracePath, from, step, &client, &seen))
            return std::string(step.action) + ": expected" + joined(step.expected) + "\n  received" + joined(seen);
        from = traceLength(tracePath);
    }
    return "";
}
