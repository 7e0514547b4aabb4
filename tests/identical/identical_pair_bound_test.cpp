#include "compare/identical/identical_pair_bound.h"

#include <random>

#include <gtest/gtest.h>

namespace {

// A pair on which both bounds are as tight as they get: every profile of A
// repeats every six positions (so its block sums are the same at every shift
// and its spans are exact), and B differs from it in one direction by 5q + 4
// at each position (the 4 divides away, so the block sums differ by all the
// distance allows), q repeating with A's period.
struct TightPair {
    PairSignature a;
    PairSignature b;
};

TightPair tightPair(std::mt19937& rng, const MatchLimits& limits)
{
    const auto pick = [&rng](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    TightPair pair;
    pair.a.centroids = {30, 30, 30, 30};
    pair.b.centroids = pair.a.centroids;
    const int32_t c = limits.centroid;
    if (pick(0, 2) == 0)
        pair.b.centroids = {30 + pick(-c, c), 30, 30 + pick(-c, c), 30 + pick(-c, c)}; // an offset to compare at too
    for (int32_t k = 0; k < kProfileCount; ++k) {
        // A distance of 8 times the sum of q, from 0 to just past the limit.
        const int32_t limit = k < 2 * kDivCount ? limits.edge : limits.tone;
        int32_t total = pick(0, limit / 8 + 1);
        // The spans hold block sums in sixths: they are exact when A's sums
        // and the differences are whole sixths, as base sums that divide by 6
        // and half the time a sum of q that does (distances in steps of 48).
        if (pick(0, 1) == 0)
            total -= total % 6;
        std::array<int32_t, 6> base {}, q {};
        for (int32_t i = 0; i < 6; ++i)
            base[static_cast<std::size_t>(i)] = pick(90, 160);
        int32_t baseSum = 0;
        for (int32_t v : base)
            baseSum += v;
        base[0] -= baseSum % 6;
        // At most 15 each, so that 5q + 4 stays within a byte either way.
        for (; total > 0; --total) {
            auto& one = q[static_cast<std::size_t>(pick(0, 5))];
            one = std::min(one + 1, 15);
        }
        const int32_t direction = pick(0, 1) == 0 ? 1 : -1;
        for (int32_t i = 0; i < PairSignature::kKept; ++i) {
            const auto at = static_cast<std::size_t>((i + PairSignature::kFirstKept) % 6);
            const int32_t a = base[at];
            pair.a.profiles[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)] = static_cast<uint8_t>(a);
            pair.b.profiles[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)]
                = static_cast<uint8_t>(a + direction * (5 * q[at] + 4));
        }
    }
    return pair;
}

} // namespace

TEST(IdenticalPairBoundTest, NoMatchingPairIsRuledOutEvenWhereTheBoundsAreTight)
{
    // Distances come in steps of 8 here (48 positions, period 6), so profiles
    // sit exactly at a limit that is a multiple of 8 or 48 (the edge limit 240
    // of the middle level) and within 8 of the others; totals fall on both
    // sides of every TotalLimit.
    std::mt19937 rng(7);
    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize, CheckMode::Identical}) {
        for (int32_t level : {kLevelStrict, kLevelMiddle, kLevelLoose}) {
            const MatchLimits limits = ChooseLimits(mode, level);
            const PairBound bound(limits);
            int32_t matches = 0, ruledOut = 0;
            for (int32_t n = 0; n < 20000; ++n) {
                const TightPair pair = tightPair(rng, limits);
                const MatchOffset offset = matchOffset(pair.a.centroids, pair.b.centroids);
                const bool spanFails = bound.surelyFailsAtAnyShift(ToneSpan::of(pair.a), ToneSpan::of(pair.b));
                const bool sumsFail
                    = bound.surelyFails(offset, ProfileBlockSums::of(pair.a, 0), ProfileBlockSums::of(pair.b, 0),
                                        ProfileBlockSums::of(pair.a, offset.h1), ProfileBlockSums::of(pair.b, -offset.h2));
                const bool fails = spanFails || sumsFail;
                MatchResult result;
                if (MatchSignatures(pair.a, pair.b, limits, result)) {
                    ++matches;
                    ASSERT_FALSE(fails) << "mode " << static_cast<int>(mode) << " level " << level << " pair " << n;
                } else if (fails) {
                    ++ruledOut;
                }
            }
            // Both sides of the bounds were reached.
            EXPECT_GT(matches, 0) << "mode " << static_cast<int>(mode) << " level " << level;
            EXPECT_GT(ruledOut, 0) << "mode " << static_cast<int>(mode) << " level " << level;
        }
    }
}
