#pragma once

#include <cstdint>

#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// Largest picture the whole-picture loaders accept, in pixels: the review
// holds pictures whole. Streamed decodes are bounded only by
// kPictureMemoryBudget.
inline constexpr int64_t kMaxPicturePixels = int64_t{400} * 1000 * 1000;

// Collects every row of a stream into a whole picture, for the callers that
// hold pictures whole (the review, the signature commands). A picture above
// kMaxPicturePixels is refused before anything is allocated.
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
};
