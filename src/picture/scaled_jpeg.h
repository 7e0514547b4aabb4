#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "picture/picture_loader.h"

// A whole JPEG picture decoded at 1/denominator of its size, for showing it:
// the accurate inverse DCT, libjpeg's own scaling, 24-bit B, G, R. At 1/1 the
// pixels are exactly those of loadPicture(path, JpegIdct::Accurate).
struct ScaledJpeg {
    LoadedPicture loaded;     // the picture: ceil(width / d) x ceil(height / d)
    int32_t fullWidth = 0;    // the picture's own size, from its header
    int32_t fullHeight = 0;
    bool cancelled = false;   // stopped on request: no picture, no failure
};

// `denominator` is 1, 2, 4 or 8 (others are taken as the next one of these
// below). The file is read as it is decoded, never held whole. `cancel`,
// when given, is polled between rows: a decode nobody waits for any more
// stops early.
ScaledJpeg decodeJpegScaled(const std::string& path, int32_t denominator,
                            const std::atomic<bool>* cancel = nullptr);

// A part of a JPEG picture at full size (accurate IDCT): the rows y to
// y + height - 1 and at least the columns x to x + width - 1, clipped to the
// picture; those pixels are exactly the whole decode's. libjpeg cuts columns
// only at block boundaries and a block column more is taken on each side
// (its outer pixels may differ slightly), so the part starts further left
// and is wider; `left` and `top` say where it lies.
struct JpegRegion {
    LoadedPicture loaded; // the part's pixels
    int32_t left = 0;
    int32_t top = 0;
    int32_t fullWidth = 0;
    int32_t fullHeight = 0;
    bool cancelled = false;
};

JpegRegion decodeJpegRegion(const std::string& path, int32_t x, int32_t y, int32_t width, int32_t height,
                            const std::atomic<bool>* cancel = nullptr);

// The coarsest libjpeg scale at which a picture shown at `zoomPercent` % of
// its size loses nothing: 8 up to 12 %, 4 up to 25 %, 2 up to 50 %, else 1.
int32_t jpegScaleForZoom(int32_t zoomPercent);
