// Writing pictures as PNG files, without a compression library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels row by row, as 0xRRGGBB, or 0xAARRGGBB (not premultiplied) with alpha.
bool writePng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels,
              bool alpha = false);
