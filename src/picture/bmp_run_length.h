#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "picture/picture_stream.h"

// Run-length (RLE8, RLE4) bitmaps, decoded as the platform reader lays them
// out, holding the palette indices of the rows the sink wants alone.

// What the headers of a run-length bitmap give.
struct RunLengthLayout {
    int32_t width = 0;
    int32_t height = 0;
    bool topDown = false;
    bool fourBit = false;
    int64_t pixelOffset = 0;
    const std::array<uint8_t, 256 * 3>* palette = nullptr; // B, G, R
};

// Streams the bitmap open on `fd` (of `fileSize` bytes) into `sink`, reading
// through `readBuffer` and handing rows on from `rowBuffer` (both reused
// from one picture to the next). Indices never written and those beyond the
// palette come out black. The stream is decoded whole even when the sink
// wants no row, so that damage fails it.
StreamResult streamRunLengthBitmap(int fd, int64_t fileSize, const RunLengthLayout& layout, RowSink& sink,
                                   std::vector<uint8_t>& readBuffer, std::vector<uint8_t>& rowBuffer);
