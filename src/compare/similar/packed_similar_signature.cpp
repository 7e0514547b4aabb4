#include "compare/similar/packed_similar_signature.h"

#include <algorithm>
#include <cstddef>

#include "compare/similar/similar_scoring.h"

namespace {

// Code 3 is never packed.
constexpr std::array<uint8_t, 4> kContrastLevels {0, 128, 255, 0};

} // namespace

bool packSimilarSignature(const SimilarSignature& signature, PackedSimilarSignature& out)
{
    out = PackedSimilarSignature {};
    bool quantised = true;
    const uint8_t* map = signature.contrastMap.data();
    for (std::size_t at = 0; at < out.contrastCodes.size(); ++at) {
        uint8_t codes = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const uint8_t value = map[4 * at + k];
            quantised = quantised && (value == 0 || value == 128 || value == 255);
            codes |= static_cast<uint8_t>(((value == 128 ? 1 : 0) | (value == 255 ? 2 : 0)) << (2 * k));
        }
        out.contrastCodes[at] = codes;
    }
    if (!quantised) {
        out = PackedSimilarSignature {};
        return false;
    }
    for (std::size_t r = 0; r < out.profiles.size(); ++r) {
        const auto& row = signature.profiles[static_cast<std::size_t>(kLumaRowX) + r];
        std::copy(row.begin() + kInnerFirst, row.begin() + kInnerLast + 1, out.profiles[r].begin());
    }
    for (std::size_t e = 0; e < out.bandCodes.size(); ++e)
        out.bandCodes[e] = static_cast<uint8_t>(signature.bandCodes[e + 1]);
    out.planeTotals = signature.planeTotals;
    out.warmX = signature.centroidX[kWarmCentroid];
    out.warmY = signature.centroidY[kWarmCentroid];
    out.spreadA = signature.spreadA;
    out.spreadB = signature.spreadB;
    return true;
}

void unpackSimilarSignature(const PackedSimilarSignature& packed, SimilarSignature& out)
{
    out = SimilarSignature {};
    for (std::size_t cell = 0; cell < out.contrastMap.size(); ++cell)
        out.contrastMap[cell] = kContrastLevels[(packed.contrastCodes[cell / 4] >> (2 * (cell % 4))) & 3];
    for (std::size_t r = 0; r < packed.profiles.size(); ++r) {
        auto& row = out.profiles[static_cast<std::size_t>(kLumaRowX) + r];
        std::copy(packed.profiles[r].begin(), packed.profiles[r].end(), row.begin() + kInnerFirst);
    }
    for (std::size_t e = 0; e < packed.bandCodes.size(); ++e)
        out.bandCodes[e + 1] = packed.bandCodes[e];
    out.planeTotals = packed.planeTotals;
    out.centroidX[kWarmCentroid] = packed.warmX;
    out.centroidY[kWarmCentroid] = packed.warmY;
    out.spreadA = packed.spreadA;
    out.spreadB = packed.spreadB;
}
