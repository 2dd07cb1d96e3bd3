// Text in the layer's own windows (message boxes): a scalable, anti-aliased font through
// Xft and fontconfig, sized for the screen's resolution; the core bitmap
// font where no scalable one exists.
#include "platform/x11/internal.h"
#include "platform/common/message_box_layout.h"

#include <X11/Xft/Xft.h>
#include <X11/Xresource.h>

#include <algorithm>
#include <cstdlib>

struct X11Font : BoxFont {
    XftFont* scalable = nullptr;
    XFontStruct* bitmap = nullptr;
    XftDraw* draw = nullptr;
    XftColor colour{};
    bool colourAllocated = false;
};

namespace {

// The size of the platform's message-box font.
const double boxFontPoints = 9.0;

}  // namespace

double x11ScreenDpi() {
    Display* display = x11Display();
    // The desktop's own setting, as toolkits read it.
    if (const char* resources = XResourceManagerString(display)) {
        XrmInitialize();
        XrmDatabase database = XrmGetStringDatabase(resources);
        char* type = nullptr;
        XrmValue value{};
        double dpi = 0;
        if (database && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
            dpi = std::atof(value.addr);
        if (database) XrmDestroyDatabase(database);
        if (dpi > 0) return std::clamp(dpi, minimumTextDpi, maximumTextDpi);
    }
    int millimetres = DisplayHeightMM(display, x11Screen());
    double dpi = millimetres > 0 ? DisplayHeight(display, x11Screen()) * 25.4 / millimetres : 96.0;
    return std::clamp(dpi, minimumTextDpi, maximumTextDpi);
}

BoxFont* x11OpenBoxFont(double dpi) {
    Display* display = x11Display();
    int screen = x11Screen();
    X11Font* font = new X11Font;
    // A size in pixels, which the desktop's Xft.scale does not multiply: the
    // layer alone bounds what a box's text may take.
    double pixels = boxFontPoints * std::clamp(dpi, minimumTextDpi, maximumTextDpi) / 72.0;
    font->scalable = XftFontOpen(display, screen, XFT_FAMILY, XftTypeString, "sans-serif", XFT_PIXEL_SIZE,
                                 XftTypeDouble, pixels, XFT_ANTIALIAS, XftTypeBool, True, nullptr);
    FcBool scalable = FcFalse;
    if (font->scalable && (FcPatternGetBool(font->scalable->pattern, FC_SCALABLE, 0, &scalable) != FcResultMatch ||
                           !scalable)) {
        XftFontClose(display, font->scalable);
        font->scalable = nullptr;
    }
    if (font->scalable)
        font->colourAllocated = XftColorAllocName(display, DefaultVisual(display, screen),
                                                  DefaultColormap(display, screen), "black", &font->colour);
    if (font->scalable && !font->colourAllocated) {
        XftFontClose(display, font->scalable);
        font->scalable = nullptr;
    }
    if (!font->scalable) font->bitmap = XLoadQueryFont(display, "fixed");
    return font;
}

void x11CloseBoxFont(BoxFont* boxFont) {
    X11Font* font = static_cast<X11Font*>(boxFont);
    Display* display = x11Display();
    if (font->colourAllocated)
        XftColorFree(display, DefaultVisual(display, x11Screen()), DefaultColormap(display, x11Screen()),
                     &font->colour);
    if (font->draw) XftDrawDestroy(font->draw);
    if (font->scalable) XftFontClose(display, font->scalable);
    if (font->bitmap) XFreeFont(display, font->bitmap);
    delete font;
}

int x11FontAscent(const BoxFont* boxFont) {
    const X11Font* font = static_cast<const X11Font*>(boxFont);
    return font->scalable ? font->scalable->ascent : font->bitmap ? font->bitmap->ascent : 11;
}

int x11FontDescent(const BoxFont* boxFont) {
    const X11Font* font = static_cast<const X11Font*>(boxFont);
    return font->scalable ? font->scalable->descent : font->bitmap ? font->bitmap->descent : 2;
}

int x11TextWidth(const BoxFont* boxFont, const std::string& text) {
    const X11Font* font = static_cast<const X11Font*>(boxFont);
    if (font->scalable) {
        std::string utf8 = textAsUtf8(text);
        XGlyphInfo extents{};
        XftTextExtentsUtf8(x11Display(), font->scalable, reinterpret_cast<const FcChar8*>(utf8.data()),
                           int(utf8.size()), &extents);
        return extents.xOff;
    }
    if (font->bitmap) return XTextWidth(font->bitmap, text.data(), int(text.size()));
    return int(text.size()) * 6;
}

void x11DrawText(BoxFont* boxFont, Window window, GC gc, int x, int y, const std::string& text) {
    X11Font* font = static_cast<X11Font*>(boxFont);
    Display* display = x11Display();
    if (font->scalable) {
        if (!font->draw)
            font->draw = XftDrawCreate(display, window, DefaultVisual(display, x11Screen()),
                                       DefaultColormap(display, x11Screen()));
        std::string utf8 = textAsUtf8(text);
        XftDrawStringUtf8(font->draw, &font->colour, font->scalable, x, y,
                          reinterpret_cast<const FcChar8*>(utf8.data()), int(utf8.size()));
        return;
    }
    if (font->bitmap) XSetFont(display, gc, font->bitmap->fid);
    XDrawString(display, window, gc, x, y, text.data(), int(text.size()));
}
