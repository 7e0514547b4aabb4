#pragma once

#include <array>
#include <cstdint>

#include "compare/similar/similar_signature.h"

// What the pair pass reads of a similar signature, in about a fifth of its
// bytes: the contrast map at two bits a cell, the luminance and
// chroma-contrast profiles, the warm centroid and spreads, the plane totals
// and the band codes. A search for turned copies keeps seven of these a
// picture rather than seven whole signatures (1.2 KB against 5.6 KB each).
struct PackedSimilarSignature {
    std::array<uint8_t, kInnerSize * kInnerSize / 4> contrastCodes {}; // four cells a byte: 0, 1 (128), 2 (255)
    std::array<std::array<uint8_t, kInnerSize>, 4> profiles {};       // rows 3..6, indices 5..64
    std::array<uint8_t, 12> bandCodes {};                             // entries 1..12
    std::array<int32_t, 3> planeTotals {};
    int32_t warmX = 0;
    int32_t warmY = 0;
    int32_t spreadA = 0; // 0: no signature
    int32_t spreadB = 0;
};

// False (and `out` left without a signature) when the contrast map holds a
// value the quantisation never writes, so that such a signature is not
// compared rather than compared wrongly.
bool packSimilarSignature(const SimilarSignature& signature, PackedSimilarSignature& out);

// The signature back, as far as the pair pass and the result line read it;
// the other fields (profile rows 1, 2, 7, 8, centroid entries 0..2) are 0.
void unpackSimilarSignature(const PackedSimilarSignature& packed, SimilarSignature& out);
