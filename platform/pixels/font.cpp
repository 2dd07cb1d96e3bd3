// Text in the layer's own surfaces (message boxes): the desktop's scalable
// sans-serif face and those fontconfig ranks after it, rendered with
// FreeType into coverage masks. Without any scalable font, text is still
// measured, at a fixed width, and simply not drawn.
#include "platform/pixels/box_painting.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

struct Glyph {
    int face = -1;  // into PixelFont::faces; -1: no face has the character
    int left = 0, top = 0, width = 0, height = 0, advance = 0;
    std::vector<uint8_t> coverage;  // width x height, tightly packed
};

struct PixelFont : BoxFont {
    ~PixelFont() override;
    int ascent() const override { return ascentPixels; }
    int descent() const override { return descentPixels; }
    int textWidth(const std::string& text) const override;

    double pixels = 0;
    int ascentPixels = fallbackTextAscent, descentPixels = fallbackTextDescent;
    FT_Library library = nullptr;
    // Candidates in fontconfig's order of preference, opened only when a
    // character needs them; the first is opened at once.
    FcFontSet* candidates = nullptr;
    int primary = 0;  // the first candidate that opens, whose measures lines take
    // Measuring and drawing take a const font, yet open faces and render
    // glyphs the first time they are needed.
    mutable std::map<int, FT_Face> faces;
    mutable std::map<uint32_t, Glyph> glyphs;
};

PixelFont::~PixelFont() {
    for (auto& [index, face] : faces)
        if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
    if (candidates) FcFontSetDestroy(candidates);
}

// The face of candidate `index` at the font's size, or null when it cannot be
// opened (it is not tried again).
FT_Face candidateFace(const PixelFont& font, int index) {
    auto known = font.faces.find(index);
    if (known != font.faces.end()) return known->second;
    FT_Face face = nullptr;
    FcChar8* file = nullptr;
    int faceIndex = 0;
    FcPattern* pattern = font.candidates->fonts[index];
    if (FcPatternGetString(pattern, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(pattern, FC_INDEX, 0, &faceIndex);
        if (FT_New_Face(font.library, reinterpret_cast<const char*>(file), faceIndex, &face)) face = nullptr;
    }
    // A size in 26.6 points at 72 dpi is one in pixels, fractions kept.
    FT_F26Dot6 size = FT_F26Dot6(std::lround(font.pixels * 64));
    if (face && (!FT_IS_SCALABLE(face) || FT_Set_Char_Size(face, 0, size, 72, 72))) {
        FT_Done_Face(face);
        face = nullptr;
    }
    font.faces[index] = face;
    return face;
}

// The first candidate whose face has the character, and its glyph index.
int faceFor(const PixelFont& font, uint32_t character, FT_UInt* glyphIndex) {
    for (int index = font.primary; index < font.candidates->nfont; ++index) {
        FcCharSet* characters = nullptr;
        // Fonts that say they lack the character are not even opened.
        if (index > font.primary &&
            FcPatternGetCharSet(font.candidates->fonts[index], FC_CHARSET, 0, &characters) == FcResultMatch &&
            !FcCharSetHasChar(characters, character))
            continue;
        FT_Face face = candidateFace(font, index);
        if (!face) continue;
        *glyphIndex = FT_Get_Char_Index(face, character);
        if (*glyphIndex) return index;
    }
    return -1;
}

const Glyph& glyphFor(const PixelFont& font, uint32_t character) {
    auto known = font.glyphs.find(character);
    if (known != font.glyphs.end()) return known->second;
    Glyph& glyph = font.glyphs[character];
    FT_UInt glyphIndex = 0;
    glyph.face = faceFor(font, character, &glyphIndex);
    // A character no face has still takes the room of the first face's
    // missing-glyph sign, so that the gap shows, but nothing is drawn.
    FT_Face face = candidateFace(font, glyph.face >= 0 ? glyph.face : font.primary);
    if (!face || FT_Load_Glyph(face, glyphIndex, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL)) return glyph;
    glyph.advance = int((face->glyph->advance.x + 32) >> 6);
    if (glyph.face < 0 || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL)) return glyph;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return glyph;
    glyph.left = face->glyph->bitmap_left;
    glyph.top = face->glyph->bitmap_top;
    glyph.width = int(bitmap.width);
    glyph.height = int(bitmap.rows);
    glyph.coverage.resize(size_t(glyph.width) * size_t(glyph.height));
    for (int row = 0; row < glyph.height; ++row) {
        const unsigned char* source = bitmap.buffer + row * bitmap.pitch;
        std::copy(source, source + glyph.width, glyph.coverage.begin() + ptrdiff_t(row) * glyph.width);
    }
    return glyph;
}

