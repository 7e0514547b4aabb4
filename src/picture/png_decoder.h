#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// What one worker reuses from one PNG to the next: the rows libpng writes
// and the B, G, R row handed on.
struct PngBuffers {
    std::vector<uint8_t> rows; // one row, or a whole interlaced picture
    std::vector<uint8_t> bgr;
};

// Streams an opened PNG file into sink as 8-bit B, G, R rows top-down.
// Palettes and grey are expanded, 16-bit samples rounded to 8 bits (libpng's
// png_set_scale_16), and alpha (an alpha channel or a tRNS colour) is laid
// over white. No gamma is applied: the stored values are the pixels. A
// non-interlaced file is read a row at a time; an interlaced one needs the
// whole picture at once, which counts against kPictureMemoryBudget. A file
// whose pixel data ends early fails; one that lacks only what follows its
// pixel data (the IEND chunk) does not.
StreamResult streamPngFile(PictureFile& file, RowSink& sink, const StreamOptions& options, PngBuffers& buffers);

// The whole picture, for the signature commands and the review.
LoadedPicture decodePngFile(const std::string& path);
