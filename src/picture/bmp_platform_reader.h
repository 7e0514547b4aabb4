#pragma once

#include <cstdint>

#include "picture/picture_stream.h"

// Bitmaps our own row reader leaves to Qt's: alpha, other header kinds, odd
// masks or palettes. Decoded whole, within the picture limits, then handed on
// a row at a time.

// Memory for a picture decoded whole at four bytes a pixel; sides below
// 2^31, so only the last factor can overflow.
int64_t wholeDecodeBytes(int64_t width, int64_t height);

// Decodes the bitmap open on `fd` (read from its start; not closed) with
// the platform reader and streams its rows into `sink`.
StreamResult streamPlatformBitmap(int fd, RowSink& sink);

// Where the rows of an uncompressed bitmap lie.
struct PlatformRows {
    int64_t pixelOffset = 0; // the headers and tables are the bytes before it
    int64_t stride = 0;
    int64_t fileSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    int bits = 0;
    bool topDown = false;
};

// The same rows as streamPlatformBitmap, without the whole picture: each
// strip of rows the sink wants is handed to the platform reader as a bitmap
// of its own, with the file's headers and tables and the strip's height. The
// reader converts a pixel the same in any row of any height, so the rows are
// those of the whole decode. The rows a file cut short lacks come out black
// (a whole decode leaves them as its line buffer held them), and so do the
// pixels not wholly within a row cut short. Falls back to the whole decode
// when the reader sees another size than `rows`.
StreamResult streamPlatformBitmapRows(int fd, const PlatformRows& rows, RowSink& sink);
