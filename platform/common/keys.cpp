// Keys as the platform names them, from the symbols display systems give:
// X11 and xkbcommon number their key symbols alike.
#include "platform/common/internal.h"

WPARAM virtualKeyForSymbol(uint32_t symbol) {
    const uint32_t lowerA = 0x61, lowerZ = 0x7a, upperA = 0x41, upperZ = 0x5a, digit0 = 0x30, digit9 = 0x39;
    if (symbol >= lowerA && symbol <= lowerZ) return 'A' + (symbol - lowerA);
    if ((symbol >= upperA && symbol <= upperZ) || (symbol >= digit0 && symbol <= digit9)) return symbol;
    switch (symbol) {
    case 0xff1b: return VK_ESCAPE;  // Escape
    case 0xff0d:                    // Return
    case 0xff8d: return VK_RETURN;  // KP_Enter
    case 0x0020: return VK_SPACE;   // space
    case 0xff08: return VK_BACK;    // BackSpace
    case 0xff09: return VK_TAB;     // Tab
    case 0xffe1:                    // Shift_L
    case 0xffe2: return VK_SHIFT;   // Shift_R
    case 0xffe3:                    // Control_L
    case 0xffe4: return VK_CONTROL; // Control_R
    default: return 0;
    }
}

LPARAM keyLParamFor(unsigned scanCode, bool release, bool repeated) {
    LPARAM lParam = 1 | (LPARAM(scanCode & 0xff) << 16);
    if (repeated) lParam |= LPARAM(0x40000000);
    if (release) lParam |= LPARAM(0xC0000000u);
    return lParam;
}
