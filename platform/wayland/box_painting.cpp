// A message box's picture, the same as the X11 back end draws on its window.
#include "platform/wayland/box_painting.h"

namespace {

const uint32_t black = 0xff000000, white = 0xffffffff, face = 0xfff0f0f0, shadow = 0xff808080, red = 0xffd01010;

}  // namespace

void paintMessageBox(Canvas& canvas, const BoxLayout& layout, const BoxFont* font, bool buttonDown) {
    const BoxMetrics& m = layout.metrics;
    fillRectangle(canvas, 0, 0, layout.width, layout.height, face);
    if (layout.errorIcon) {
        fillDisc(canvas, m.margin, m.margin, m.iconSize, red);
        int a = m.margin + m.iconSize * 5 / 16, b = m.margin + m.iconSize - m.iconSize * 5 / 16;
        drawThickLine(canvas, a, a, b, b, m.iconLine, white);
        drawThickLine(canvas, a, b, b, a, m.iconLine, white);
    }
    for (size_t i = 0; i < layout.lines.size(); ++i)
        waylandDrawText(font, canvas, layout.textX, layout.textY + int(i) * layout.lineHeight, layout.lines[i], black);

    fillRectangle(canvas, layout.buttonX, layout.buttonY, m.buttonWidth, m.buttonHeight, buttonDown ? shadow : white);
    outlineRectangle(canvas, layout.buttonX, layout.buttonY, m.buttonWidth, m.buttonHeight, black);
    const std::string label = "OK";
    int labelX = layout.buttonX + (m.buttonWidth - waylandTextWidth(font, label)) / 2;
    int labelY = layout.buttonY + (m.buttonHeight + waylandFontAscent(font) - waylandFontDescent(font)) / 2;
    waylandDrawText(font, canvas, labelX, labelY, label, black);
}
