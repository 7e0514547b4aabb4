#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"
#include "picture/picture_stream.h"

// Reads a Windows bitmap of any bit depth (palettes, RLE, bit fields,
// top-down, OS/2 headers) and converts it to 24-bit B, G, R, with the values
// the platform reader (QImageReader) gives. Uncompressed bitmaps are read row
// by row from the file; RLE4/RLE8 are decoded by bmp_run_length, laid out as
// the platform reader lays them; anything else goes to the platform reader,
// a strip of rows at a time when it is uncompressed. What the headers claim
// is checked against the limits of picture_limits.h first, the platform and
// run-length decodes at four bytes a pixel. Pixels the platform reader would
// leave unset (rows missing from a truncated file, pixels an RLE stream never
// reaches) are black.
LoadedPicture loadBmpFile(const std::string& path);

// What one worker reuses from one bitmap to the next.
struct BmpBuffers {
    std::vector<uint8_t> raw;
    std::vector<uint8_t> bgr;
};

// Streams an opened bitmap into sink; only wanted rows are read.
StreamResult streamBmpFile(PictureFile& file, RowSink& sink, const StreamOptions& options, BmpBuffers& buffers);

// The size an opened bitmap decodes to, from its headers alone: a top-down
// bitmap (negative height) has as many rows as the height's magnitude. 0 x 0
// when the headers give no size (not "BM", too short, a side of 0, a header
// of a kind not known). `refusal` is set as a decode of the file would
// refuse it for the limits of picture_limits.h, or left empty.
PictureSize bmpDecodedSize(const PictureFile& file, std::string& refusal);
