#include "compare/identical/identical_match.h"

#include <gtest/gtest.h>

#include "compare/identical/identical_result_line.h"

namespace {

constexpr int32_t kBase = 100;

// Both signatures flat at kBase, centroids at the centre.
PairSignature flatSignature()
{
    PairSignature sig;
    sig.centroids = {29, 29, 30, 30};
    for (auto& profile : sig.profiles)
        profile.fill(kBase);
    return sig;
}

// Raises B's profile k over the compared positions so that its distance to a
// flat kBase profile is exactly `distance` (each position adds |d| div 5).
void setDistance(PairSignature& b, int32_t k, int32_t distance)
{
    const int32_t first = kComparedFirst - PairSignature::kFirstKept;
    for (int32_t i = first; i < first + kComparedCount; ++i) {
        const int32_t step = std::min(distance, 30);
        distance -= step;
        // 5 * step + 4 still divides to step: the remainder must not count.
        b.profiles[k][i] = static_cast<uint8_t>(kBase + 5 * step + (step > 0 ? 4 : 0));
    }
    ASSERT_EQ(distance, 0);
}

bool matches(const PairSignature& a, const PairSignature& b, const MatchLimits& limits, MatchResult* out = nullptr)
{
    MatchResult result;
    const bool matched = MatchSignatures(a, b, limits, result);
    if (out)
        *out = result;
    return matched;
}

// A sawtooth with steps of 5 between neighbours, so that any shift shows;
// defined a few positions either side of the kept ones.
uint8_t ramp(int32_t i)
{
    return static_cast<uint8_t>(20 + (5 * (i + 10)) % 225);
}

} // namespace

TEST(IdenticalMatchTest, LimitsFollowModeAndLevel)
{
    const auto same = [](MatchLimits l, MatchLimits r) {
        return l.centroid == r.centroid && l.tone == r.tone && l.edge == r.edge && l.total == r.total;
    };
    EXPECT_TRUE(same(ChooseLimits(CheckMode::FileSize, kLevelLoose), MatchLimits {2, 20, 30, 180}));
    EXPECT_TRUE(same(ChooseLimits(CheckMode::PictureSize, kLevelLoose), MatchLimits {2, 50, 70, 180}));
    EXPECT_TRUE(same(ChooseLimits(CheckMode::Identical, kLevelStrict), MatchLimits {3, 115, 150, 370}));
    EXPECT_TRUE(same(ChooseLimits(CheckMode::Identical, kLevelMiddle), MatchLimits {3, 205, 240, 640}));
    EXPECT_TRUE(same(ChooseLimits(CheckMode::Identical, kLevelLoose), MatchLimits {3, 295, 330, 910}));
}

TEST(IdenticalMatchTest, EqualSignaturesMatchWithZeroScore)
{
    MatchResult result;
    result.totalScore = 99;
    ASSERT_TRUE(matches(flatSignature(), flatSignature(), ChooseLimits(CheckMode::FileSize, 0), &result));
    EXPECT_EQ(result.totalScore, 0);
    EXPECT_EQ(result.mean, (std::array<int32_t, 4> {}));
    EXPECT_EQ(result.max, (std::array<int32_t, 4> {}));
}

TEST(IdenticalMatchTest, CentroidGateAcceptsItsLimit)
{
    const MatchLimits limits = ChooseLimits(CheckMode::Identical, kLevelStrict);
    for (int32_t k = 0; k < 4; ++k) {
        for (int32_t sign : {1, -1}) {
            PairSignature a = flatSignature(), b = flatSignature();
            b.centroids[k] += sign * 3;
            EXPECT_TRUE(matches(a, b, limits)) << "centroid " << k << " at the limit";
            b.centroids[k] += sign;
            EXPECT_FALSE(matches(a, b, limits)) << "centroid " << k << " one past the limit";
        }
    }
}

TEST(IdenticalMatchTest, ToneAndEdgeGatesAcceptTheirLimits)
{
    const MatchLimits limits = ChooseLimits(CheckMode::FileSize, 0); // tone 20, edge 30
    for (int32_t k = 0; k < kProfileCount; ++k) {
        const bool tone = k >= 2 * kDivCount;
        const int32_t limit = tone ? limits.tone : limits.edge;
        PairSignature a = flatSignature(), b = flatSignature();
        setDistance(b, k, limit);
        MatchResult result;
        ASSERT_TRUE(matches(a, b, limits, &result)) << "profile " << k << " at the limit";
        const int32_t group = k / kDivCount;
        EXPECT_EQ(result.max[group], limit);
        EXPECT_EQ(result.mean[group], limit / kDivCount);
        EXPECT_EQ(result.totalScore, limit / kDivCount);
        setDistance(b, k, limit + 1);
        EXPECT_FALSE(matches(a, b, limits)) << "profile " << k << " one past the limit";
    }
}

TEST(IdenticalMatchTest, TotalGateRejectsItsLimit)
{
    const MatchLimits limits = ChooseLimits(CheckMode::Identical, kLevelStrict); // total 370
    PairSignature a = flatSignature(), b = flatSignature();
    for (int32_t k = 0; k < 2 * kDivCount; ++k)
        setDistance(b, k, 150); // edge means 150 + 150
    for (int32_t k = 2 * kDivCount; k < 3 * kDivCount; ++k)
        setDistance(b, k, 70);  // tone column mean 70: total 370
    MatchResult result;
    EXPECT_FALSE(matches(a, b, limits, &result));
    EXPECT_EQ(result.totalScore, 370);

    setDistance(b, 2 * kDivCount, 68); // (68 + 70 + 70) div 3 = 69: total 369
    ASSERT_TRUE(matches(a, b, limits, &result));
    EXPECT_EQ(result.totalScore, 369);
    EXPECT_EQ(result.mean, (std::array<int32_t, 4> {150, 150, 69, 0}));
    EXPECT_EQ(result.max, (std::array<int32_t, 4> {150, 150, 70, 0}));
}

