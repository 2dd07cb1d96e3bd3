// The common 8-bit layout with 3 red, 3 green and 2 blue bits, and a buffer
// for a logical palette of it, for the palette tests.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <vector>

inline PIXELFORMATDESCRIPTOR format332() {
    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_NEED_PALETTE;
    format.cColorBits = 8;
    format.cRedBits = 3;
    format.cRedShift = 0;
    format.cGreenBits = 3;
    format.cGreenShift = 3;
    format.cBlueBits = 2;
    format.cBlueShift = 6;
    return format;
}

inline std::vector<unsigned char> paletteBuffer(int entries) {
    return std::vector<unsigned char>(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * std::size_t(entries));
}
