#include "compare/identical/identical_pair_search.h"

#include <random>

#include <gtest/gtest.h>

namespace {

// Signatures crowded into a few centroid values, so that many pairs pass
// the centroid gate: each is one of a few base pictures with more or less
// noise, so that pairs fail at every gate and some pass them all.
std::vector<PairSignature> crowdedSignatures(int32_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> centroid(24, 33), base(0, 5), amount(0, 3), value(40, 215);
    std::vector<PairSignature> bases(6);
    for (auto& b : bases) {
        for (auto& profile : b.profiles) {
            for (auto& v : profile)
                v = static_cast<uint8_t>(value(rng));
        }
    }
    std::vector<PairSignature> out;
    for (int32_t n = 0; n < count; ++n) {
        PairSignature sig = bases[static_cast<std::size_t>(base(rng))];
        for (auto& c : sig.centroids)
            c = centroid(rng);
        const int32_t amp = std::array<int32_t, 4> {0, 3, 9, 20}[static_cast<std::size_t>(amount(rng))];
        std::uniform_int_distribution<int32_t> noise(-amp, amp);
        for (auto& profile : sig.profiles) {
            for (auto& v : profile)
                v = static_cast<uint8_t>(std::clamp(v + noise(rng), 0, 255));
        }
        out.push_back(sig);
    }
    // A centroid of 0 (a grid without weighted cells) sits far from the rest.
    out[5].centroids = {0, 0, 0, 0};
    out[9].centroids = {0, 0, 2, 1};
    return out;
}

std::vector<PairMatch> everyPairInTurn(const std::vector<PairSignature>& sigs, const MatchLimits& limits)
{
    std::vector<PairMatch> out;
    for (int32_t a = 0; a < static_cast<int32_t>(sigs.size()); ++a) {
        for (int32_t b = a + 1; b < static_cast<int32_t>(sigs.size()); ++b) {
            PairMatch m;
            if (MatchSignatures(sigs[static_cast<std::size_t>(a)], sigs[static_cast<std::size_t>(b)], limits, m.result)) {
                m.a = a;
                m.b = b;
                out.push_back(m);
            }
        }
    }
    return out;
}

} // namespace

TEST(IdenticalPairSearchTest, FindsExactlyThePairsOfTheFullLoopInItsOrder)
{
    const std::vector<PairSignature> sigs = crowdedSignatures(500, 11);
    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize, CheckMode::Identical}) {
        for (int32_t level : {kLevelStrict, kLevelLoose}) {
            const MatchLimits limits = ChooseLimits(mode, level);
            const std::vector<PairMatch> expected = everyPairInTurn(sigs, limits);
            ASSERT_FALSE(expected.empty());
            for (int32_t jobs : {1, 3}) {
                std::atomic<bool> abort {false};
                const std::vector<PairMatch> found = findIdenticalPairs(sigs, limits, jobs, abort);
                ASSERT_EQ(found.size(), expected.size()) << "mode " << static_cast<int>(mode) << " jobs " << jobs;
                for (std::size_t i = 0; i < found.size(); ++i) {
                    ASSERT_EQ(found[i].a, expected[i].a);
                    ASSERT_EQ(found[i].b, expected[i].b);
                    ASSERT_EQ(found[i].result.totalScore, expected[i].result.totalScore);
                    ASSERT_EQ(found[i].result.mean, expected[i].result.mean);
                    ASSERT_EQ(found[i].result.max, expected[i].result.max);
                }
            }
        }
    }
}

TEST(IdenticalPairSearchTest, AbortedBeforehandDecidesNothing)
{
    const std::vector<PairSignature> sigs(50); // all equal: every pair would match
    std::atomic<bool> abort {true};
    EXPECT_TRUE(findIdenticalPairs(sigs, ChooseLimits(CheckMode::Identical, 0), 2, abort).empty());
    abort = false;
    EXPECT_EQ(findIdenticalPairs(sigs, ChooseLimits(CheckMode::Identical, 0), 2, abort).size(), 50u * 49u / 2u);
}

TEST(IdenticalPairSearchTest, ShiftedCopyIsFoundThroughTheOffset)
{
    // A is B moved by two positions, with the centroids saying so: dx = 2,
    // A at p + 1 against B at p - 1. Compared directly the profiles are far
    // apart (their sums alone differ by 510), at the offset they are equal.
    PairSignature a, b;
    a.centroids = {31, 29, 31, 29};
    b.centroids = {29, 29, 29, 29};
    for (int32_t i = 0; i < PairSignature::kKept; ++i) {
        const int32_t value = i < 4 ? 255 : i > 47 ? 0 : 100 + (i % 7) * 10;
        for (auto& profile : a.profiles)
            profile[static_cast<std::size_t>(i)] = static_cast<uint8_t>(value);
    }
    for (int32_t k = 0; k < kProfileCount; ++k) {
        for (int32_t j = 0; j < PairSignature::kKept; ++j)
            b.profiles[k][j] = j + 2 < PairSignature::kKept ? a.profiles[k][j + 2] : 0;
    }
    const MatchLimits limits = ChooseLimits(CheckMode::FileSize, kLevelStrict);
    std::atomic<bool> abort {false};
    const std::vector<PairSignature> sigs {a, b};
    const std::vector<PairMatch> found = findIdenticalPairs(sigs, limits, 1, abort);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].result.totalScore, 0);

    // Without the offset the same profiles do not match.
    std::vector<PairSignature> level = sigs;
    level[0].centroids = level[1].centroids;
    EXPECT_TRUE(findIdenticalPairs(level, limits, 1, abort).empty());
}
