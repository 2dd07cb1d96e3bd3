// What the layer draws of a message box in memory, as the Wayland back end shows it: its text,
// clipping at any coordinates, and the box's picture.
#include "platform/pixels/box_painting.h"
#include "platform/wayland/internal.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const uint32_t guard = 0x5a5a5a5a, black = 0xff000000;

// A white canvas in the middle of a larger buffer whose margin must stay
// untouched: no drawing makes a pixel the guard's (translucent) value.
struct GuardedCanvas {
    std::vector<uint32_t> buffer;
    Canvas canvas;
    GuardedCanvas(int width, int height) : buffer(size_t(width + 32) * size_t(height + 32), guard) {
        canvas = Canvas{buffer.data() + 16 * (width + 32) + 16, width, height, width + 32};
        for (int y = 0; y < height; ++y) std::fill(&at(0, y), &at(0, y) + width, 0xffffffff);
    }
    uint32_t& at(int x, int y) { return canvas.pixels[y * canvas.stride + x]; }
    bool guardIntact() {
        return std::count(buffer.begin(), buffer.end(), guard) == long(buffer.size()) - canvas.width * canvas.height;
    }
};

int brightness(uint32_t pixel) { return int(((pixel >> 16) & 0xff) + ((pixel >> 8) & 0xff) + (pixel & 0xff)) / 3; }

// Pixels darker than `threshold` (128: strokes; 250: any ink) in a region, and their bounds.
struct Ink {
    int count = 0, left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
};
Ink darkPixels(GuardedCanvas& c, int threshold = 128, int x0 = 0, int y0 = 0, int x1 = INT_MAX, int y1 = INT_MAX) {
    Ink ink;
    for (int y = y0; y < std::min(y1, c.canvas.height); ++y)
        for (int x = x0; x < std::min(x1, c.canvas.width); ++x)
            if (brightness(c.at(x, y)) < threshold) {
                ++ink.count;
                ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x + 1);
                ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y + 1);
            }
    return ink;
}

using Font = std::unique_ptr<BoxFont>;
Font openFont(double dpi) { return openPixelBoxFont(dpi); }

TEST(BoxText, LandsInTheBoxItsMeasuresGive) {
    for (double dpi : {48.0, 96.0, 144.0, 288.0, 1000.0})
        for (const char* text : {"OK", "Hello, world", "M\xe9nage \xc3\x89t\xc3\xa9", "Disk full", "OK Cancel"}) {
            SCOPED_TRACE(testing::Message() << dpi << " dpi: " << text);
            Font font = openFont(dpi);
            GuardedCanvas c(600, 200);
            int width = font->textWidth(text), at96 = openFont(96)->textWidth(text);
            double scale = std::min(dpi, maximumTextDpi) / 96;  // beyond the bounds, the bounds
            EXPECT_NEAR(width, at96 * scale, at96 * scale / 8 + 2);  // hinting rounds each glyph
            int ascent = font->ascent(), descent = font->descent();
            drawPixelText(font.get(), c.canvas, 10, 120, text, black);
            // Strokes within the box, but for a pixel that a letter's arm may reach past its advance.
            Ink ink = darkPixels(c);
            EXPECT_GT(ink.count, width * ascent / 20);
            EXPECT_TRUE(ink.left >= 10 && ink.right <= 11 + width) << ink.left << ".." << ink.right << " in " << width;
            EXPECT_TRUE(ink.top >= 120 - ascent && ink.bottom <= 120 + descent) << ink.top << ".." << ink.bottom;
            // The advance is the ink's, not a guess.
            EXPECT_GT(darkPixels(c, 250).right, 10 + width - width / 6);
            EXPECT_TRUE(c.guardIntact());
            // Bytes of the ANSI code page are Latin-1.
            EXPECT_EQ(font->textWidth("\xe9"), font->textWidth("\xc3\xa9"));
        }
    EXPECT_TRUE(waylandFontDpi(2) == 192.0 && waylandFontDpi(1.25) == 120.0 && waylandFontDpi(100) == maximumTextDpi);
}

TEST(BoxText, WithoutAnyScalableFontTextIsMeasuredAndNotDrawn) {
    auto withoutFonts = [] {
        char path[] = "/tmp/vorandile-fonts-XXXXXX";
        FILE* config = fdopen(mkstemp(path), "w");
        std::fputs("<fontconfig></fontconfig>", config);
        std::fclose(config);
        setenv("FONTCONFIG_FILE", path, 1);
        FcFini();  // read again, from that file
        Font font = openFont(96);
        GuardedCanvas c(100, 40);
        drawPixelText(font.get(), c.canvas, 5, 30, "abc", black);
        std::remove(path);
        return font->textWidth("abc") == 18 && font->ascent() == 11 &&
               font->descent() == 2 && darkPixels(c, 250).count == 0;
    };
    EXPECT_EXIT(std::exit(withoutFonts() ? 0 : 1), testing::ExitedWithCode(0), "");
}

