#include "platform/x11/icon.h"

#include <algorithm>
#include <cmath>

namespace {

struct Colour {
    double red, green, blue, alpha;
};

Colour mix(Colour a, Colour b, double t) {
    return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t, a.blue + (b.blue - a.blue) * t,
            a.alpha + (b.alpha - a.alpha) * t};
}

// The colour at a point of the unit square, y downward.
Colour iconColour(double x, double y) {
    const Colour clear{0, 0, 0, 0};
    const Colour background{0.5, 0.25, 0.35, 1};
    // A rounded square of the window's background.
    double corner = 0.18, dx = std::max({corner - x, x - (1 - corner), 0.0}),
           dy = std::max({corner - y, y - (1 - corner), 0.0});
    if (dx * dx + dy * dy > corner * corner || x < 0 || x > 1 || y < 0 || y > 1) return clear;
    // The cylinder: a body between two ellipses, lit from the left, the
    // open top showing the inside of the far wall.
    const double left = 0.22, right = 0.78, top = 0.32, bottom = 0.72, radiusY = 0.1;
    double centre = (left + right) / 2, radiusX = (right - left) / 2;
    double u = (x - centre) / radiusX;  // -1 .. 1 across the body
    if (std::fabs(u) <= 1) {
        double rim = radiusY * std::sqrt(1 - u * u);
        double light = 0.55 + 0.45 * std::cos((u + 0.35) * 1.3);
        if (y >= top - rim && y <= top + rim) {
            bool farWall = y < top;  // the inside, seen through the opening
            return farWall ? mix(Colour{0.35, 0.6, 0.2, 1}, Colour{0.6, 0.85, 0.45, 1}, light)
                           : mix(Colour{0.45, 0.7, 0.3, 1}, Colour{0.7, 0.95, 0.55, 1}, light);
        }
        if (y > top && y <= bottom + rim) return mix(Colour{0.55, 0.3, 0.15, 1}, Colour{1.0, 0.72, 0.55, 1}, light);
    }
    return background;
}

}  // namespace

std::vector<uint32_t> applicationIcon(int size) {
    std::vector<uint32_t> pixels(size_t(size) * size_t(size));
    const int samples = 4;  // per side of a pixel, for smooth edges
    for (int row = 0; row < size; ++row)
        for (int column = 0; column < size; ++column) {
            Colour sum{0, 0, 0, 0};
            for (int sy = 0; sy < samples; ++sy)
                for (int sx = 0; sx < samples; ++sx) {
                    Colour c = iconColour((column + (sx + 0.5) / samples) / size, (row + (sy + 0.5) / samples) / size);
                    sum = {sum.red + c.red * c.alpha, sum.green + c.green * c.alpha, sum.blue + c.blue * c.alpha,
                           sum.alpha + c.alpha};
                }
            double alpha = sum.alpha / (samples * samples);
            auto channel = [&](double premultiplied) {
                return alpha > 0 ? uint32_t(std::lround(std::clamp(premultiplied / sum.alpha, 0.0, 1.0) * 255)) : 0u;
            };
            pixels[size_t(row) * size_t(size) + size_t(column)] = uint32_t(std::lround(alpha * 255)) << 24 |
                                                                  channel(sum.red) << 16 | channel(sum.green) << 8 |
                                                                  channel(sum.blue);
        }
    return pixels;
}
