// Logical palette entries computed from a pixel format's channel layout.
#include "surface/surface.h"

#include "support/palette_formats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PaletteEntries, ThreeThreeTwoLayout) {
    std::vector<unsigned char> buffer = paletteBuffer(256);
    LOGPALETTE* palette = reinterpret_cast<LOGPALETTE*>(buffer.data());
    ASSERT_TRUE(fillPaletteEntries(format332(), palette));
    EXPECT_EQ(palette->palVersion, 0x300);
    EXPECT_EQ(palette->palNumEntries, 256);
    const PALETTEENTRY& e = palette->palPalEntry[0x4A];
    EXPECT_EQ(e.peRed, 72);
    EXPECT_EQ(e.peGreen, 36);
    EXPECT_EQ(e.peBlue, 85);
    EXPECT_EQ(e.peFlags, 0);
    // All-zero bits give 0, all-ones give 255, channel by channel.
    const PALETTEENTRY& black = palette->palPalEntry[0];
    EXPECT_EQ(black.peRed + black.peGreen + black.peBlue, 0);
    const PALETTEENTRY& white = palette->palPalEntry[255];
    EXPECT_EQ(white.peRed, 255);
    EXPECT_EQ(white.peGreen, 255);
    EXPECT_EQ(white.peBlue, 255);
    const PALETTEENTRY& red = palette->palPalEntry[0x07];
    EXPECT_EQ(red.peRed, 255);
    EXPECT_EQ(red.peGreen, 0);
    EXPECT_EQ(red.peBlue, 0);
    const PALETTEENTRY& blue = palette->palPalEntry[0xC0];
    EXPECT_EQ(blue.peRed + blue.peGreen, 0);
    EXPECT_EQ(blue.peBlue, 255);
}

TEST(PaletteEntries, EveryEntryFollowsFromItsIndexAlone) {
    std::vector<unsigned char> buffer = paletteBuffer(256);
    LOGPALETTE* palette = reinterpret_cast<LOGPALETTE*>(buffer.data());
    fillPaletteEntries(format332(), palette);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(palette->palPalEntry[i].peRed, (i & 7) * 255 / 7);
        EXPECT_EQ(palette->palPalEntry[i].peGreen, ((i >> 3) & 7) * 255 / 7);
        EXPECT_EQ(palette->palPalEntry[i].peBlue, ((i >> 6) & 3) * 255 / 3);
    }
}

TEST(PaletteEntries, AChannelWithoutBitsIsZeroInsteadOfADivisionByZero) {
    PIXELFORMATDESCRIPTOR format = format332();
    format.cBlueBits = 0;
    format.cColorBits = 6;
    std::vector<unsigned char> buffer = paletteBuffer(64);
    LOGPALETTE* palette = reinterpret_cast<LOGPALETTE*>(buffer.data());
    ASSERT_TRUE(fillPaletteEntries(format, palette));
    EXPECT_EQ(palette->palNumEntries, 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(palette->palPalEntry[i].peBlue, 0);
    EXPECT_EQ(palette->palPalEntry[63].peRed, 255);
}

TEST(PaletteEntries, FormatsDeeperThanSixteenBitsHaveNoPalette) {
    PIXELFORMATDESCRIPTOR format = format332();
    format.cColorBits = 24;
    LOGPALETTE palette = {};
    EXPECT_FALSE(fillPaletteEntries(format, &palette));
    EXPECT_EQ(palette.palNumEntries, 0);
}

}  // namespace
