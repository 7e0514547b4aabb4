#pragma once

#include <cstdint>
#include <vector>

#include "compare/sampled_rows.h"
#include "compare/similar/similar_sampling.h"
#include "picture/orientation.h"
#include "picture/picture_stream.h"

// The grid sampling as a RowSink: it asks only for the rows of the 3 x 3
// blocks (at most 204) and keeps only their sums. Reusable.
//
// It can sample the picture as it looks turned: each 3 x 3 block of the
// turned picture is a 3 x 3 block of the stored one around the stored pixel
// its centre comes from, so the stored rows stream past as ever and only the
// block centres and the cells their sums go to change.
class SimilarGridSink : public RowSink {
public:
    SimilarGridSink();

    // The next picture is sampled over its whole area, turned to `orientation`.
    void sampleWhole(Orientation orientation = Orientation::Upright);
    // The next picture is sampled over `window` (in the pixels of the picture
    // turned to `orientation`) of a stored picture of width x height; a
    // picture of another size is refused.
    void sampleWindow(PixelWindow window, int32_t width, int32_t height,
                      Orientation orientation = Orientation::Upright);

    // Refuses a picture smaller than 3 x 3 pixels.
    bool begin(int32_t width, int32_t height) override;
    bool wantsRow(int32_t y) const override;
    void row(int32_t y, const uint8_t* bgr) override;
    // A window is sampled on a second look at a picture whose file the whole
    // sampling has just read to the end.
    bool needsWholeFile() const override { return m_whole; }

    // Whether begin() accepted the picture.
    bool began() const { return m_began; }
    // The stored picture's size.
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }

    // Fills cells 1..68 from the sums; returns the BlackLevel, the smallest
    // block-average channel met.
    int32_t finish(ColourGrid& grid) const;

private:
    bool m_whole = true;
    Orientation m_orientation = Orientation::Upright;
    PixelWindow m_window; // in the turned picture's pixels
    bool m_began = false;
    int32_t m_width = 0;
    int32_t m_height = 0;
    SampledRows m_rows;
    std::vector<int32_t> m_columnBytes; // per cell column, the byte offset of its first pixel
    // [row][column][b, g, r] of the stored picture's blocks, 0..67 for the
    // turned grid's cells 1..68: row is the cell's y and column its x, or the
    // other way round for an orientation that swaps the sides.
    std::vector<int32_t> m_sums;
};
