#include "compare/similar/similar_reduction.h"

#include <memory>

bool canReduceSimilar(const Picture& picture)
{
    return picture.width() >= kMinSimilarPictureSide && picture.height() >= kMinSimilarPictureSide;
}

void reduceSimilarPicture(const Picture& picture, SimilarSignature& signature, SampledPicture& sampled)
{
    samplePicture(picture, sampled);
    computeSimilarSignature(sampled.grid, sampled.planes, signature);
}

void reduceSimilarPicture(const Picture& picture, SimilarSignature& signature)
{
    // About 45 KB of grids: on the heap rather than a worker thread's stack.
    const auto sampled = std::make_unique<SampledPicture>();
    reduceSimilarPicture(picture, signature, *sampled);
}
