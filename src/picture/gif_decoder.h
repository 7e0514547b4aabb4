#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// What one worker reuses from one GIF to the next.
struct GifBuffers {
    std::vector<uint8_t> indices; // a row of the frame, or a whole interlaced frame
    std::vector<uint8_t> bgr;
};

// Streams an opened GIF file's first frame into sink as 8-bit B, G, R rows
// of the whole logical screen: the frame's colours from its own colour table
// or the global one, its transparent colour and the screen outside the frame
// white. A frame is read a row at a time; an interlaced one is held whole (a
// byte a pixel). The screen's size and a screen mostly outside the frame
// are checked against the picture limits before anything is held.
StreamResult streamGifFile(PictureFile& file, RowSink& sink, const StreamOptions& options, GifBuffers& buffers);

// The whole picture, for the signature commands and the review.
LoadedPicture decodeGifFile(const std::string& path);
