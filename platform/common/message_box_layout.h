// The layout of a message box: the platform's own, whatever display system
// draws it.
#pragma once

#include "platform/common/internal.h"

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
// where that fits, its lines wrapped to the screen's width, with smaller
// text where it must, and never larger than the screen. `font` is opened
// for the box and is the caller's to close.
BoxLayout fitLayout(const char* text, bool errorIcon, const ScreenSize& screen, BoxFont** font);
bool insideButton(const BoxLayout& layout, int x, int y);

// Text the program passes in the ANSI code page, as UTF-8: valid UTF-8 stays
// as it is, any other byte is taken as Latin-1.
std::string textAsUtf8(const std::string& text);
