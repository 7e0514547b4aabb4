#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/picture_loader.h"

// Decodes a JPEG at scale 1/1 into 24-bit B, G, R. Greyscale pictures come out
// with R = G = B, CMYK and YCCK pictures are converted to RGB. A libjpeg error
// is a failed load; a warning (such as a truncated file that libjpeg can still
// finish with grey) is not.
LoadedPicture decodeJpegFile(const std::string& path, JpegIdct idct);
LoadedPicture decodeJpegMemory(const uint8_t* data, std::size_t size, JpegIdct idct);

// Largest picture the decoders accept, in pixels: a damaged header must not
// make us allocate gigabytes.
inline constexpr int64_t kMaxPicturePixels = int64_t{400} * 1000 * 1000;