// Far-off, partly-off and degenerate shapes: nothing outside the canvas,
// and the part inside drawn (at a given pixel, or -1).
TEST(PixelCanvas, ClipsEveryShape) {
    static const uint8_t mask[4] = {255, 255, 255, 255};
    struct Case {
        const char* name;
        std::function<void(Canvas&)> draw;
        int insideX, insideY;
    } cases[] = {
        {"rectangle at the corner", [](Canvas& c) { fillRectangle(c, -5, -5, 6, 6, black); }, 0, 0},
        {"rectangle past the end", [](Canvas& c) { fillRectangle(c, 39, 29, INT_MAX, INT_MAX, black); }, 39, 29},
        {"negative rectangle", [](Canvas& c) { fillRectangle(c, 10, 10, -20, -20, black); }, -1, -1},
        {"outline at the end", [](Canvas& c) { outlineRectangle(c, 35, 25, INT_MAX, INT_MAX, black); }, 35, 29},
        {"disc over the edge", [](Canvas& c) { fillDisc(c, 30, 20, 20, black); }, 39, 29},
        {"huge disc", [](Canvas& c) { fillDisc(c, INT_MIN, INT_MIN, INT_MAX, black); }, -1, -1},
        {"line from afar", [](Canvas& c) { drawThickLine(c, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 9, black); }, 15, 15},
        {"mask past the end", [](Canvas& c) { blendMask(c, 39, 29, mask, 2, 2, 2, black); }, 39, 29},
        {"mask far off", [](Canvas& c) { blendMask(c, INT_MAX - 1, INT_MIN, mask, 2, 2, 2, black); }, -1, -1},
        {"bytes that are no character", [](Canvas& c) {
             const char* bytes = "\xf4\x8f\xbf\xbf\xef\xbf\xbe\x80\xff\xed\xa0\x80\xf0\x9f";
             drawPixelText(openFont(96).get(), c, 0, 20, bytes, black);
         }, -1, -1},
        {"text far off", [](Canvas& c) { drawPixelText(openFont(96).get(), c, INT_MAX - 3, 20, "WW", black); }, -1,
         -1},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        GuardedCanvas c(40, 30);
        each.draw(c.canvas);
        EXPECT_TRUE(c.guardIntact());
        if (each.insideX >= 0) EXPECT_LT(brightness(c.at(each.insideX, each.insideY)), 128);
    }
}

// A one-line box, laid out as the layer lays one out at 96 dpi.
TEST(BoxPainting, ShowsTheErrorMarkTextAndButton) {
    Font font = openFont(96);
    int ascent = font->ascent(), lineHeight = ascent + font->descent() + 2;
    for (bool errorIcon : {true, false}) {
        BoxLayout l{{16, 32, 88, 26, 240, 3}, {"Out of memory."}, 240, 106, errorIcon ? 64 : 16,
                    16 + (32 - lineHeight) / 2 + ascent, lineHeight, 76, 64, errorIcon};
        GuardedCanvas raised(l.width, l.height), pressed(l.width, l.height);
        paintMessageBox(raised.canvas, l, font.get(), false);
        paintMessageBox(pressed.canvas, l, font.get(), true);
        EXPECT_TRUE(raised.guardIntact() && pressed.guardIntact());
        int reds = 0;
        for (int y = 16; y < 48; ++y)
            for (int x = 16; x < 48; ++x) reds += raised.at(x, y) == 0xffd01010;
        EXPECT_EQ(reds > 300, errorIcon);
        if (errorIcon) EXPECT_EQ(raised.at(32, 32), 0xffffffffu);  // the X's crossing
        EXPECT_EQ(raised.at(2, l.height - 2), 0xfff0f0f0u);
        // The outline: the button's corner, right side and bottom row.
        EXPECT_TRUE(raised.at(76, 64) == black && raised.at(163, 76) == black && raised.at(120, 89) == black);
        Ink text = darkPixels(raised, 128, l.textX, 0, l.width, 50), label = darkPixels(raised, 128, 77, 65, 163, 89);
        EXPECT_TRUE(text.count > 30 && text.left < l.textX + 2 && text.bottom > 30) << text.count;
        EXPECT_TRUE(label.count > 10 && label.left > 100 && label.right < 140) << label.left << ".." << label.right;
        // Pressed, the button's face is grey all over.
        EXPECT_GT(darkPixels(pressed, 250, 77, 65, 163, 89).count, 86 * 24 * 9 / 10);
        EXPECT_LT(darkPixels(raised, 250, 77, 65, 163, 89).count, 86 * 24 / 3);
    }
}

}  // namespace
