#pragma once

#include <cstdint>
#include <vector>

#include "compare/identical/identical_signature.h"
#include "compare/sampled_rows.h"
#include "picture/orientation.h"
#include "picture/picture_stream.h"

// The identical signature's sampling as a RowSink: it asks only for the rows
// of the 5 x 5 lattices (at most 300 of them) and keeps only their sums, so a
// picture of any size is reduced without being held. begin() refuses a
// picture too small to sample. Reusable: begin() starts afresh.
//
// Given an orientation, it samples the picture as it looks turned that way:
// it reads, from the stored rows streamed to it, exactly the pixels the
// turned picture's lattices cover, so its grids are those of the turned
// picture and no turned copy is ever made. A turn that swaps the sides reads
// a turned column from each stored row.
class IdenticalSampler : public RowSink {
public:
    explicit IdenticalSampler(Orientation orientation = Orientation::Upright);

    bool begin(int32_t width, int32_t height) override;
    bool wantsRow(int32_t y) const override;
    void row(int32_t y, const uint8_t* bgr) override;

    // SampleGrid and ToneGrid of the picture whose wanted rows have all been
    // delivered; signatureOfSampledGrids takes it from there.
    void finish(SignatureGrids& grids) const;

    Orientation orientation() const { return m_orientation; }

private:
    Orientation m_orientation;
    bool m_swapped;
    SampledRows m_rows;                 // stored rows, each with the grid line it feeds
    std::vector<int32_t> m_columnBytes; // per cell along a stored row, 5 byte offsets
    // Per grid line fed by a stored row (a grid row, or a grid column when
    // the sides swap), the 60 cells along it: [line][cell][b, g, r].
    std::vector<int32_t> m_sums;
};
