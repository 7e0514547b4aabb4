#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// What one worker reuses from one TIFF to the next.
struct TiffBuffers {
    std::vector<uint32_t> band; // a band of rows as libtiff's RGBA interface gives them
    std::vector<uint8_t> scanline; // one row as the file holds it (8-bit RGB or grey)
    std::vector<uint8_t> bgr;
};

// Streams an opened TIFF file's first picture into sink as 8-bit B, G, R
// rows top-down. 8-bit RGB and grey strips are read row by row as stored;
// the rest through libtiff's RGBA interface: every photometric it
// knows (grey, palette, RGB, CMYK, YCbCr, ...), 16-bit samples rounded to 8,
// alpha laid over white, the Orientation tag's flips applied (its
// transposing orientations, 5 to 8, are taken as their flips alone). Read a band
// of rows at a time; the claim (sides, libtiff's largest strip or tile, the
// band) is checked against the picture limits before anything is held.
StreamResult streamTiffFile(PictureFile& file, RowSink& sink, const StreamOptions& options, TiffBuffers& buffers);

// The first picture's sides from its directory, read by libtiff without
// decoding any pixels; false when libtiff cannot read the directory.
bool readTiffSides(int fd, int64_t fileBytes, const std::string& path, uint32_t* width, uint32_t* height);

// The whole picture, for the signature commands and the review.
LoadedPicture decodeTiffFile(const std::string& path);
