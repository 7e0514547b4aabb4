#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/picture_loader.h"

// Reads a Windows bitmap of any bit depth (palettes, RLE, bit fields,
// top-down) and converts it to 24-bit B, G, R.
LoadedPicture loadBmpFile(const std::string& path);
LoadedPicture loadBmpMemory(const uint8_t* data, std::size_t size);
