// A message box's text and picture for display systems where the layer
// draws the box's pixels itself, into memory: fonts through fontconfig and
// FreeType, painting into a Canvas. Nothing here talks to a display.
#pragma once

#include "platform/common/message_box.h"
#include "platform/pixels/canvas.h"

#include <cstdint>
#include <string>

// The box's font at `dpi` (within the resolutions text is drawn at), and
// text in it; a back end's box owns the font it opened.
std::unique_ptr<BoxFont> openPixelBoxFont(double dpi);
void drawPixelText(const BoxFont* font, Canvas& canvas, int x, int baselineY, const std::string& text, uint32_t argb);

// The box's picture (as every back end draws it) on a canvas.
void paintMessageBox(Canvas& canvas, const BoxLayout& layout, const BoxFont* font, bool buttonDown);

// Where the compositor draws no title bars, a box has its own above its
// face, of this height: the caption and a close button, the only button a
// box's title bar has.
int boxTitleHeight(const BoxLayout& layout);
// Whether (x, y), in the title bar's pixels, is on its close button.
bool insideCloseButton(const Canvas& titleBar, int x, int y);
void paintBoxTitleBar(Canvas& titleBar, const BoxFont* font, const std::string& caption, bool closeDown);
