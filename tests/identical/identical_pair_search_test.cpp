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

void expectSameAsFullLoop(const std::vector<PairSignature>& sigs, const MatchLimits& limits, const char* what)
{
    const std::vector<PairMatch> expected = everyPairInTurn(sigs, limits);
    EXPECT_FALSE(expected.empty()) << what;
    for (int32_t jobs : {1, 2, 3}) {
        std::atomic<bool> abort {false};
        const std::vector<PairMatch> found = findIdenticalPairs(sigs, limits, jobs, abort);
        ASSERT_EQ(found.size(), expected.size()) << what << ", jobs " << jobs;
        for (std::size_t i = 0; i < found.size(); ++i) {
            ASSERT_EQ(found[i].a, expected[i].a) << what;
            ASSERT_EQ(found[i].b, expected[i].b) << what;
            ASSERT_EQ(found[i].result.totalScore, expected[i].result.totalScore) << what;
        }
    }
}

constexpr uint8_t kFlat = 120;

// Profile k of `sig` set so that, against a flat kFlat profile, its distance
// is exactly `distance` while the differences of its block sums are as large
// as they can be for that distance: every position differs by 5q + 4 (the 4
// divides away), all in one direction. That is the edge case of the block-sum
// bounds the search rejects pairs by.
void setWidestDistance(PairSignature& sig, int32_t k, int32_t distance, int32_t direction)
{
    const int32_t first = kComparedFirst - PairSignature::kFirstKept;
    for (int32_t i = 0; i < PairSignature::kKept; ++i)
        sig.profiles[k][i] = kFlat;
    for (int32_t i = first; i < first + kComparedCount; ++i) {
        const int32_t q = std::min(distance, 20);
        distance -= q;
        sig.profiles[k][i] = static_cast<uint8_t>(kFlat + direction * (5 * q + 4));
    }
}

// Signatures that sit on the edges of every rule the search prunes by: all
// on a handful of centroid values (so a stretch holds many of them), values
// apart by exactly the centroid limit and one more, and tone profiles at the
// tone limit with the widest sum difference that distance allows, and one past.
std::vector<PairSignature> edgeSignatures(const MatchLimits& limits, uint32_t seed)
{
    std::mt19937 rng(seed);
    const auto pick = [&rng](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    std::vector<PairSignature> out;
    for (int32_t n = 0; n < 240; ++n) {
        PairSignature sig;
        for (auto& profile : sig.profiles)
            profile.fill(kFlat);
        // Centroids: a common centre, or off by the limit or one more on one value.
        sig.centroids = {29, 29, 30, 30};
        if (pick(0, 2) == 0)
            sig.centroids[static_cast<std::size_t>(pick(0, 3))] += pick(0, 1) == 0 ? limits.centroid : -limits.centroid - 1;
        if (n % 40 == 7)
            sig.centroids = {0, 0, 0, 0}; // no weighted cell at all
        const int32_t tone = 2 * kDivCount + pick(0, 2 * kDivCount - 1);
        switch (pick(0, 3)) {
        case 0:
            break; // flat: equal to every other flat one
        case 1:
            setWidestDistance(sig, tone, limits.tone, pick(0, 1) == 0 ? 1 : -1);
            break;
        case 2:
            setWidestDistance(sig, tone, limits.tone + 1, 1);
            break;
        default:
            setWidestDistance(sig, tone, pick(0, limits.tone), -1);
            break;
        }
        out.push_back(sig);
    }
    return out;
}

// Flat signatures on one centroid, each with every profile of a group at the
// widest distance `groupDistance[g]` from flat (direction +1 or -1 per file),
// so that against the flat one its TotalScore is the sum of groupDistance.
// `bandExtra` (0 to 2) more on the first band of each group leaves the means
// as they are: the most a group sum can exceed three times its mean.
PairSignature widestAtDistances(const std::array<int32_t, kGroupCount>& groupDistance, int32_t direction,
                                int32_t bandExtra = 0)
{
    PairSignature sig;
    sig.centroids = {29, 29, 30, 30};
    for (auto& profile : sig.profiles)
        profile.fill(kFlat);
    for (int32_t g = 0; g < kGroupCount; ++g) {
        for (int32_t band = 0; band < kDivCount; ++band)
            setWidestDistance(sig, g * kDivCount + band,
                              groupDistance[static_cast<std::size_t>(g)] + (band == 0 ? bandExtra : 0), direction);
    }
    return sig;
}

// Group distances within the profile limits that add up to `total` (or as
// near as the limits let them).
std::array<int32_t, kGroupCount> spreadTotal(const MatchLimits& limits, int32_t total)
{
    std::array<int32_t, kGroupCount> out {};
    for (int32_t g = 0; g < kGroupCount; ++g) {
        const int32_t limit = g < 2 ? limits.edge : limits.tone;
        const int32_t left = kGroupCount - g;
        out[static_cast<std::size_t>(g)] = std::min(limit, (total + left - 1) / left);
        total -= out[static_cast<std::size_t>(g)];
    }
    return out;
}

} // namespace

