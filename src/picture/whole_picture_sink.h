#pragma once

#include <cstdint>

#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// Collects every row of a stream into a whole picture, for the callers that
// hold pictures whole (the review). The decoders refuse a picture beyond
// kMaxPicturePixels before its first row; the sink checks again before it
// allocates.
class WholePictureSink : public RowSink {
public:
    bool begin(int32_t width, int32_t height) override;
    bool wantsRow(int32_t) const override { return true; }
    void row(int32_t y, const uint8_t* bgr) override;

    // The picture, or why there is none, after the stream that fed this sink
    // ended with streamed.
    LoadedPicture take(const StreamResult& streamed);

private:
    Picture m_picture;
    bool m_tooLarge = false;
    int32_t m_width = 0; // of a picture refused
    int32_t m_height = 0;
};