TEST(IdenticalMatchTest, OffsetSplitsBetweenTheTwoFiles)
{
    // dx = (3 + 0) div 2 = 1: A at p against B at p - 1.
    MatchOffset o = matchOffset({32, 29, 30, 30}, {29, 29, 30, 30});
    EXPECT_EQ(o.dx, 1);
    EXPECT_EQ(o.h1, 0);
    EXPECT_EQ(o.h2, 1);
    // dx = -3: A at p - 1 against B at p + 2.
    o = matchOffset({26, 29, 27, 30}, {29, 29, 30, 30});
    EXPECT_EQ(o.dx, -3);
    EXPECT_EQ(o.h1, -1);
    EXPECT_EQ(o.h2, -2);
    o = matchOffset({29, 26, 30, 30}, {29, 29, 30, 30});
    EXPECT_EQ(o.dx, 0);
    EXPECT_EQ(o.dy, -1);
    EXPECT_TRUE(o.active());
}

TEST(IdenticalMatchTest, OffsetComparisonFindsShiftedProfiles)
{
    const MatchLimits limits = ChooseLimits(CheckMode::Identical, kLevelLoose);
    struct Case {
        std::array<int32_t, 4> centroidsA;
        int32_t shift; // B at i holds A at i + shift
    };
    // dx = 1 compares A[p] with B[p - 1]; dx = -3 compares A[p - 1] with B[p + 2].
    for (const Case& c : {Case {{32, 29, 30, 30}, 1}, Case {{26, 29, 27, 30}, -3}}) {
        PairSignature a = flatSignature(), b = flatSignature();
        a.centroids = c.centroidsA;
        for (int32_t k = 0; k < kProfileCount; ++k) {
            for (int32_t i = 0; i < PairSignature::kKept; ++i) {
                a.profiles[k][i] = ramp(i);
                b.profiles[k][i] = ramp(i + c.shift);
            }
        }
        MatchResult result;
        ASSERT_TRUE(matches(a, b, limits, &result)) << "shift " << c.shift;
        EXPECT_EQ(result.totalScore, 0) << "shift " << c.shift;

        // Shifted the other way, the offset makes it worse: the direct distances
        // stand, as if the centroids gave no offset at all.
        // One tone profile differs; the rest are equal.
        for (int32_t k = 0; k < kProfileCount; ++k) {
            for (int32_t i = 0; i < PairSignature::kKept; ++i)
                b.profiles[k][i] = k == 2 * kDivCount ? ramp(i - c.shift) : ramp(i);
        }
        ASSERT_TRUE(matches(a, b, limits, &result));
        PairSignature direct = a;
        direct.centroids = b.centroids;
        MatchResult directResult;
        ASSERT_TRUE(matches(direct, b, limits, &directResult));
        EXPECT_GT(result.totalScore, 0);
        EXPECT_EQ(result.totalScore, directResult.totalScore) << "shift " << -c.shift;
        EXPECT_EQ(result.max, directResult.max);
    }
}

TEST(IdenticalMatchTest, OffsetReplacesToneAndEdgeDistancesSeparately)
{
    const MatchLimits limits = ChooseLimits(CheckMode::Identical, kLevelLoose);
    PairSignature a = flatSignature(), b = flatSignature();
    a.centroids = {32, 29, 30, 30}; // dx = 1: A[p] against B[p - 1]
    for (int32_t i = 0; i < PairSignature::kKept; ++i) {
        for (int32_t k = 0; k < 2 * kDivCount; ++k) {
            a.profiles[k][i] = ramp(i); // edge: equal, so the direct distance 0 stands
            b.profiles[k][i] = ramp(i);
        }
        for (int32_t k = 2 * kDivCount; k < kProfileCount; ++k) {
            a.profiles[k][i] = ramp(i); // tone: B shifted, the offset distance 0 wins
            b.profiles[k][i] = ramp(i + 1);
        }
    }
    MatchResult result;
    ASSERT_TRUE(matches(a, b, limits, &result));
    EXPECT_EQ(result.totalScore, 0);
}

TEST(IdenticalResultLineTest, FieldsHaveFixedWidths)
{
    MatchResult match;
    match.totalScore = 37;
    match.mean = {12, 8, 10, 7};
    match.max = {15, 9, 14, 9};
    EXPECT_EQ(identicalResultLine(12, 40, match, {30, 28, 31, 27}, {30, 29, 31, 27}, "/p/q/a.jpg", "/b.jpg"),
              "0037, 000012, 000040, 0012,0015, 0008,0009, 0010,0014, 0007,0009, 30,30, 28,29, 31,31, 27,27, a.jpg,b.jpg");
    match = MatchResult {};
    EXPECT_EQ(identicalResultLine(0, 1234567, match, {6, 0, 0, 53}, {7, 0, 0, 53}, "/x/a,b.JPG", "/y/c d.bmp"),
              "0000, 000000, 1234567, 0000,0000, 0000,0000, 0000,0000, 0000,0000, 06,07, 00,00, 00,00, 53,53, a,b.JPG,c d.bmp");
}
