// Drawing into a buffer of premultiplied ARGB pixels (0xAARRGGBB in a
// native uint32_t), as a compositor takes a box's contents. Every function
// clips to the canvas: no coordinates, however far off, write outside it.
#pragma once

#include <cstdint>

struct Canvas {
    uint32_t* pixels;
    int width, height;
    int stride;  // in pixels, not bytes
};

// The rectangle of `width` x `height` pixels at (x, y).
void fillRectangle(Canvas& canvas, int x, int y, int width, int height, uint32_t argb);
// The 1-pixel border just inside that rectangle.
void outlineRectangle(Canvas& canvas, int x, int y, int width, int height, uint32_t argb);
// The disc inscribed in the square of side `size` at (x, y), with a smooth edge.
void fillDisc(Canvas& canvas, int x, int y, int size, uint32_t argb);
// A line `lineWidth` pixels thick with round caps, between points on the
// pixel grid's corners (as the X protocol places a wide line's ends).
void drawThickLine(Canvas& canvas, int x0, int y0, int x1, int y1, int lineWidth, uint32_t argb);
// `argb` laid over the canvas through a coverage mask (0: none, 255: full)
// of `width` x `height` bytes, `pitch` bytes a row, its top left at (x, y).
void blendMask(Canvas& canvas, int x, int y, const uint8_t* mask, int width, int height, int pitch, uint32_t argb);
