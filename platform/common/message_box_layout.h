// A message box as the platform has it, whatever display system draws it:
// its layout, colours, and what its keys and button do.
#pragma once

#include "platform/common/internal.h"

#include <memory>
#include <string>
#include <vector>

// The box's measures at 96 dots per inch; they grow with the resolution.
struct BoxMetrics {
    int margin, iconSize, buttonWidth, buttonHeight, minimumWidth, iconLine;
};

struct BoxLayout {
    BoxMetrics metrics;
    std::vector<std::string> lines;
    int width, height;
    int textX, textY, lineHeight;
    int buttonX, buttonY;
    bool errorIcon;
};

// The box laid out for the screen it is on: at the desktop's resolution
// `dpi` where that fits, its lines wrapped to the screen's width, with
// smaller text where it must, and never larger than the screen. `font` is
// the one `openFont` opened for the box, at the resolution chosen.
using BoxFontOpener = std::unique_ptr<BoxFont> (*)(double dpi);
BoxLayout fitLayout(const char* text, bool errorIcon, const ScreenSize& screen, double dpi, BoxFontOpener openFont,
                    std::unique_ptr<BoxFont>* font);
bool insideButton(const BoxLayout& layout, int x, int y);

// The box's colours, as 0xRRGGBB.
namespace boxColour {
const uint32_t face = 0xf0f0f0, text = 0x000000, button = 0xffffff, buttonPressed = 0x808080, mark = 0xd01010,
               markLines = 0xffffff;
}

// Whether a key (its symbol, as X11 and xkbcommon number them) dismisses
// the box: Return, Enter, Space and Escape press its only button.
bool dismissesBox(uint32_t keySymbol);

// The OK button: pressed by the first button inside it, it dismisses the
// box when released inside it, and springs back when released elsewhere.
struct BoxButton {
    bool down = false;
    // Whether the button went down, and so looks pressed.
    bool press(const BoxLayout& layout, int x, int y);
    // Whether the box is dismissed; `sprangBack` when the button looks
    // raised again.
    bool release(const BoxLayout& layout, int x, int y, bool* sprangBack);
};

// Text the program passes in the ANSI code page, as UTF-8: valid UTF-8 stays
// as it is, any other byte is taken as Latin-1.
std::string textAsUtf8(const std::string& text);
