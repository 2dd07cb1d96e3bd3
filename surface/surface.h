// The window's pixel format, and the logical palette for displays that
// need one.
#pragma once

#include "platform/win32.h"

// The format the viewer asks for: double-buffered RGBA, 8 colour and 16
// depth bits, drawn to a window with OpenGL.
PIXELFORMATDESCRIPTOR pixelFormatRequest();
// Returns only when the format is set; otherwise reports it and exits with 1.
void configurePixelFormat(HDC deviceContext);
// Creates the rendering context and makes it current; returns only when
// both have succeeded, otherwise reports it and exits with 1: a window with
// no context would stay black for good.
void createRenderingContext(HDC deviceContext);
// The error box of a surface that cannot be had, then exit code 1.
[[noreturn]] void reportSurfaceFailure(HDC deviceContext, LPCSTR text);

void buildLogicalPalette(HDC deviceContext);
void reselectPalette();
// Fills the palette's entries from the format's channel layout; returns
// false, filling nothing, when the format cannot be described by one.
bool fillPaletteEntries(const PIXELFORMATDESCRIPTOR& format, LOGPALETTE* palette);
