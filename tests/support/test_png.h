#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture.h"

namespace testing_support {

// What a test PNG holds: `samples` are the channel values of each pixel,
// row by row (palette indices for a palette picture; values below
// 2^bitDepth), written with libpng at exactly that depth and colour type.
struct PngLayout {
    int width = 1;
    int height = 1;
    int colourType = 2; // PNG_COLOR_TYPE_RGB
    int bitDepth = 8;
    std::vector<uint16_t> samples;
    bool interlaced = false;
    std::vector<uint8_t> palette;      // R, G, B a colour
    std::vector<uint8_t> paletteAlpha; // tRNS of a palette picture
};

std::string encodePng(const PngLayout& layout);

// An 8-bit RGB PNG of a picture.
std::string encodePng(const Picture& picture, bool interlaced = false);

} // namespace testing_support
