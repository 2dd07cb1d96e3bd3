// What the Wayland back end draws of a message box, in memory: its text,
// clipping at any coordinates, and the box's picture.
#include "platform/wayland/box_painting.h"

#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

const uint32_t background = 0xffffffff, guard = 0x5a5a5a5a;

// A canvas in the middle of a larger buffer whose margin must stay untouched.
struct GuardedCanvas {
    static const int border = 16;
    std::vector<uint32_t> buffer;
    Canvas canvas;
    GuardedCanvas(int width, int height) : buffer(size_t(width + 2 * border) * size_t(height + 2 * border), guard) {
        int stride = width + 2 * border;
        canvas = Canvas{buffer.data() + border * stride + border, width, height, stride};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) at(x, y) = background;
    }
    uint32_t& at(int x, int y) { return canvas.pixels[y * canvas.stride + x]; }
    bool guardIntact() {
        for (int y = -border; y < canvas.height + border; ++y)
            for (int x = -border; x < canvas.width + border; ++x)
                if ((x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) && at(x, y) != guard) return false;
        return true;
    }
};

int brightness(uint32_t pixel) { return int(((pixel >> 16) & 0xff) + ((pixel >> 8) & 0xff) + (pixel & 0xff)) / 3; }

struct Ink {
    int count = 0, left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
};
// Pixels darker than `threshold`: 128 for strokes, 250 for any ink at all.
Ink darkPixels(GuardedCanvas& c, int x0, int y0, int x1, int y1, int threshold = 128) {
    Ink ink;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (brightness(c.at(x, y)) < threshold) {
                ++ink.count;
                ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x + 1);
                ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y + 1);
            }
    return ink;
}

using Font = std::unique_ptr<BoxFont, void (*)(BoxFont*)>;
Font openFont(double dpi) { return Font(waylandOpenBoxFont(dpi), waylandCloseBoxFont); }

TEST(WaylandBoxText, LandsInTheBoxItsMeasuresGive) {
    for (double dpi : {48.0, 96.0, 144.0, 288.0}) {
        Font font = openFont(dpi);
        for (const char* text : {"OK", "Hello, world", "M\xe9nage \xc3\x89t\xc3\xa9", "Disk full"}) {
            SCOPED_TRACE(testing::Message() << dpi << " dpi: " << text);
            GuardedCanvas c(600, 200);
            int width = waylandTextWidth(font.get(), text), baseline = 120;
            int ascent = waylandFontAscent(font.get()), descent = waylandFontDescent(font.get());
            waylandDrawText(font.get(), c.canvas, 10, baseline, text, 0xff000000);
            // Strokes within the box; a faint edge may reach a pixel past an advance.
            Ink ink = darkPixels(c, 0, 0, 600, 200);
            EXPECT_GT(ink.count, width * ascent / 20);
            EXPECT_GE(ink.left, 10);
            EXPECT_LE(ink.right, 10 + width);
            EXPECT_GE(ink.top, baseline - ascent);
            EXPECT_LE(ink.bottom, baseline + descent);
            // The advance is the ink's, not a guess.
            EXPECT_GT(darkPixels(c, 0, 0, 600, 200, 250).right, 10 + width - width / 6);
            EXPECT_TRUE(c.guardIntact());
        }
    }
}

TEST(WaylandBoxText, GrowsWithTheResolution) {
    int at96 = waylandTextWidth(openFont(96).get(), "OK Cancel");
    EXPECT_GT(at96, 20);
    EXPECT_NEAR(waylandTextWidth(openFont(192).get(), "OK Cancel"), 2 * at96, at96 / 6 + 2);
    EXPECT_NEAR(waylandTextWidth(openFont(288).get(), "OK Cancel"), 3 * at96, at96 / 4 + 3);
    // Beyond the layer's bounds, resolutions are those bounds.
    EXPECT_EQ(waylandTextWidth(openFont(4000).get(), "OK"), waylandTextWidth(openFont(maximumTextDpi).get(), "OK"));
    EXPECT_EQ(waylandFontDpi(1), 96.0);
    EXPECT_EQ(waylandFontDpi(2), 192.0);
    EXPECT_EQ(waylandFontDpi(100), maximumTextDpi);
}

