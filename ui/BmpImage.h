#pragma once

#include <vector>

// Pixels of a decoded picture: 4 bytes per pixel (red, green, blue, alpha),
// the top row first.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};

// Decodes the bytes of a BMP file: a BITMAPINFOHEADER (or a larger header
// of the same start), no compression, 8 bits per pixel with a palette, or 24
// or 32 bits per pixel; rows bottom-up or, with a negative height, top-down.
// Every pixel comes out opaque. False for anything else, and for a file too
// short for what its header says. The wizard's banner is such a file, and
// decoding it here means the toolkit is never asked to guess its format.
bool DecodeBmp(const std::vector<unsigned char>& bytes, RgbaImage* image);
