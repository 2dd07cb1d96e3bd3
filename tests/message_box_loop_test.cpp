// The message box's own rules, whatever window shows it: what its keys,
// button, close and screen changes do, and what it draws when, played
// against a window that reports a scripted sequence.
#include "platform/common/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct FixedFont : BoxFont {
    int ascent() const override { return 10; }
    int descent() const override { return 2; }
    int textWidth(const std::string& text) const override { return 6 * int(text.size()); }
};
std::unique_ptr<BoxFont> openFixedFont(double) { return std::make_unique<FixedFont>(); }

// A step of the script: what the window reports; a press or release is on
// the box's button or off it.
struct Step {
    BoxEvent::Kind kind;
    uint32_t keySymbol = 0;
    bool onButton = false;
    ScreenSize screen{};
};

class ScriptedWindow : public BoxWindow {
public:
    ScriptedWindow(std::vector<Step> steps, bool shows, bool paints)
        : script(std::move(steps)), showable(shows), paintable(paints) {}
    ScreenSize screen() override { return ScreenSize{1280, 1024}; }
    double dpi() override { return 96; }
    BoxFontOpener fontOpener() override { return openFixedFont; }
    bool show(const BoxLayout& layout) override {
        shown = layout;
        return showable;
    }
    BoxEvent next() override {
        // A script that runs out is a box that did not end when it should.
        if (played == script.size()) throw std::runtime_error("the box asked for more than the script has");
        const Step& step = script[played++];
        BoxEvent event{step.kind};
        event.keySymbol = step.keySymbol;
        event.screen = step.screen;
        event.x = step.onButton ? shown.buttonX + 1 : shown.buttonX - 1;
        event.y = shown.buttonY + 1;
        return event;
    }
    bool paint(const BoxLayout& layout, const BoxFont*, bool buttonDown) override {
        EXPECT_EQ(layout.width, shown.width);
        drawn += buttonDown ? 'P' : 'R';
        return paintable;
    }
    void resize(const BoxLayout& layout) override {
        shown = layout;
        resizedTo.push_back(layout.width);
    }

    std::vector<Step> script;
    bool showable, paintable;
    size_t played = 0;
    BoxLayout shown{};
    std::string drawn;  // a letter a picture: R raised, P pressed
    std::vector<int> resizedTo;
};

using K = BoxEvent::Kind;
const uint32_t returnKey = 0xff0d, escapeKey = 0xff1b, spaceKey = 0x20, letterA = 0x61;

struct Case {
    const char* name;
    std::vector<Step> script;
    int result;
    const char* drawn;
    bool shows = true, paints = true;
};

TEST(MessageBoxLoop, EndsAndDrawsAsTheSequenceSays) {
    const Case cases[] = {
        {"Return", {{K::paint}, {K::key, returnKey}}, IDOK, "R"},
        {"Escape", {{K::key, escapeKey}}, IDOK, ""},
        {"Space", {{K::key, spaceKey}}, IDOK, ""},
        {"a letter does nothing", {{K::key, letterA}, {K::gone}}, 0, ""},
        {"clicked", {{K::paint}, {K::press, 0, true}, {K::release, 0, true}}, IDOK, "RP"},
        {"released off the button", {{K::press, 0, true}, {K::release, 0, false}, {K::gone}}, 0, "PR"},
        {"pressed off the button", {{K::press, 0, false}, {K::release, 0, true}, {K::key, escapeKey}}, IDOK, ""},
        {"closed", {{K::paint}, {K::close}}, IDOK, "R"},
        {"taken away", {{K::paint}, {K::gone}}, 0, "R"},
        {"pressed while the screen changes", {{K::press, 0, true}, {K::screenChanged, 0, false, {320, 200}}, {K::gone}},
         0, "PP"},
        {"a picture it cannot show", {{K::paint}}, 0, "R", true, false},
        {"a window it cannot show", {}, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedWindow window(c.script, c.shows, c.paints);
        EXPECT_EQ(runMessageBox(window, "Out of memory.", MB_OK | MB_ICONERROR), c.result);
        EXPECT_EQ(window.played, c.script.size());
        EXPECT_EQ(window.drawn, c.drawn);
    }
}

TEST(MessageBoxLoop, ALongTextIsLaidOutAgainForASmallerScreen) {
    std::string text(200, 'x');
    ScriptedWindow window({{K::screenChanged, 0, false, {400, 300}}, {K::key, returnKey}}, true, true);
    EXPECT_EQ(runMessageBox(window, text.c_str(), MB_OK), IDOK);
    ASSERT_EQ(window.resizedTo.size(), 1u);
    EXPECT_GT(window.shown.lines.size(), 1u);
    EXPECT_LE(window.shown.width, 400);
    EXPECT_LE(window.shown.height, 300);
    EXPECT_EQ(window.drawn, "R");
}

}  // namespace
