#include "packaging/png.h"

#include <algorithm>
#include <cstdio>

namespace {

uint32_t crcOf(const unsigned char* data, size_t length, uint32_t crc = 0xffffffffu) {
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void putBigEndian(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void putChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    putBigEndian(out, uint32_t(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian(out, crcOf(body.data(), body.size()) ^ 0xffffffffu);
}

}  // namespace

// An uncompressed PNG: deflate "stored" blocks need no compressor.
bool writePng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels, bool alpha) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            uint32_t pixel = pixels[size_t(y) * size_t(width) + size_t(x)];
            raw.push_back(static_cast<unsigned char>(pixel >> 16));
            raw.push_back(static_cast<unsigned char>(pixel >> 8));
            raw.push_back(static_cast<unsigned char>(pixel));
            if (alpha) raw.push_back(static_cast<unsigned char>(pixel >> 24));
        }
    }
    std::vector<unsigned char> zlib = {0x78, 0x01};
    for (size_t offset = 0; offset < raw.size() || offset == 0; offset += 65535) {
        size_t length = std::min<size_t>(65535, raw.size() - offset);
        bool last = offset + length >= raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<unsigned char>(length));
        zlib.push_back(static_cast<unsigned char>(length >> 8));
        zlib.push_back(static_cast<unsigned char>(~length));
        zlib.push_back(static_cast<unsigned char>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + long(offset), raw.begin() + long(offset + length));
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian(zlib, (b << 16) | a);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    putBigEndian(header, uint32_t(width));
    putBigEndian(header, uint32_t(height));
    header.insert(header.end(), {8, static_cast<unsigned char>(alpha ? 6 : 2), 0, 0, 0});  // RGB or RGBA
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}
