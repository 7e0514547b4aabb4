#pragma once

#include <array>
#include <cstdint>

#include "compare/identical/identical_match.h"

// Lower bounds on what MatchSignatures works out for a pair, from sums of the
// profiles over a few blocks of positions. They cost a fraction of a decision,
// so the pair search tries them on every pair the centroid gate lets through
// and decides only the pairs they cannot rule out.

// Blocks of the 48 compared positions, and the vector lanes of one group of
// profiles (the 2 * DivCount edge or tone profiles, padded with zeros).
inline constexpr int32_t kBoundBlocks = 4;
inline constexpr int32_t kBoundBlockLength = kComparedCount / kBoundBlocks; // 12
inline constexpr int32_t kBoundLanes = 8;
static_assert(kComparedCount % kBoundBlocks == 0);
static_assert(2 * kDivCount <= kBoundLanes);

// One signature's block sums with its positions moved by `shift` (-2..2): the
// sum of profile k over positions kComparedFirst + shift + 12 j .. + 11 is
// blocks[group][j][lane], group 0 the edge profiles, 1 the tone profiles.
struct ProfileBlockSums {
    using Group = std::array<std::array<int16_t, kBoundLanes>, kBoundBlocks>; // at most 12 * 255
    alignas(16) std::array<Group, 2> groups {};

    static ProfileBlockSums of(const PairSignature& sig, int32_t shift);
};

// A coarse view of the tone profiles at every shift at once, read for each
// pair the centroid gate lets through (it is small, and needs no shift yet):
// per tone profile and block of six positions, the least and the greatest
// block sum over the five shifts, in sixths rounded outwards.
inline constexpr int32_t kSpanBlocks = 8;
inline constexpr int32_t kSpanBlockLength = kComparedCount / kSpanBlocks; // 6
static_assert(kComparedCount % kSpanBlocks == 0);
static_assert(kSpanBlocks == 8); // a profile's blocks fill the eight bytes one sum of absolute differences adds

struct ToneSpan {
    static constexpr std::size_t kBytes = 2 * kDivCount * kSpanBlocks; // profile k at bytes 8k..8k+7
    alignas(16) std::array<uint8_t, kBytes> low {};
    alignas(16) std::array<uint8_t, kBytes> high {};

    static ToneSpan of(const PairSignature& sig);
};

// The tests of one engine call's limits.
class PairBound {
public:
    explicit PairBound(const MatchLimits& limits);

    // True when MatchSignatures(A, B) cannot match: `aDirect`, `bDirect` are
    // the sums at shift 0, `aShifted`, `bShifted` those at A's and B's shift
    // of the offset comparison (h1 and -h2), used only when `offset.dx` is not 0.
    bool surelyFails(const MatchOffset& offset, const ProfileBlockSums& aDirect, const ProfileBlockSums& bDirect,
                     const ProfileBlockSums& aShifted, const ProfileBlockSums& bShifted) const;

    // True when MatchSignatures(A, B) cannot match whatever the offset: a
    // looser test than surelyFails, on the tone profiles alone.
    bool surelyFailsAtAnyShift(const ToneSpan& a, const ToneSpan& b) const;

private:
    std::array<int16_t, 2> m_profileBound {}; // edge, tone: a block distance beyond this fails the gate
    int32_t m_totalBound = 0;                 // five times the group sums at or beyond this fail the total
};
