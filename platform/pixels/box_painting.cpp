// A message box's picture in memory, and the title bar a box draws itself
// where the display system draws none.
#include "platform/pixels/box_painting.h"

#include <algorithm>

namespace {

const uint32_t opaque = 0xff000000;
// The title bar the box draws itself where the compositor draws none.
const uint32_t captionColour = 0xff1f4e8c, captionText = 0xffffffff, closePressed = 0xffc42b1c;

class CanvasPainter : public BoxPainter {
public:
    explicit CanvasPainter(Canvas& target) : canvas(target) {}
    void fillRectangle(int x, int y, int width, int height, uint32_t rgb) override {
        ::fillRectangle(canvas, x, y, width, height, opaque | rgb);
    }
    void outlineRectangle(int x, int y, int width, int height, uint32_t rgb) override {
        ::outlineRectangle(canvas, x, y, width, height, opaque | rgb);
    }
    void fillDisc(int x, int y, int size, uint32_t rgb) override { ::fillDisc(canvas, x, y, size, opaque | rgb); }
    void drawLine(int x0, int y0, int x1, int y1, int lineWidth, uint32_t rgb) override {
        drawThickLine(canvas, x0, y0, x1, y1, lineWidth, opaque | rgb);
    }
    void drawText(const BoxFont* font, int x, int baselineY, const std::string& text) override {
        drawPixelText(font, canvas, x, baselineY, text, opaque | boxColour::text);
    }

private:
    Canvas& canvas;
};

}  // namespace

void paintMessageBox(Canvas& canvas, const BoxLayout& layout, const BoxFont* font, bool buttonDown) {
    CanvasPainter painter(canvas);
    paintBox(painter, layout, font, buttonDown);
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
    drawPixelText(font, titleBar, side / 3, baseline, caption, captionText);
    // The close button covers a caption too long for the bar.
    int left = titleBar.width - side;
    fillRectangle(titleBar, left, 0, side, side, closeDown ? closePressed : captionColour);
    int inset = side * 3 / 10, line = std::max(1, side / 14);
    drawThickLine(titleBar, left + inset, inset, left + side - inset, side - inset, line, captionText);
    drawThickLine(titleBar, left + inset, side - inset, left + side - inset, inset, line, captionText);
}
