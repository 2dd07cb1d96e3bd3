// The application's icon, drawn at any size: the lit cylinder on the
// background of the viewer's window. Desktops show it for the window and,
// installed as files, for the program's launcher.
#pragma once

#include <cstdint>
#include <vector>

// size x size pixels, row by row, as 0xAARRGGBB without premultiplied alpha.
std::vector<uint32_t> applicationIcon(int size);
