#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// What one worker reuses from one WebP to the next.
struct WebpBuffers {
    std::vector<uint8_t> input;  // the whole file
    std::vector<uint8_t> pixels; // the decoded picture
    std::vector<uint8_t> bgr;
};

// Streams an opened WebP file (lossy or lossless, a still picture; an
// animation is refused) into sink as 8-bit B, G, R rows, alpha laid over
// white. libwebp decodes a picture whole, so the file and the decoded
// picture count against kPictureMemoryBudget, checked from the header
// before either is held.
StreamResult streamWebpFile(PictureFile& file, RowSink& sink, const StreamOptions& options, WebpBuffers& buffers);

// The whole picture, for the signature commands and the review.
LoadedPicture decodeWebpFile(const std::string& path);
