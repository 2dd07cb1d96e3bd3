// Writing pictures as a Windows icon file (.ico), the form a resource
// script takes for the program's icon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IconImage {
    int size;                      // width and height, 1 to 256
    std::vector<uint32_t> pixels;  // row by row from the top, 0xAARRGGBB, not premultiplied
};

// The file's bytes: one 32-bit DIB entry per image, with its AND mask, which
// every version of the platform reads at every size. Empty if an image's size
// is out of range or its pixels do not fill it.
std::vector<unsigned char> icoFile(const std::vector<IconImage>& images);

bool writeIco(const std::string& path, const std::vector<IconImage>& images);
