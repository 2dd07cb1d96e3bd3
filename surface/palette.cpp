#include "surface/surface.h"

#include "app/viewer_state.h"

#include <cstdlib>

namespace {

// A channel with no bits has no mask to scale by: its entries are 0.
BYTE channelLevel(int index, int shift, int bits) {
    int mask = (1 << bits) - 1;
    if (mask == 0) return 0;
    return BYTE(((index >> shift) & mask) * 255 / mask);
}

}  // namespace

bool fillPaletteEntries(const PIXELFORMATDESCRIPTOR& format, LOGPALETTE* palette) {
    // palNumEntries is 16 bits wide: deeper formats have no such palette.
    if (format.cColorBits > 16) return false;
    int count = 1 << format.cColorBits;
    palette->palVersion = 0x300;
    palette->palNumEntries = WORD(count);
    for (int i = 0; i < count; ++i) {
        PALETTEENTRY& entry = palette->palPalEntry[i];
        entry.peRed = channelLevel(i, format.cRedShift, format.cRedBits);
        entry.peGreen = channelLevel(i, format.cGreenShift, format.cGreenBits);
        entry.peBlue = channelLevel(i, format.cBlueShift, format.cBlueBits);
        entry.peFlags = 0;
    }
    return true;
}

void buildLogicalPalette(HDC deviceContext) {
    PIXELFORMATDESCRIPTOR format = {};
    DescribePixelFormat(deviceContext, GetPixelFormat(deviceContext), sizeof format, &format);
    if (!(format.dwFlags & PFD_NEED_PALETTE) && format.iPixelType != PFD_TYPE_COLORINDEX) return;
    if (format.cColorBits > 16) return;

    int count = 1 << format.cColorBits;
    LOGPALETTE* buffer =
        static_cast<LOGPALETTE*>(std::malloc(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * size_t(count)));
    if (!buffer) return;  // as if the palette could not be created
    fillPaletteEntries(format, buffer);
    viewer.palette = CreatePalette(buffer);
    std::free(buffer);

    if (viewer.palette) {
        SelectPalette(deviceContext, viewer.palette, FALSE);
        RealizePalette(deviceContext);
    }
}

void reselectPalette() {
    UnrealizeObject(viewer.palette);
    SelectPalette(viewer.deviceContext, viewer.palette, FALSE);
    RealizePalette(viewer.deviceContext);
}
