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
