// Logical palettes mapped onto the colormap of a window whose visual has
// writable, indexed colours.
#include "platform/x11/internal.h"

#include <algorithm>

namespace {

bool colormapInstalled(Window window, Colormap colormap) {
    int count = 0;
    Colormap* installed = XListInstalledColormaps(x11Display(), window, &count);
    bool found = std::find(installed, installed + count, colormap) != installed + count;
    if (installed) XFree(installed);
    return found;
}

}  // namespace

bool x11RealizePalette(HDC dc, UINT* mapped) {
    HWND window = dc->window;
    if (!x11Of(window)->colormapWritable) return false;  // nothing to map on a true-colour visual
    Display* display = x11Display();
    const std::vector<PALETTEENTRY>& entries = dc->palette->entries;

    int cells = 0;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, x11Of(window)->xid, &attributes)) cells = attributes.visual->map_entries;
    int count = std::min(int(entries.size()), cells);
    std::vector<XColor> colours(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) colours[size_t(i)].pixel = static_cast<unsigned long>(i);
    XQueryColors(display, x11Of(window)->colormap, colours.data(), count);
    bool changed = false;
    for (int i = 0; i < count; ++i) {
        XColor& colour = colours[size_t(i)];
        unsigned short red = entries[size_t(i)].peRed * 257, green = entries[size_t(i)].peGreen * 257,
                       blue = entries[size_t(i)].peBlue * 257;
        changed |= colour.red != red || colour.green != green || colour.blue != blue;
        colour.red = red;
        colour.green = green;
        colour.blue = blue;
        colour.flags = DoRed | DoGreen | DoBlue;
    }
    XStoreColors(display, x11Of(window)->colormap, colours.data(), count);
    // Only the focused window's foreground palette takes over the hardware.
    if (dc->paletteInForeground && window->focused && !colormapInstalled(x11Of(window)->xid, x11Of(window)->colormap)) {
        XInstallColormap(display, x11Of(window)->colormap);
        changed = true;
    }
    XFlush(display);
    if (changed)
        for (HWND each : std::vector<HWND>(liveWindows()))
            sendToWindow(each, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(window), 0);
    *mapped = UINT(count);
    return true;
}

