#include "platform/pixels/canvas.h"

#include <algorithm>
#include <cmath>

namespace {

// The part of [from, from + length) on an axis of `size` pixels, computed
// wide so that no sum of far-off coordinates overflows.
bool clipSpan(int64_t from, int64_t length, int size, int* first, int* end) {
    int64_t a = std::max<int64_t>(from, 0), b = std::min<int64_t>(from + length, size);
    if (length <= 0 || a >= b) return false;
    *first = int(a);
    *end = int(b);
    return true;
}

bool usable(const Canvas& canvas) {
    return canvas.pixels && canvas.width > 0 && canvas.height > 0 && canvas.stride >= canvas.width;
}

// Source-over of a premultiplied colour scaled by `coverage` (0..255).
uint32_t over(uint32_t destination, uint32_t colour, unsigned coverage) {
    if (coverage == 0) return destination;
    if (coverage >= 255 && (colour >> 24) == 255) return colour;
    uint32_t result = 0;
    unsigned sourceAlpha = ((colour >> 24) * coverage + 127) / 255;
    for (int shift = 0; shift < 32; shift += 8) {
        unsigned source = (((colour >> shift) & 0xff) * coverage + 127) / 255;
        unsigned below = (destination >> shift) & 0xff;
        unsigned channel = source + (below * (255 - sourceAlpha) + 127) / 255;
        result |= uint32_t(std::min(channel, 255u)) << shift;
    }
    return result;
}

// Coverage of a pixel whose centre lies `distance` from the edge of a shape
// (negative: inside), with a one-pixel ramp across the edge.
unsigned edgeCoverage(double distance) {
    double inside = std::clamp(0.5 - distance, 0.0, 1.0);
    return unsigned(inside * 255.0 + 0.5);
}

// Calls `shade(x, y)` for each pixel of the canvas inside the bounding box
// [left, right) x [top, bottom), given in doubles that may lie anywhere.
template <typename Shade>
void shadeBox(Canvas& canvas, double left, double top, double right, double bottom, Shade shade) {
    if (!usable(canvas) || !(left < right) || !(top < bottom)) return;
    double x0 = std::clamp(std::floor(left), 0.0, double(canvas.width));
    double x1 = std::clamp(std::ceil(right), 0.0, double(canvas.width));
    double y0 = std::clamp(std::floor(top), 0.0, double(canvas.height));
    double y1 = std::clamp(std::ceil(bottom), 0.0, double(canvas.height));
    for (int y = int(y0); y < int(y1); ++y)
        for (int x = int(x0); x < int(x1); ++x) shade(x, y);
}

// A rectangle in wide coordinates, which sums of far-off ones cannot overflow.
void fillWide(Canvas& canvas, int64_t x, int64_t y, int64_t width, int64_t height, uint32_t argb) {
    int x0, x1, y0, y1;
    if (!usable(canvas) || !clipSpan(x, width, canvas.width, &x0, &x1) ||
        !clipSpan(y, height, canvas.height, &y0, &y1))
        return;
    for (int row = y0; row < y1; ++row) {
        uint32_t* line = canvas.pixels + int64_t(row) * canvas.stride;
        for (int column = x0; column < x1; ++column) line[column] = over(line[column], argb, 255);
    }
}

}  // namespace

void fillRectangle(Canvas& canvas, int x, int y, int width, int height, uint32_t argb) {
    fillWide(canvas, x, y, width, height, argb);
}

void outlineRectangle(Canvas& canvas, int x, int y, int width, int height, uint32_t argb) {
    if (width <= 0 || height <= 0) return;
    int64_t right = int64_t(x) + width - 1, bottom = int64_t(y) + height - 1;
    fillWide(canvas, x, y, width, 1, argb);
    if (height > 1) fillWide(canvas, x, bottom, width, 1, argb);
    fillWide(canvas, x, int64_t(y) + 1, 1, int64_t(height) - 2, argb);
    if (width > 1) fillWide(canvas, right, int64_t(y) + 1, 1, int64_t(height) - 2, argb);
}

void fillDisc(Canvas& canvas, int x, int y, int size, uint32_t argb) {
    if (size <= 0) return;
    double radius = size / 2.0, cx = x + radius, cy = y + radius;
    shadeBox(canvas, double(x), double(y), double(x) + size, double(y) + size, [&](int px, int py) {
        double distance = std::hypot(px + 0.5 - cx, py + 0.5 - cy) - radius;
        uint32_t& pixel = canvas.pixels[int64_t(py) * canvas.stride + px];
        pixel = over(pixel, argb, edgeCoverage(distance));
    });
}

void drawThickLine(Canvas& canvas, int x0, int y0, int x1, int y1, int lineWidth, uint32_t argb) {
    if (lineWidth <= 0) return;
    double half = lineWidth / 2.0;
    double dx = double(x1) - x0, dy = double(y1) - y0, lengthSquared = dx * dx + dy * dy;
    shadeBox(canvas, std::min<double>(x0, x1) - half, std::min<double>(y0, y1) - half,
             std::max<double>(x0, x1) + half, std::max<double>(y0, y1) + half, [&](int px, int py) {
                 // The distance from the pixel's centre to the segment.
                 double qx = px + 0.5 - x0, qy = py + 0.5 - y0;
                 double t = lengthSquared > 0 ? std::clamp((qx * dx + qy * dy) / lengthSquared, 0.0, 1.0) : 0.0;
                 double distance = std::hypot(qx - t * dx, qy - t * dy) - half;
                 uint32_t& pixel = canvas.pixels[int64_t(py) * canvas.stride + px];
                 pixel = over(pixel, argb, edgeCoverage(distance));
             });
}

void blendMask(Canvas& canvas, int x, int y, const uint8_t* mask, int width, int height, int pitch, uint32_t argb) {
    int x0, x1, y0, y1;
    if (!usable(canvas) || !mask || pitch < width || !clipSpan(x, width, canvas.width, &x0, &x1) ||
        !clipSpan(y, height, canvas.height, &y0, &y1))
        return;
    for (int row = y0; row < y1; ++row) {
        uint32_t* line = canvas.pixels + int64_t(row) * canvas.stride;
        const uint8_t* coverage = mask + (int64_t(row) - y) * pitch;
        for (int column = x0; column < x1; ++column)
            line[column] = over(line[column], argb, coverage[int64_t(column) - x]);
    }
}
