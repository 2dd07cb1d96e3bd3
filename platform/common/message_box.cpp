#include "platform/common/message_box.h"

#include <algorithm>
#include <utility>

double boxFontPixels(double dpi) {
    const double boxFontPoints = 9.0;
    return boxFontPoints * std::clamp(dpi, minimumTextDpi, maximumTextDpi) / 72.0;
}

namespace {

BoxMetrics metricsFor(double dpi) {
    double scale = dpi / 96.0;
    auto scaled = [scale](int size) { return std::max(1, int(size * scale + 0.5)); };
    return BoxMetrics{scaled(16), scaled(32), scaled(88), scaled(26), scaled(240), scaled(3)};
}

std::vector<std::string> splitLines(const char* text) {
    std::vector<std::string> lines(1);
    for (const char* c = text; *c; ++c) {
        if (*c == '\n')
            lines.emplace_back();
        else if (*c != '\r')
            lines.back() += *c;
    }
    if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    return lines;
}

BoxLayout layOut(const std::vector<std::string>& lines, bool errorIcon, const BoxFont* font,
                 const BoxMetrics& metrics) {
    BoxLayout layout{};
    layout.metrics = metrics;
    layout.lines = lines;
    layout.errorIcon = errorIcon;
    int ascent = font->ascent(), descent = font->descent();
    layout.lineHeight = ascent + descent + std::max(2, metrics.margin / 8);
    int textWidth = 0;
    for (const std::string& line : layout.lines) textWidth = std::max(textWidth, font->textWidth(line));
    int textHeight = layout.lineHeight * int(layout.lines.size());
    int margin = metrics.margin;
    layout.textX = margin + (errorIcon ? metrics.iconSize + margin : 0);
    int contentHeight = std::max(textHeight, errorIcon ? metrics.iconSize : 0);
    layout.textY = margin + (contentHeight - textHeight) / 2 + ascent;
    layout.width = std::max(layout.textX + textWidth + margin, metrics.buttonWidth + 2 * margin);
    layout.width = std::max(layout.width, metrics.minimumWidth);
    layout.buttonX = (layout.width - metrics.buttonWidth) / 2;
    layout.buttonY = margin + contentHeight + margin;
    layout.height = layout.buttonY + metrics.buttonHeight + margin;
    return layout;
}

// How much of the screen a box may take: room for its frame and the desktop.
ScreenSize roomFor(const ScreenSize& screen) { return ScreenSize{screen.width * 9 / 10, screen.height * 9 / 10}; }

// The number of bytes of the longest start of `line` no wider than `width`,
// ended at a blank where one fits, between characters otherwise; at least one
// character.
size_t fittingLength(const std::string& line, const BoxFont* font, int width) {
    size_t fits = 0, blank = 0;
    for (size_t end = 1; end <= line.size(); ++end) {
        if (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) continue;  // inside a character
        if (font->textWidth(line.substr(0, end)) > width) break;
        fits = end;
        if (end < line.size() && line[end] == ' ') blank = end;
    }
    if (fits == line.size()) return fits;
    if (blank) return blank;
    if (fits) return fits;
    size_t first = 1;
    while (first < line.size() && (static_cast<unsigned char>(line[first]) & 0xC0) == 0x80) ++first;
    return first;
}

std::vector<std::string> wrapped(const std::vector<std::string>& lines, const BoxFont* font, int width) {
    std::vector<std::string> out;
    for (std::string line : lines) {
        do {
            size_t length = fittingLength(line, font, width);
            out.push_back(line.substr(0, length));
            line.erase(0, length);
            if (!line.empty() && line[0] == ' ' && out.back().size() == length) line.erase(0, 1);
        } while (!line.empty());
    }
    return out;
}

bool fits(const BoxLayout& layout, const ScreenSize& room) {
    return layout.width <= room.width && layout.height <= room.height;
}

}  // namespace

