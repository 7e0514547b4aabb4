#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "compare/similar/similar_byte_sums.h"
#include "compare/similar/similar_signature.h"

// Files above which the stricter bounds apply: in a large collection more
// pairs resemble each other by chance.
inline constexpr int32_t kLargeSearchFiles = 1000;

// Warm centroids this many cells apart (or more) on an axis are too far
// apart for the alignment to mean anything.
inline constexpr int32_t kAlignmentReach = 22;

// Divisors that bring the luminance and chroma-contrast plane totals (sums
// over 3600 cells) to the scale of the scores.
inline constexpr int32_t kLumaTotalDivisor = 41000;
inline constexpr int32_t kChromaTotalDivisor = 30000;

inline constexpr int32_t kContrastTotalDivisor = 7500;

// A ChromaScore above kLumaReductionFrom loses up to kLumaReductionMax when
// LumaScore is below kLumaReductionBase; then, above
// kContrastReductionFrom, up to kContrastReductionMax when ContrastScore is
// below kContrastReductionBase.
inline constexpr int32_t kLumaReductionFrom = 30;
inline constexpr int32_t kLumaReductionBase = 15;
inline constexpr int32_t kLumaReductionMax = 7;
inline constexpr int32_t kContrastReductionFrom = 25;
inline constexpr int32_t kContrastReductionBase = 50;
inline constexpr int32_t kContrastReductionMax = 8;

// Differences of the band codes: contrast (groups 0 and 1, entries 1..6) and
// luminance (groups 2 and 3, entries 7..12). May be negative: a shared
// strong or weak third is a bonus.
struct CodeDistances {
    int32_t contrast = 0;
    int32_t luminance = 0;
};

// Code distance of group g (band-code entries 3g + 1 .. 3g + 3).
int32_t groupCodeDistance(const std::array<int32_t, 13>& a, const std::array<int32_t, 13>& b, int32_t group);
CodeDistances codeDistances(const SimilarSignature& a, const SimilarSignature& b);

// The cheap first gate of a pair; depends on the band codes alone. Each
// distance at most CheckLevel + 3, their sum at most 2.5 x CheckLevel + 4
// (in halves, so that the comparison stays in integers).
inline bool passesCodeGate(const CodeDistances& codes, int32_t level)
{
    return codes.contrast <= level + 3 && codes.luminance <= level + 3
        && 2 * (codes.contrast + codes.luminance) <= 5 * level + 8;
}

// What the scores read of one picture, packed (a few cache lines) so that
// the pair pass can run through many pictures quickly.
struct PairSide {
    // Profile rows 3 to 6 (luminance x, y, chroma contrast x, y); element i
    // holds index i + 5, elements 60..63 stay 0.
    std::array<std::array<uint8_t, 64>, 4> rows {};
    int32_t warmX = 0; // CentroidX[3]
    int32_t warmY = 0; // CentroidY[3]
    int32_t spreadA = 0;
    int32_t spreadB = 0;
    std::array<int32_t, 3> planeTotals {};
    const SimilarSignature* signature = nullptr; // the contrast map
    // The same map packed, when the pair pass has packed it (both sides of a
    // pair need it for the plain map sum to be taken from the planes).
    const ContrastPlanes* planes = nullptr;
};

PairSide makePairSide(const SimilarSignature& signature);

// Where the rows of PairSide::rows come from.
inline constexpr int32_t kLumaRowX = 3;
inline constexpr int32_t kLumaRowY = 4;
inline constexpr int32_t kChromaRowX = 5;
inline constexpr int32_t kChromaRowY = 6;

// The offsets of the alignment mapping, spreadO * d / spreadR, tabled for
// every pair of spreads 1 <= spreadO <= spreadR <= kTabledSpread (those of
// real signatures stay below 60) and d = -64..63: row alignmentOffsetRow of
// kOffsetRowBytes entries, d at d + kOffsetZero. A pairing reads up to 64
// entries from the start of a window, so a padding row follows the last.
inline constexpr int32_t kTabledSpread = 63;
inline constexpr int32_t kOffsetRowBytes = 128;
inline constexpr int32_t kOffsetZero = 64;
constexpr int32_t alignmentOffsetRow(int32_t spreadR, int32_t spreadO)
{
    return spreadR * (spreadR - 1) / 2 + spreadO - 1;
}
const int8_t* alignmentOffsets();

// One axis of the alignment window: O's picture stretched onto the reference
// picture R around their warm centroids by the ratio of their warm spreads.
struct AxisAlignment {
    bool referenceIsA = true;
    int32_t centreR = 0;
    int32_t centreO = 0;
    int32_t spreadR = 1;
    int32_t spreadO = 1;
    int32_t lo = kInnerFirst;
    int32_t hi = kInnerLast;
    // ceil(2^32 / spreadR), or 0 when spreadR is too large for it to be exact.
    uint64_t reciprocal = 0;
    // spreadO * d / spreadR for d = k - centreR, indexed by d, when the whole
    // window maps inside the inner cells and the spreads are in the table;
    // otherwise null.
    const int8_t* offsets = nullptr;

