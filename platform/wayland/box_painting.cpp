// A message box's picture, the same as the X11 back end draws on its window.
#include "platform/wayland/box_painting.h"

#include <algorithm>

namespace {

const uint32_t opaque = 0xff000000;
const uint32_t black = opaque | boxColour::text, white = opaque | boxColour::button, face = opaque | boxColour::face,
               shadow = opaque | boxColour::buttonPressed, red = opaque | boxColour::mark,
               markLines = opaque | boxColour::markLines;
// The title bar the box draws itself where the compositor draws none.
const uint32_t captionColour = 0xff1f4e8c, captionText = 0xffffffff, closePressed = 0xffc42b1c;

}  // namespace

void paintMessageBox(Canvas& canvas, const BoxLayout& layout, const BoxFont* font, bool buttonDown) {
    const BoxMetrics& m = layout.metrics;
    fillRectangle(canvas, 0, 0, layout.width, layout.height, face);
    if (layout.errorIcon) {
        fillDisc(canvas, m.margin, m.margin, m.iconSize, red);
        int a = m.margin + m.iconSize * 5 / 16, b = m.margin + m.iconSize - m.iconSize * 5 / 16;
        drawThickLine(canvas, a, a, b, b, m.iconLine, markLines);
        drawThickLine(canvas, a, b, b, a, m.iconLine, markLines);
    }
    for (size_t i = 0; i < layout.lines.size(); ++i)
        waylandDrawText(font, canvas, layout.textX, layout.textY + int(i) * layout.lineHeight, layout.lines[i], black);

    fillRectangle(canvas, layout.buttonX, layout.buttonY, m.buttonWidth, m.buttonHeight, buttonDown ? shadow : white);
    outlineRectangle(canvas, layout.buttonX, layout.buttonY, m.buttonWidth, m.buttonHeight, black);
    const std::string label = "OK";
    int labelX = layout.buttonX + (m.buttonWidth - font->textWidth(label)) / 2;
    int labelY = layout.buttonY + (m.buttonHeight + font->ascent() - font->descent()) / 2;
    waylandDrawText(font, canvas, labelX, labelY, label, black);
}

int boxTitleHeight(const BoxLayout& layout) { return layout.metrics.buttonHeight + layout.metrics.margin / 2; }

// The close button is square, at the right end of the bar.
bool insideCloseButton(const Canvas& titleBar, int x, int y) {
    return x >= titleBar.width - titleBar.height && x < titleBar.width && y >= 0 && y < titleBar.height;
}

void paintBoxTitleBar(Canvas& titleBar, const BoxFont* font, const std::string& caption, bool closeDown) {
    int side = titleBar.height;
    fillRectangle(titleBar, 0, 0, titleBar.width, side, captionColour);
    int baseline = (side + font->ascent() - font->descent()) / 2;
    waylandDrawText(font, titleBar, side / 3, baseline, caption, captionText);
    // The close button covers a caption too long for the bar.
    int left = titleBar.width - side;
    fillRectangle(titleBar, left, 0, side, side, closeDown ? closePressed : captionColour);
    int inset = side * 3 / 10, line = std::max(1, side / 14);
    drawThickLine(titleBar, left + inset, inset, left + side - inset, side - inset, line, captionText);
    drawThickLine(titleBar, left + inset, side - inset, left + side - inset, inset, line, captionText);
}
