#pragma once

#include <memory>

#include "compare/identical/identical_sampler.h"
#include "compare/picture_outcome.h"
#include "compare/picture_rows.h"
#include "compare/similar/similar_sampler.h"

// One worker's reductions: it streams a picture once into the wanted
// engines' samplers side by side (and a framed picture a second time for the
// similar sampling's content window) and turns what they kept into
// signatures. Holds the working grids, so that nothing is allocated per
// picture; one per thread.
class PictureReduction {
public:
    PictureReduction();
    ~PictureReduction();
    PictureReduction(const PictureReduction&) = delete;
    PictureReduction& operator=(const PictureReduction&) = delete;

    // Fills `out` (status, size, signatures) from the picture behind source.
    void reduce(const RowSource& source, Reductions wanted, PictureOutcome& out);

    // The similar sampling of the last picture reduced for the similar
    // engine (its frame, grid and planes), valid until the next reduce.
    const SampledPicture& lastSimilarSampling() const;

private:
    struct Work;
    std::unique_ptr<Work> m_work;
};
