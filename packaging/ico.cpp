#include "packaging/ico.h"

#include <cstdio>

namespace {

void put16(std::vector<unsigned char>& out, uint32_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(std::vector<unsigned char>& out, uint32_t value) {
    put16(out, value & 0xffffu);
    put16(out, value >> 16);
}

// BITMAPINFOHEADER, colour rows and mask rows, both bottom-up; the height
// counts both halves, as icon resources have it.
std::vector<unsigned char> dibEntry(const IconImage& image) {
    uint32_t size = uint32_t(image.size);
    uint32_t maskStride = (size + 31) / 32 * 4;
    std::vector<unsigned char> out;
    put32(out, 40);
    put32(out, size);
    put32(out, 2 * size);
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, size * size * 4 + maskStride * size);
    for (int i = 0; i < 4; ++i) put32(out, 0);
    for (uint32_t row = size; row-- > 0;)
        for (uint32_t x = 0; x < size; ++x) put32(out, image.pixels[row * size + x]);
    for (uint32_t row = size; row-- > 0;) {
        std::vector<unsigned char> mask(maskStride, 0);
        for (uint32_t x = 0; x < size; ++x)
            if ((image.pixels[row * size + x] >> 24) == 0) mask[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
        out.insert(out.end(), mask.begin(), mask.end());
    }
    return out;
}

}  // namespace

std::vector<unsigned char> icoFile(const std::vector<IconImage>& images) {
    if (images.empty() || images.size() > 0xffff) return {};
    std::vector<std::vector<unsigned char>> entries;
    for (const IconImage& image : images) {
        if (image.size < 1 || image.size > 256 || image.pixels.size() != size_t(image.size) * size_t(image.size))
            return {};
        entries.push_back(dibEntry(image));
    }
    std::vector<unsigned char> out;
    put16(out, 0);
    put16(out, 1);  // an icon, not a cursor
    put16(out, uint32_t(images.size()));
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        unsigned char side = static_cast<unsigned char>(images[i].size % 256);  // 0 stands for 256
        out.insert(out.end(), {side, side, 0, 0});
        put16(out, 1);
        put16(out, 32);
        put32(out, uint32_t(entries[i].size()));
        put32(out, offset);
        offset += uint32_t(entries[i].size());
    }
    for (const auto& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
    return out;
}

bool writeIco(const std::string& path, const std::vector<IconImage>& images) {
    std::vector<unsigned char> bytes = icoFile(images);
    if (bytes.empty()) return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}
