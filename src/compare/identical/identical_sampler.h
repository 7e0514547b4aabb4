#pragma once

#include <cstdint>
#include <vector>

#include "compare/identical/identical_signature.h"
#include "compare/sampled_rows.h"
#include "picture/picture_stream.h"

// The identical signature's sampling as a RowSink: it asks only for the rows
// of the 5 x 5 lattices (at most 300 of them) and keeps only their sums, so a
// picture of any size is reduced without being held. begin() refuses a
// picture too small to sample. Reusable: begin() starts afresh.
class IdenticalSampler : public RowSink {
public:
    IdenticalSampler();

    bool begin(int32_t width, int32_t height) override;
    bool wantsRow(int32_t y) const override;
    void row(int32_t y, const uint8_t* bgr) override;

    // SampleGrid and ToneGrid of the picture whose wanted rows have all been
    // delivered; signatureOfSampledGrids takes it from there.
    void finish(SignatureGrids& grids) const;

private:
    SampledRows m_rows;
    std::vector<int32_t> m_columnBytes; // per grid column, 5 byte offsets
    std::vector<int32_t> m_sums;        // [y][x][b, g, r]
};
