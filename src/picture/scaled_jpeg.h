#pragma once

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
};

// `denominator` is 1, 2, 4 or 8 (others are taken as the next one of these
// below). The file is read as it is decoded, never held whole.
ScaledJpeg decodeJpegScaled(const std::string& path, int32_t denominator);

// The coarsest libjpeg scale at which a picture shown at `zoomPercent` % of
// its size loses nothing: 8 up to 12 %, 4 up to 25 %, 2 up to 50 %, else 1.
int32_t jpegScaleForZoom(int32_t zoomPercent);