    // Index of O that index k of R meets.
    int32_t mapped(int32_t k) const { return spreadO * (k - centreR) / spreadR + centreO; }

    // The same without a division, for the pair pass: the product by the
    // rounded-up reciprocal truncates exactly while dividend * spreadR < 2^32,
    // which holds for spreadO <= spreadR < 256 and indices within the grid.
    int32_t mappedFast(int32_t k) const
    {
        if (reciprocal == 0)
            return mapped(k);
        const int32_t d = k - centreR;
        const uint64_t dividend = static_cast<uint64_t>(spreadO) * static_cast<uint64_t>(d < 0 ? -d : d);
        const auto quotient = static_cast<int32_t>((dividend * reciprocal) >> 32);
        return d < 0 ? centreO - quotient : centreO + quotient;
    }

    int32_t length() const { return hi - lo + 1; }
    int32_t indexOfA(int32_t k) const { return referenceIsA ? k : mapped(k); }
    int32_t indexOfB(int32_t k) const { return referenceIsA ? mapped(k) : k; }
};

// The indices of A and of B (less 5) that meet along one axis of the window
// (every entry is written).
void fillAxisPairing(const AxisAlignment& axis, IndexPairing& pairing);

// Spreads must be at least 1.
AxisAlignment axisAlignment(int32_t centreA, int32_t spreadA, int32_t centreB, int32_t spreadB);

// The plane-total term of ContrastScore: |PlaneTotals[0] of A - of B| / 7500.
int32_t contrastTotalsScore(const PairSide& a, const PairSide& b);

// The alignment window exists only when the warm centroids are close on both axes.
bool alignmentWindowExists(const PairSide& a, const PairSide& b);

struct SimilarPairScores {
    int32_t contrast = 0;
    int32_t luma = 0;
    int32_t chroma = 0;
    int32_t similarity = 0;
    CodeDistances codes;
};

// The bounds of a CheckLevel as the largest integer score each accepts (the
// bounds themselves are real numbers). fileCount selects the stricter bounds
// above kLargeSearchFiles.
struct SimilarScoreLimits {
    int32_t lumaStep = 0;   // LumaScore after its own step
    int32_t chromaStep = 0; // ChromaScore after its own step
    int32_t contrast = 0;
    int32_t luma = 0;
    int32_t chroma = 0;
    int32_t lumaChroma = 0;
    int32_t similarity = 0;
};

SimilarScoreLimits similarScoreLimits(int32_t level, int32_t fileCount);

// Scores a pair that has passed the code gate; empty when a bound rejects it.
std::optional<SimilarPairScores> scoreGatedPair(const PairSide& a, const PairSide& b, const CodeDistances& codes,
                                                const SimilarScoreLimits& limits);
std::optional<SimilarPairScores> scoreGatedPair(const PairSide& a, const PairSide& b, const CodeDistances& codes,
                                                int32_t level, int32_t fileCount);

// The scores with ContrastScore set to `contrast`: the contrast step's
// reduction of ChromaScore and the sum (steps: the scores before it).
// Inline, like the bounds below: the contrast step tries eight values.
inline SimilarPairScores withContrast(const SimilarPairScores& steps, int32_t contrast)
{
    SimilarPairScores out = steps;
    out.contrast = contrast;
    if (out.chroma > kContrastReductionFrom)
        out.chroma -= std::min(kContrastReductionMax, std::max(0, kContrastReductionBase - out.contrast));
    out.similarity = 2 * out.contrast + out.luma + out.chroma;
    return out;
}

// The five bounds of the decision.
inline bool passesFinalBounds(const SimilarPairScores& s, const SimilarScoreLimits& limits)
{
    return s.contrast <= limits.contrast && s.luma <= limits.luma && s.chroma <= limits.chroma
        && s.luma + s.chroma <= limits.lumaChroma && s.similarity <= limits.similarity;
}

// The contrast step and the decision of a pair whose LumaScore and
// ChromaScore (after their own steps, which it has passed) are in `steps`,
// with its code distances.
std::optional<SimilarPairScores> scoreContrastStep(const PairSide& a, const PairSide& b, const SimilarPairScores& steps,
                                                   const SimilarScoreLimits& limits);

// The code gate, then the scores.
std::optional<SimilarPairScores> scoreSimilarPair(const SimilarSignature& a, const SimilarSignature& b,
                                                  int32_t level, int32_t fileCount);

// The result line of an accepted pair (indexA < indexB). Characters 1-4 hold
// the score, 7-12 and 15-20 the indices; the rest is diagnostic.
std::string similarResultLine(const SimilarPairScores& scores, int32_t indexA, int32_t indexB,
                              const SimilarSignature& a, const SimilarSignature& b, std::string_view pathA,
                              std::string_view pathB);
