// Text in the layer's own windows (message boxes): a scalable, anti-aliased font through
// Xft and fontconfig, sized for the screen's resolution; the core bitmap
// font where no scalable one exists.
#include "platform/x11/internal.h"
#include "platform/common/message_box.h"

#include <X11/Xft/Xft.h>
#include <X11/Xresource.h>

#include <algorithm>
#include <cstdlib>

struct X11Font : BoxFont {
    ~X11Font() override;
    int ascent() const override { return scalable ? scalable->ascent : bitmap ? bitmap->ascent : fallbackTextAscent; }
    int descent() const override {
        return scalable ? scalable->descent : bitmap ? bitmap->descent : fallbackTextDescent;
    }
    int textWidth(const std::string& text) const override;

    XftFont* scalable = nullptr;
    XFontStruct* bitmap = nullptr;
    mutable XftDraw* draw = nullptr;  // made for the window it first draws into
    XftColor colour{};
    bool colourAllocated = false;
};

X11Font::~X11Font() {
    Display* display = x11Display();
    if (colourAllocated)
        XftColorFree(display, DefaultVisual(display, x11Screen()), DefaultColormap(display, x11Screen()), &colour);
    if (draw) XftDrawDestroy(draw);
    if (scalable) XftFontClose(display, scalable);
    if (bitmap) XFreeFont(display, bitmap);
}

int X11Font::textWidth(const std::string& text) const {
    if (scalable) {
        std::string utf8 = textAsUtf8(text);
        XGlyphInfo extents{};
        XftTextExtentsUtf8(x11Display(), scalable, reinterpret_cast<const FcChar8*>(utf8.data()), int(utf8.size()),
                           &extents);
        return extents.xOff;
    }
    if (bitmap) return XTextWidth(bitmap, text.data(), int(text.size()));
    return int(text.size()) * fallbackTextAdvance;
}

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

std::unique_ptr<BoxFont> x11OpenBoxFont(double dpi) {
    Display* display = x11Display();
    int screen = x11Screen();
    auto font = std::make_unique<X11Font>();
    // A size in pixels, which the desktop's Xft.scale does not multiply: the
    // layer alone bounds what a box's text may take.
    double pixels = boxFontPixels(dpi);
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

void x11DrawText(const BoxFont* boxFont, Window window, GC gc, int x, int y, const std::string& text) {
    const X11Font* font = static_cast<const X11Font*>(boxFont);
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