TEST(IdenticalPairSearchTest, PairsAtTheEdgeGateAndTheTotalGateAreAllFound)
{
    // The block sums bound the edge distances and the TotalScore as well:
    // files at the edge limit and one past it, and at a TotalScore of
    // TotalLimit - 1 (a match) and TotalLimit (none), all with the widest
    // block differences, some at a centroid offset, against flat ones.
    for (CheckMode mode : {CheckMode::PictureSize, CheckMode::Identical}) {
        for (int32_t level : {kLevelStrict, kLevelMiddle, kLevelLoose}) {
            const MatchLimits limits = ChooseLimits(mode, level);
            std::vector<PairSignature> sigs;
            PairSignature flat;
            flat.centroids = {29, 29, 30, 30};
            for (auto& profile : flat.profiles)
                profile.fill(kFlat);
            for (int32_t n = 0; n < 12; ++n) {
                const int32_t direction = n % 2 == 0 ? 1 : -1;
                sigs.push_back(flat);
                sigs.push_back(widestAtDistances({limits.edge, 0, 0, 0}, direction));
                sigs.push_back(widestAtDistances({0, limits.edge + 1, 0, 0}, direction));
                sigs.push_back(widestAtDistances(spreadTotal(limits, limits.total - 1), direction));
                sigs.push_back(widestAtDistances(spreadTotal(limits, limits.total), direction));
                sigs.push_back(widestAtDistances(spreadTotal(limits, limits.total - 1), direction, 2));
                if (n % 3 == 1)
                    sigs[sigs.size() - 2].centroids = {32, 29, 30, 30}; // dx 1: the offset comparison too
                if (n % 3 == 2)
                    sigs[sigs.size() - 3].centroids = {29, 29, 27, 30};
            }
            // The widest spread at TotalLimit - 1 matches flat; at TotalLimit it does not.
            MatchResult result;
            ASSERT_TRUE(MatchSignatures(sigs[0], sigs[3], limits, result));
            EXPECT_EQ(result.totalScore, limits.total - 1);
            EXPECT_FALSE(MatchSignatures(sigs[0], sigs[4], limits, result));
            ASSERT_TRUE(MatchSignatures(sigs[0], sigs[5], limits, result));
            EXPECT_EQ(result.totalScore, limits.total - 1);
            const std::string what = "edge and total, mode " + std::to_string(static_cast<int>(mode)) + " level "
                + std::to_string(level);
            expectSameAsFullLoop(sigs, limits, what.c_str());
            if (mode != CheckMode::Identical)
                break;
        }
    }
}

TEST(IdenticalPairSearchTest, PairsOnTheEdgesOfThePruningAreAllFound)
{
    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize, CheckMode::Identical}) {
        for (int32_t level : {kLevelStrict, kLevelMiddle, kLevelLoose}) {
            const MatchLimits limits = ChooseLimits(mode, level);
            const std::vector<PairSignature> sigs = edgeSignatures(limits, 31 + static_cast<uint32_t>(level));
            // The widest tone difference at the limit still matches a flat signature.
            PairSignature flat = sigs.front();
            flat.centroids = {29, 29, 30, 30};
            for (auto& profile : flat.profiles)
                profile.fill(kFlat);
            PairSignature atLimit = flat;
            setWidestDistance(atLimit, 2 * kDivCount, limits.tone, 1);
            MatchResult result;
            ASSERT_TRUE(MatchSignatures(flat, atLimit, limits, result));
            const std::string what = "mode " + std::to_string(static_cast<int>(mode)) + " level " + std::to_string(level);
            expectSameAsFullLoop(sigs, limits, what.c_str());
            if (mode != CheckMode::Identical)
                break; // the level plays no part in the other modes
        }
    }
}

TEST(IdenticalPairSearchTest, OneSharedCentroidAndOffsetsAtTheirClampEqualTheFullLoop)
{
    // Every signature on the same centroids but a few pushed to the far
    // clamp of the offset (dx, dy of 4 and more), profiles from a few bases
    // with noise: every pair reaches the profiles.
    std::vector<PairSignature> sigs = crowdedSignatures(400, 23);
    for (std::size_t i = 0; i < sigs.size(); ++i) {
        sigs[i].centroids = {30, 30, 30, 30};
        if (i % 5 == 1)
            sigs[i].centroids = {33, 27, 33, 27}; // dx 3, dy -3 against the rest
        if (i % 11 == 2)
            sigs[i].centroids = {27, 33, 27, 33};
    }
    for (int32_t level : {kLevelStrict, kLevelLoose})
        expectSameAsFullLoop(sigs, ChooseLimits(CheckMode::Identical, level), "shared centroids");
}

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
