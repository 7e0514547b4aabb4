#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// What one worker reuses from one HEIF file to the next.
struct HeifBuffers {
    std::vector<uint8_t> input; // the whole file
    std::vector<uint8_t> bgr;
};

// Streams an opened HEIF file (HEIC or AVIF, through libheif and its
// decoder plugins) into sink as 8-bit B, G, R rows: the primary picture,
// with its rotation and mirroring applied as libheif applies them by
// default, higher bit depths brought to 8 bits as libheif converts them,
// alpha laid over white. libheif decodes a picture whole: the file, the
// decoded planes and the picture count against kPictureMemoryBudget,
// checked from the file's boxes before any is held. libheif itself decodes
// in the calling thread (the search's workers are its parallelism); its
// HEVC and AV1 decoders may still start threads of their own.
StreamResult streamHeifFile(PictureFile& file, RowSink& sink, const StreamOptions& options, HeifBuffers& buffers);

// The primary picture's size from the file's boxes, after its rotation,
// without decoding and without reading the coded data; false when libheif
// cannot read them. bytesRead, when given, says how much of the file was read.
bool readHeifSides(PictureFile& file, int32_t* width, int32_t* height, int64_t* bytesRead = nullptr);

// The whole picture, for the signature commands and the review.
LoadedPicture decodeHeifFile(const std::string& path);
