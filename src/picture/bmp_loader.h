#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// Reads a Windows bitmap of any bit depth (palettes, RLE, bit fields,
// top-down) and converts it to 24-bit B, G, R. Uncompressed bitmaps are read
// row by row from the file; RLE and unusual layouts go through the platform
// reader, refused before decoding when width x height x 4 bytes exceeds
// kPictureMemoryBudget. Rows missing from a truncated file are black.
LoadedPicture loadBmpFile(const std::string& path);
LoadedPicture loadBmpMemory(const uint8_t* data, std::size_t size);

// What one worker reuses from one bitmap to the next.
struct BmpBuffers {
    std::vector<uint8_t> raw;
    std::vector<uint8_t> bgr;
};

// Streams an opened bitmap into sink; only wanted rows are read.
StreamResult streamBmpFile(PictureFile& file, RowSink& sink, const StreamOptions& options, BmpBuffers& buffers);