// The code points of UTF-8 text; what is not a character becomes U+FFFD.
std::vector<uint32_t> codePoints(const std::string& utf8) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        uint32_t value = length == 1 ? c : length == 2 ? c & 0x1Fu : length == 3 ? c & 0x0Fu : c & 0x07u;
        bool valid = length > 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next >> 6) == 2;
            value = (value << 6) | (next & 0x3Fu);
        }
        out.push_back(valid && value <= 0x10FFFF ? value : 0xFFFD);
        i += valid ? length : 1;
    }
    return out;
}

std::vector<uint32_t> characters(const std::string& text) { return codePoints(textAsUtf8(text)); }

// Scalable fonts for a "sans-serif" request, best first.
FcFontSet* sortedCandidates() {
    if (!FcInit()) return nullptr;
    FcPattern* request = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    if (!request) return nullptr;
    FcPatternAddBool(request, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result = FcResultNoMatch;
    FcFontSet* sorted = FcFontSort(nullptr, request, FcTrue, nullptr, &result);
    FcPatternDestroy(request);
    if (!sorted) return nullptr;
    // Sorting ranks every font; only scalable ones are kept.
    FcFontSet* scalable = FcFontSetCreate();
    for (int i = 0; scalable && i < sorted->nfont; ++i) {
        FcBool isScalable = FcFalse;
        if (FcPatternGetBool(sorted->fonts[i], FC_SCALABLE, 0, &isScalable) == FcResultMatch && isScalable) {
            FcPatternReference(sorted->fonts[i]);
            if (!FcFontSetAdd(scalable, sorted->fonts[i])) FcPatternDestroy(sorted->fonts[i]);
        }
    }
    FcFontSetDestroy(sorted);
    if (scalable && scalable->nfont == 0) {
        FcFontSetDestroy(scalable);
        return nullptr;
    }
    return scalable;
}

}  // namespace

std::unique_ptr<BoxFont> openPixelBoxFont(double dpi) {
    auto font = std::make_unique<PixelFont>();
    font->pixels = boxFontPixels(dpi);
    font->candidates = sortedCandidates();
    if (font->candidates && FT_Init_FreeType(&font->library)) font->library = nullptr;
    if (!font->candidates || !font->library) return font;
    for (int index = 0; index < font->candidates->nfont; ++index) {
        FT_Face face = candidateFace(*font, index);
        if (!face) continue;
        font->primary = index;
        const FT_Size_Metrics& metrics = face->size->metrics;
        font->ascentPixels = int((metrics.ascender + 63) >> 6);
        font->descentPixels = int((-metrics.descender + 63) >> 6);
        return font;
    }
    // Nothing opens: measured at the fixed width only.
    FcFontSetDestroy(font->candidates);
    font->candidates = nullptr;
    return font;
}

int PixelFont::textWidth(const std::string& text) const {
    std::vector<uint32_t> line = characters(text);
    if (!candidates) return int(line.size()) * fallbackTextAdvance;
    int width = 0;
    for (uint32_t character : line) width += glyphFor(*this, character).advance;
    return width;
}

void drawPixelText(const BoxFont* boxFont, Canvas& canvas, int x, int baselineY, const std::string& text,
                     uint32_t argb) {
    const PixelFont* font = static_cast<const PixelFont*>(boxFont);
    if (!font->candidates) return;
    int64_t penX = x;
    for (uint32_t character : characters(text)) {
        const Glyph& glyph = glyphFor(*font, character);
        int64_t left = penX + glyph.left, top = int64_t(baselineY) - glyph.top;
        // A glyph wholly off the canvas, wherever the pen has gone, draws nothing.
        if (glyph.width > 0 && left > -glyph.width && left < canvas.width && top > -glyph.height && top < canvas.height)
            blendMask(canvas, int(left), int(top), glyph.coverage.data(), glyph.width, glyph.height, glyph.width, argb);
        penX += glyph.advance;
    }
}