TEST(WaylandBoxText, AnsiBytesAreLatin1AndAnyCodePointIsSafe) {
    Font font = openFont(96);
    EXPECT_EQ(waylandTextWidth(font.get(), "\xe9"), waylandTextWidth(font.get(), "\xc3\xa9"));
    EXPECT_EQ(waylandTextWidth(font.get(), "OKOK"), 2 * waylandTextWidth(font.get(), "OK"));
    GuardedCanvas c(100, 40);
    waylandDrawText(font.get(), c.canvas, 5, 30, "\xe9", 0xff000000);
    EXPECT_GT(darkPixels(c, 0, 0, 100, 40).count, 5);
    // No face has these; truncated and stray bytes too.
    for (const char* text : {"\xf4\x8f\xbf\xbf", "\xef\xbf\xbe", "\xf0\x9f", "\x80\xff", "a\xed\xa0\x80z"}) {
        EXPECT_GE(waylandTextWidth(font.get(), text), 0);
        waylandDrawText(font.get(), c.canvas, 5, 30, text, 0xff000000);
    }
    EXPECT_TRUE(c.guardIntact());
}

TEST(WaylandBoxText, WithoutAnyScalableFontTextIsMeasuredAndNotDrawn) {
    EXPECT_EXIT(
        {
            char path[] = "/tmp/vorandile-fonts-XXXXXX";
            int file = mkstemp(path);
            FILE* config = fdopen(file, "w");
            std::fputs("<fontconfig></fontconfig>", config);
            std::fclose(config);
            setenv("FONTCONFIG_FILE", path, 1);
            FcFini();
            Font font = openFont(96);
            GuardedCanvas c(100, 40);
            waylandDrawText(font.get(), c.canvas, 5, 30, "abc", 0xff000000);
            bool fallback = waylandTextWidth(font.get(), "abc") == 18 && waylandFontAscent(font.get()) == 11 &&
                            waylandFontDescent(font.get()) == 2 && darkPixels(c, 0, 0, 100, 40).count == 0;
            std::remove(path);
            std::exit(fallback ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Far-off, partly-off and degenerate shapes: nothing outside the canvas,
// and (for those that overlap it) the part inside drawn.
TEST(WaylandCanvas, ClipsEveryShape) {
    const uint32_t ink = 0xff000000;
    static const uint8_t mask[4] = {255, 255, 255, 255};
    struct Case {
        const char* name;
        std::function<void(Canvas&)> draw;
        int insideX, insideY;  // a pixel it must darken, or -1
    } cases[] = {
        {"rectangle over all", [&](Canvas& c) { fillRectangle(c, INT_MIN, INT_MIN, INT_MAX, INT_MAX, ink); }, -1, -1},
        {"rectangle at the corner", [&](Canvas& c) { fillRectangle(c, -5, -5, 6, 6, ink); }, 0, 0},
        {"rectangle past the end", [&](Canvas& c) { fillRectangle(c, 39, 29, INT_MAX, INT_MAX, ink); }, 39, 29},
        {"rectangle far off", [&](Canvas& c) { fillRectangle(c, INT_MAX, INT_MAX, INT_MAX, INT_MAX, ink); }, -1, -1},
        {"negative rectangle", [&](Canvas& c) { fillRectangle(c, 10, 10, -20, -20, ink); }, -1, -1},
        {"outline around all", [&](Canvas& c) { outlineRectangle(c, -1, -1, 42, 32, ink); }, -1, -1},
        {"outline at the end", [&](Canvas& c) { outlineRectangle(c, 35, 25, INT_MAX, INT_MAX, ink); }, 35, 29},
        {"outline from far", [&](Canvas& c) { outlineRectangle(c, INT_MIN, INT_MIN, INT_MAX, INT_MAX, ink); }, -1, -1},
        {"disc over the edge", [&](Canvas& c) { fillDisc(c, 30, 20, 20, ink); }, 39, 29},
        {"huge disc", [&](Canvas& c) { fillDisc(c, INT_MIN, INT_MIN, INT_MAX, ink); }, -1, -1},
        {"line across", [&](Canvas& c) { drawThickLine(c, -1000, 15, 1000, 15, 3, ink); }, 0, 15},
        {"line from afar", [&](Canvas& c) { drawThickLine(c, INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MAX, ink); }, 20, 15},
        {"mask at the corner", [&](Canvas& c) { blendMask(c, -1, -1, mask, 2, 2, 2, ink); }, 0, 0},
        {"mask far off", [&](Canvas& c) { blendMask(c, INT_MAX - 1, INT_MIN, mask, 2, 2, 2, ink); }, -1, -1},
        {"text far off", [&](Canvas& c) { waylandDrawText(openFont(96).get(), c, INT_MAX - 3, 20, "WWW", ink); }, -1, -1},
        {"text before", [&](Canvas& c) { waylandDrawText(openFont(96).get(), c, INT_MIN, INT_MIN, "WWW", ink); }, -1, -1},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        GuardedCanvas c(40, 30);
        each.draw(c.canvas);
        EXPECT_TRUE(c.guardIntact());
        if (each.insideX >= 0) EXPECT_LT(brightness(c.at(each.insideX, each.insideY)), 128);
    }
}

// A box laid out as the layer lays one out at 96 dpi.
BoxLayout layoutFor(const BoxFont* font, bool errorIcon) {
    BoxLayout l{};
    l.metrics = BoxMetrics{16, 32, 88, 26, 240, 3};
    l.lines = {"Out of memory."};
    l.errorIcon = errorIcon;
    l.lineHeight = waylandFontAscent(font) + waylandFontDescent(font) + 2;
    l.textX = errorIcon ? 64 : 16;
    l.textY = 16 + (32 - l.lineHeight) / 2 + waylandFontAscent(font);
    l.width = 240;
    l.buttonX = (240 - 88) / 2;
    l.buttonY = 16 + 32 + 16;
    l.height = l.buttonY + 26 + 16;
    return l;
}

TEST(WaylandBoxPainting, ShowsTheErrorMarkTextAndButton) {
    Font font = openFont(96);
    auto average = [](GuardedCanvas& c, int x0, int y0, int x1, int y1) {
        long sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) sum += brightness(c.at(x, y));
        return sum / ((x1 - x0) * (y1 - y0));
    };
    for (bool errorIcon : {true, false}) {
        BoxLayout l = layoutFor(font.get(), errorIcon);
        GuardedCanvas raised(l.width, l.height), pressed(l.width, l.height);
        paintMessageBox(raised.canvas, l, font.get(), false);
        paintMessageBox(pressed.canvas, l, font.get(), true);
        EXPECT_TRUE(raised.guardIntact() && pressed.guardIntact());
        int reds = 0;
        for (int y = 16; y < 48; ++y)
            for (int x = 16; x < 48; ++x) reds += raised.at(x, y) == 0xffd01010;
        EXPECT_EQ(reds > 300, errorIcon);
        if (errorIcon) EXPECT_EQ(raised.at(32, 32), 0xffffffff);  // the X's crossing
        EXPECT_EQ(raised.at(2, l.height - 2), 0xfff0f0f0);
        EXPECT_GT(darkPixels(raised, l.textX, 16, l.width, 48).count, 30);
        int bx = l.buttonX, by = l.buttonY;
        EXPECT_EQ(raised.at(bx, by), 0xff000000);
        EXPECT_EQ(raised.at(bx + 87, by + 25), 0xff000000);
        EXPECT_GT(darkPixels(raised, bx + 1, by + 1, bx + 87, by + 25).count, 10);  // "OK"
        EXPECT_GT(average(raised, bx + 1, by + 1, bx + 87, by + 25), average(pressed, bx + 1, by + 1, bx + 87, by + 25) + 60);
    }
}

}  // namespace
