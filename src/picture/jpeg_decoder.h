#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"
#include "picture/whole_picture_sink.h"

// Decodes a JPEG at scale 1/1 into 24-bit B, G, R. Greyscale pictures come out
// with R = G = B, CMYK and YCCK pictures are converted to RGB. A libjpeg error
// is a failed load; a warning (such as a truncated file that libjpeg can still
// finish with grey) is not.
LoadedPicture decodeJpegFile(const std::string& path, JpegIdct idct);
LoadedPicture decodeJpegMemory(const uint8_t* data, std::size_t size, JpegIdct idct);

struct JpegDecode;

// What one worker reuses from one JPEG to the next: the file read buffer and
// the strip of decoded rows. Also the last multi-scan (progressive) decode
// of a file, whose coefficients libjpeg holds whole anyway: a second look at
// the same file version (the similar sampling's second pass over a framed
// picture) runs another output pass over them instead of reading every scan
// again. It is let go at the next stream, before anything new is allocated.
struct JpegBuffers {
    std::vector<uint8_t> input;
    std::vector<uint8_t> strip;
    std::vector<uint8_t> bgr;
    std::shared_ptr<JpegDecode> kept;
};

// Streams an opened JPEG file (or JPEG bytes) into sink, skipping bands of
// rows the sink does not want where that leaves the delivered rows exactly as
// a whole decode gives them.
StreamResult streamJpegFile(PictureFile& file, RowSink& sink, const StreamOptions& options, JpegBuffers& buffers);
StreamResult streamJpegMemory(const uint8_t* data, std::size_t size, RowSink& sink, const StreamOptions& options,
                              JpegBuffers& buffers);

struct jpeg_common_struct;
struct jpeg_decompress_struct;

// A JPEG frame header: what the claim of its picture is made of.
struct JpegFrame {
    static constexpr int kMaxComponents = 10; // libjpeg's limit
    int64_t width = 0;
    int64_t height = 0;
    int components = 0;
    int h[kMaxComponents] {}; // sampling factors, 1 to 4
    int v[kMaxComponents] {};
    bool arithmetic = false;
};

// What a JPEG claims (see picture_limits.h): from its frame header and its
// file's length, with `heldBytes` of coefficients to hold.
PictureClaim jpegFrameClaim(const JpegFrame& frame, int64_t fileBytes, int64_t heldBytes);

// The same from libjpeg's reading of the header (after jpeg_read_header),
// with the coefficients a multi-scan file makes it hold.
PictureClaim jpegDecodeClaim(jpeg_decompress_struct* cinfo, int64_t fileBytes);

// libjpeg's emit_message for the decoders: a warning is logged (the first of
// a file, with the file's name; null for bytes in memory), trace messages are not.
void logJpegMessage(jpeg_common_struct* cinfo, int level, const char* fileName);

// One row of libjpeg's CMYK output as B, G, R. Files with an Adobe marker
// store inverted CMYK (as Photoshop writes it); others store plain CMYK.
void cmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t width, bool adobeInverted);
