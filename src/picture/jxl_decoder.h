#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// What one worker reuses from one JPEG XL file to the next.
struct JxlBuffers {
    std::vector<uint8_t> input;  // the whole file
    std::vector<uint8_t> pixels; // the decoded picture, R, G, B (and A where it has alpha)
    std::vector<uint8_t> bgr;
};

// Streams an opened JPEG XL file into sink as 8-bit B, G, R rows: the first
// frame as libjxl decodes it by default (its orientation applied, lossy
// pictures in sRGB), alpha laid over white. libjxl decodes in the calling
// thread (no parallel runner) and whole: the file and the picture count
// against kPictureMemoryBudget, checked from the basic info before the
// picture's buffer is given.
StreamResult streamJxlFile(PictureFile& file, RowSink& sink, const StreamOptions& options, JxlBuffers& buffers);

// The picture's size, after its orientation, from the codestream's header
// (in a container, the boxes before the codestream are passed over unread);
// false when libjxl cannot read it.
bool readJxlSides(PictureFile& file, int32_t* width, int32_t* height);

// The whole picture, for the signature commands and the review.
LoadedPicture decodeJxlFile(const std::string& path);
