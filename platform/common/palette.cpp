// Logical palettes: the GDI side, whatever maps them onto a display.
#include "platform/common/internal.h"

#include <algorithm>

namespace {

bool isLivePalette(HPALETTE palette) {
    return palette && std::find(platform.palettes.begin(), platform.palettes.end(), palette) != platform.palettes.end();
}

}  // namespace

HPALETTE WINAPI CreatePalette(const LOGPALETTE* logicalPalette) {
    if (!logicalPalette || logicalPalette->palVersion != 0x300 || logicalPalette->palNumEntries == 0) return nullptr;
    HPALETTE palette = new HPALETTE__;
    palette->entries.assign(logicalPalette->palPalEntry, logicalPalette->palPalEntry + logicalPalette->palNumEntries);
    platform.palettes.push_back(palette);
    return palette;
}

HPALETTE WINAPI SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground) {
    if (!dc || !isLivePalette(palette)) return nullptr;
    HPALETTE previous = dc->palette;
    dc->palette = palette;
    dc->paletteInForeground = !forceBackground;
    return previous;
}

UINT WINAPI RealizePalette(HDC dc) {
    if (!dc || !isLiveWindow(dc->window) || !isLivePalette(dc->palette)) return 0;
    UINT mapped = 0;
    if (!native().realizePalette(dc, &mapped)) return 0;
    dc->palette->realized = true;
    return mapped;
}

BOOL WINAPI UnrealizeObject(HGDIOBJ object) {
    HPALETTE palette = static_cast<HPALETTE>(object);
    if (!isLivePalette(palette)) return FALSE;
    palette->realized = false;
    return TRUE;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    HPALETTE palette = static_cast<HPALETTE>(object);
    if (!isLivePalette(palette)) return FALSE;
    for (HWND window : liveWindows())
        if (window->deviceContext.palette == palette) window->deviceContext.palette = nullptr;
    platform.palettes.erase(std::find(platform.palettes.begin(), platform.palettes.end(), palette));
    delete palette;
    return TRUE;
}