BoxLayout fitLayout(const char* text, bool errorIcon, const ScreenSize& screen, double dpi, BoxFontOpener openFont,
                    std::unique_ptr<BoxFont>* font) {
    ScreenSize room = roomFor(screen);
    std::vector<std::string> lines = splitLines(text);
    for (;;) {
        *font = openFont(dpi);
        const BoxFont* opened = font->get();
        BoxMetrics metrics = metricsFor(dpi);
        int textRoom = room.width - layOut({}, errorIcon, opened, metrics).textX - metrics.margin;
        BoxLayout layout = layOut(wrapped(lines, opened, std::max(textRoom, 1)), errorIcon, opened, metrics);
        if (fits(layout, room) || dpi <= minimumTextDpi) {
            layout.width = std::min(layout.width, screen.width);
            layout.height = std::min(layout.height, screen.height);
            return layout;
        }
        font->reset();
        double shrink = std::min(double(room.width) / layout.width, double(room.height) / layout.height);
        dpi = std::max(minimumTextDpi, dpi * std::min(shrink, 0.9));
    }
}

bool insideButton(const BoxLayout& layout, int x, int y) {
    return x >= layout.buttonX && x < layout.buttonX + layout.metrics.buttonWidth && y >= layout.buttonY &&
           y < layout.buttonY + layout.metrics.buttonHeight;
}

bool dismissesBox(uint32_t keySymbol) {
    WPARAM key = virtualKeyForSymbol(keySymbol);
    return key == VK_RETURN || key == VK_SPACE || key == VK_ESCAPE;
}

bool BoxButton::press(bool inside) {
    if (!inside) return false;
    down = true;
    return true;
}

bool BoxButton::release(bool inside, bool* sprangBack) {
    bool wasDown = std::exchange(down, false);
    bool acts = wasDown && inside;
    *sprangBack = wasDown && !acts;
    return acts;
}

std::string textAsUtf8(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

void paintBox(BoxPainter& painter, const BoxLayout& layout, const BoxFont* font, bool buttonDown) {
    const BoxMetrics& m = layout.metrics;
    painter.fillRectangle(0, 0, layout.width, layout.height, boxColour::face);
    if (layout.errorIcon) {
        painter.fillDisc(m.margin, m.margin, m.iconSize, boxColour::mark);
        int a = m.margin + m.iconSize * 5 / 16, b = m.margin + m.iconSize - m.iconSize * 5 / 16;
        painter.drawLine(a, a, b, b, m.iconLine, boxColour::markLines);
        painter.drawLine(a, b, b, a, m.iconLine, boxColour::markLines);
    }
    for (size_t i = 0; i < layout.lines.size(); ++i)
        painter.drawText(font, layout.textX, layout.textY + int(i) * layout.lineHeight, layout.lines[i]);

    painter.fillRectangle(layout.buttonX, layout.buttonY, m.buttonWidth, m.buttonHeight,
                          buttonDown ? boxColour::buttonPressed : boxColour::button);
    painter.outlineRectangle(layout.buttonX, layout.buttonY, m.buttonWidth, m.buttonHeight, boxColour::text);
    const std::string label = "OK";
    int labelX = layout.buttonX + (m.buttonWidth - font->textWidth(label)) / 2;
    int labelY = layout.buttonY + (m.buttonHeight + font->ascent() - font->descent()) / 2;
    painter.drawText(font, labelX, labelY, label);
}

int runMessageBox(BoxWindow& window, const char* text, UINT type) {
    // Sized for the screen, so that the text is as legible on any of them;
    // laid out again when the screen changes size.
    bool errorIcon = (type & 0xF0) == MB_ICONERROR;
    std::unique_ptr<BoxFont> font;
    BoxLayout layout = fitLayout(text, errorIcon, window.screen(), window.dpi(), window.fontOpener(), &font);
    if (!window.show(layout)) return 0;
    BoxButton button;
    for (;;) {
        BoxEvent event = window.next();
        bool repaint = false;
        switch (event.kind) {
        case BoxEvent::Kind::paint: repaint = true; break;
        case BoxEvent::Kind::key:
            if (dismissesBox(event.keySymbol)) return IDOK;
            break;
        case BoxEvent::Kind::press: repaint = button.press(insideButton(layout, event.x, event.y)); break;
        case BoxEvent::Kind::release:
            if (button.release(insideButton(layout, event.x, event.y), &repaint)) return IDOK;
            break;
        case BoxEvent::Kind::close: return IDOK;
        case BoxEvent::Kind::gone: return 0;
        case BoxEvent::Kind::screenChanged:
            font.reset();
            layout = fitLayout(text, errorIcon, event.screen, window.dpi(), window.fontOpener(), &font);
            window.resize(layout);
            repaint = true;
            break;
        }
        if (repaint && !window.paint(layout, font.get(), button.down)) return 0;
    }
}
