// A reader of sway's IPC replies, for the helpers that ask sway.
#pragma once

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Just enough JSON for sway's tree: objects, arrays, strings, numbers and
// the literals (kept as their words).
struct Json {
    std::vector<std::string> keys;  // an object's, beside its values in `items`
    std::vector<Json> items;
    std::string text;
    bool quoted = false;  // a string, not a literal such as null
    double number = 0;

    const Json* member(const std::string& key) const {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return &items[i];
        return nullptr;
    }
    double numberOf(const std::string& key) const {
        const Json* value = member(key);
        return value ? value->number : 0;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}
    bool read(Json& value) {
        skipSpace();
        if (at_ >= text_.size()) return false;
        char c = text_[at_];
        if (c == '"') {
            value.quoted = true;
            return readString(value.text);
        }
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            ++at_;
            skipSpace();
            if (at_ < text_.size() && text_[at_] == close) {
                ++at_;
                return true;
            }
            for (;;) {
                if (c == '{') {
                    value.keys.emplace_back();
                    skipSpace();
                    if (!readString(value.keys.back()) || !expect(':')) return false;
                }
                value.items.emplace_back();
                if (!read(value.items.back())) return false;
                skipSpace();
                if (at_ < text_.size() && text_[at_] == ',') ++at_;
                else return expect(close);
            }
        }
        size_t start = at_;
        while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) ||
                                      std::strchr("+-.", text_[at_])))
            ++at_;
        value.text = text_.substr(start, at_ - start);
        value.number = std::strtod(value.text.c_str(), nullptr);
        return at_ > start;
    }

private:
    void skipSpace() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    bool expect(char c) {
        skipSpace();
        return at_ < text_.size() && text_[at_++] == c;
    }
    bool readString(std::string& out) {
        if (!expect('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (text_[at_] != '\\') {
                out += text_[at_++];
                continue;
            }
            // Escapes, as titles, which tests compare, may hold them.
            if (++at_ >= text_.size()) return false;
            char escaped = text_[at_++];
            if (escaped == 'n') out += '\n';
            else if (escaped == 't') out += '\t';
            else if (escaped == 'u' && at_ + 4 <= text_.size()) {
                unsigned long code = std::strtoul(text_.substr(at_, 4).c_str(), nullptr, 16);
                at_ += 4;
                appendUtf8(out, code);
            } else out += escaped;  // \" \\ \/ and the rest a title will not hold
        }
        return expect('"');
    }
    // A code point of the Basic Multilingual Plane (sway escapes only
    // control characters), as UTF-8.
    static void appendUtf8(std::string& out, unsigned long code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xc0 | (code >> 6));
            out += char(0x80 | (code & 0x3f));
        } else {
            out += char(0xe0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3f));
            out += char(0x80 | (code & 0x3f));
        }
    }
    const std::string& text_;
    size_t at_ = 0;
};
