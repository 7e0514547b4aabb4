#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "compare/identical/identical_signature.h"
#include "search/search_options.h"

// The identical-picture decision: a cascade of gates on two signatures.

// The four limits of one engine call.
struct MatchLimits {
    int32_t centroid = 0; // CentroidLimit
    int32_t tone = 0;     // ToneLimit
    int32_t edge = 0;     // EdgeLimit
    int32_t total = 0;    // TotalLimit
};

// ChooseLimits: fixed strict limits when confirming runs of equal file size
// or picture size, limits growing with the level in identical-picture mode.
MatchLimits ChooseLimits(CheckMode mode, int32_t level);

// Positions compared directly, and how far the offset comparison reaches.
inline constexpr int32_t kComparedFirst = 6;
inline constexpr int32_t kComparedLast = 53;
inline constexpr int32_t kComparedCount = kComparedLast - kComparedFirst + 1; // 48
inline constexpr int32_t kMaxHalfShift = 2;                                   // |h1|, |h2| <= 2

// The part of a signature that decisions read: the centroids and the profile
// positions 4..55 (the compared positions and the reach of the offset). Kept
// per file for the whole pair phase, so it is small: 640 bytes.
struct PairSignature {
    static constexpr int32_t kFirstKept = kComparedFirst - kMaxHalfShift;        // 4
    static constexpr int32_t kKept = kComparedCount + 2 * kMaxHalfShift;          // 52

    std::array<int32_t, 4> centroids {};
    std::array<std::array<uint8_t, kKept>, kProfileCount> profiles {};

    static PairSignature from(const IdenticalSignature& sig);
};

// Profile groups, in result-line order.
inline constexpr int32_t kGroupCount = 4; // edge columns, edge rows, tone columns, tone rows

// What a match yields for the result line.
struct MatchResult {
    int32_t totalScore = 0;
    std::array<int32_t, kGroupCount> mean {};
    std::array<int32_t, kGroupCount> max {};
};

// The horizontal offset of B against A and its split: A at p + h1 is compared
// with B at p - h2. `active` is false when the centroids give no offset at all.
struct MatchOffset {
    int32_t dx = 0;
    int32_t dy = 0;
    int32_t h1 = 0;
    int32_t h2 = 0;
    bool active() const { return dx != 0 || dy != 0; }
};
// Inline: the pair search works it out for most candidate pairs.
inline MatchOffset matchOffset(const std::array<int32_t, 4>& a, const std::array<int32_t, 4>& b)
{
    constexpr int32_t kMaxOffset = 4;
    MatchOffset o;
    o.dx = std::clamp((a[0] - b[0] + a[2] - b[2]) / 2, -kMaxOffset, kMaxOffset);
    o.dy = std::clamp((a[1] - b[1] + a[3] - b[3]) / 2, -kMaxOffset, kMaxOffset);
    o.h1 = o.dx / 2;
    o.h2 = o.dx - o.h1;
    return o;
}

// The centroid gate alone: every centroid value within the limit.
inline bool centroidsClose(const std::array<int32_t, 4>& a, const std::array<int32_t, 4>& b, int32_t limit)
{
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t d = a[k] - b[k];
        if (d > limit || d < -limit)
            return false;
    }
    return true;
}

// MatchSignatures: A is the member met first. Returns true on a match and
// fills `result`; allocates nothing.
bool MatchSignatures(const PairSignature& a, const PairSignature& b, const MatchLimits& limits, MatchResult& result);
