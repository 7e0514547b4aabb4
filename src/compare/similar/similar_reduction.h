#pragma once

#include "compare/similar/similar_sampling.h"
#include "compare/similar/similar_signature.h"
#include "picture/picture.h"

// Whether the picture is large enough to be sampled (3 x 3 pixels at least);
// a smaller one is treated as unreadable.
bool canReduceSimilar(const Picture& picture);

// Sampling and signature of one decoded picture. The sampled grid and planes
// are left in `sampled` (the planes quantised by the signature), for tools
// that want to show them.
void reduceSimilarPicture(const Picture& picture, SimilarSignature& signature, SampledPicture& sampled);
void reduceSimilarPicture(const Picture& picture, SimilarSignature& signature);
