// A message box as the platform has it, whatever display system draws it:
// its layout, colours, picture, and what its keys and button do.
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

// A button of a box (its OK button; the close button of a title bar the
// box draws itself): pressed by the first mouse button `inside` it, it acts
// when released inside it, and springs back when released elsewhere.
struct BoxButton {
    bool down = false;
    // Whether the button went down, and so looks pressed.
    bool press(bool inside);
    // Whether the button acts; `sprangBack` when it looks raised again.
    bool release(bool inside, bool* sprangBack);
};

// What a box's window reports to the box's loop.
struct BoxEvent {
    enum class Kind {
        paint,          // the box's picture is wanted
        key,            // `keySymbol` pressed (numbered as X11 and xkbcommon do)
        press,          // the first button pressed at (x, y), in the box's pixels
        release,        // and released there
        close,          // the user closed the box's window
        gone,           // the window could not be shown or was taken away
        screenChanged,  // the screen is now `screen`
    };
    Kind kind;
    uint32_t keySymbol = 0;
    int x = 0, y = 0;
    ScreenSize screen{};
};

// What a back end draws a box's picture with, in the box's pixels. Colours
// are 0xRRGGBB.
struct BoxPainter {
    virtual ~BoxPainter() = default;
    virtual void fillRectangle(int x, int y, int width, int height, uint32_t rgb) = 0;
    // The 1-pixel border just inside that rectangle.
    virtual void outlineRectangle(int x, int y, int width, int height, uint32_t rgb) = 0;
    // The disc inscribed in the square of side `size` at (x, y).
    virtual void fillDisc(int x, int y, int size, uint32_t rgb) = 0;
    // A line with round caps between points on the pixel grid's corners.
    virtual void drawLine(int x0, int y0, int x1, int y1, int lineWidth, uint32_t rgb) = 0;
    // `text` with its baseline's start at (x, baselineY), in boxColour::text.
    virtual void drawText(const BoxFont* font, int x, int baselineY, const std::string& text) = 0;
};

// The box's picture: face, error mark, lines of text and the OK button,
// raised or pressed.
void paintBox(BoxPainter& painter, const BoxLayout& layout, const BoxFont* font, bool buttonDown);

// A back end's window for one message box: it opens the window, draws the
// picture it is given, and reports the box's input; what the box does with
// it is the loop's. Deleting it takes the window down.
struct BoxWindow {
    virtual ~BoxWindow() = default;
    virtual ScreenSize screen() = 0;
    // The desktop's resolution for text, in dots per inch.
    virtual double dpi() = 0;
    virtual BoxFontOpener fontOpener() = 0;
    // Shows the window for `layout`; false when it cannot be.
    virtual bool show(const BoxLayout& layout) = 0;
    // Waits for what the box must act on next.
    virtual BoxEvent next() = 0;
    // Shows the box's picture; false when the window cannot show it.
    virtual bool paint(const BoxLayout& layout, const BoxFont* font, bool buttonDown) = 0;
    // Fits the window to a new layout, as on a screen of another size.
    virtual void resize(const BoxLayout& layout) = 0;
};

// The modal box in `window`, until it is dismissed: IDOK, or 0 when it could
// not be shown or was taken away.
int runMessageBox(BoxWindow& window, const char* text, UINT type);

// Text the program passes in the ANSI code page, as UTF-8: valid UTF-8 stays
// as it is, any other byte is taken as Latin-1.
std::string textAsUtf8(const std::string& text);
