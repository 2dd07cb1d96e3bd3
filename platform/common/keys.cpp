// Keys as the platform names them, from the symbols back ends report.
#include "platform/common/internal.h"

WPARAM virtualKeyForSymbol(uint32_t symbol) {
    const uint32_t lowerA = 0x61, lowerZ = 0x7a, upperA = 0x41, upperZ = 0x5a, digit0 = 0x30, digit9 = 0x39;
    if (symbol >= lowerA && symbol <= lowerZ) return 'A' + (symbol - lowerA);
    if ((symbol >= upperA && symbol <= upperZ) || (symbol >= digit0 && symbol <= digit9)) return symbol;
    switch (symbol) {
    case keySymbol::escape: return VK_ESCAPE;
    case keySymbol::enter:
    case keySymbol::keypadEnter: return VK_RETURN;
    case keySymbol::space: return VK_SPACE;
    case keySymbol::backSpace: return VK_BACK;
    case keySymbol::tab: return VK_TAB;
    case keySymbol::shiftLeft:
    case keySymbol::shiftRight: return VK_SHIFT;
    case keySymbol::controlLeft:
    case keySymbol::controlRight: return VK_CONTROL;
    default: return 0;
    }
}

LPARAM keyLParamFor(unsigned scanCode, bool release, bool repeated) {
    LPARAM lParam = 1 | (LPARAM(scanCode & 0xff) << 16);
    if (repeated) lParam |= LPARAM(0x40000000);
    if (release) lParam |= LPARAM(0xC0000000u);
    return lParam;
}
