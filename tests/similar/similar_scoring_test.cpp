#include "compare/similar/similar_scoring.h"

#include <gtest/gtest.h>

#include "compare/similar/similar_reduction.h"
#include "support/test_pictures.h"

namespace {

// A signature with all codes 2, empty profiles and map, no warm cell.
SimilarSignature plainSignature()
{
    SimilarSignature s;
    s.bandCodes.fill(2);
    s.bandCodes[0] = 0;
    s.centroidX = {35, 35, 35, 35};
    s.centroidY = {35, 35, 35, 35};
    s.spreadA = 10;
    s.spreadB = 10;
    return s;
}

} // namespace

TEST(SimilarScoringTest, CodeDistancesTakeEachBonusOncePerGroup)
{
    std::array<int32_t, 13> a {0, 3, 1, 2, 3, 3, 1, 2, 2, 2, 1, 1, 3};
    std::array<int32_t, 13> b {0, 3, 1, 2, 3, 3, 2, 2, 2, 2, 3, 1, 1};
    EXPECT_EQ(groupCodeDistance(a, b, 0), -2); // shared strong and weak third
    EXPECT_EQ(groupCodeDistance(a, b, 1), 0);  // 1 apart, strong bonus once only
    EXPECT_EQ(groupCodeDistance(a, b, 2), 0);
    EXPECT_EQ(groupCodeDistance(a, b, 3), 3);  // 2 + 0 + 2, weak bonus

    // CheckLevel 1: each distance at most 4, their sum at most 6.5.
    EXPECT_TRUE(passesCodeGate({3, 3}, 1));
    EXPECT_FALSE(passesCodeGate({4, 3}, 1));
    EXPECT_TRUE(passesCodeGate({4, 2}, 1));
    EXPECT_FALSE(passesCodeGate({5, 0}, 1));
    EXPECT_TRUE(passesCodeGate({3, 1}, 0));
    EXPECT_FALSE(passesCodeGate({2, 3}, 0));
    EXPECT_TRUE(passesCodeGate({5, 4}, 2));
    EXPECT_FALSE(passesCodeGate({5, 5}, 2));
    EXPECT_TRUE(passesCodeGate({-2, 3}, 0)); // a bonus makes room in the sum
    EXPECT_TRUE(passesCodeGate({2, 3}, 1));
}

TEST(SimilarScoringTest, AlignmentWindowStretchesAroundWarmCentroids)
{
    const AxisAlignment x = axisAlignment(30, 12, 40, 6);
    EXPECT_TRUE(x.referenceIsA);
    EXPECT_EQ(x.lo, 5);
    EXPECT_EQ(x.hi, 64);
    EXPECT_EQ(x.mapped(5), 28); // -150 / 12 truncates to -12
    EXPECT_EQ(x.mapped(64), 57);
    EXPECT_EQ(x.indexOfB(5), 28);
    EXPECT_EQ(x.indexOfA(5), 5);

    const AxisAlignment swapped = axisAlignment(40, 6, 30, 12);
    EXPECT_FALSE(swapped.referenceIsA);
    EXPECT_EQ(swapped.lo, 5);
    EXPECT_EQ(swapped.indexOfA(5), 28);

    const AxisAlignment same = axisAlignment(35, 9, 35, 9);
    EXPECT_EQ(same.lo, 5);
    EXPECT_EQ(same.hi, 64);
    for (int32_t k = 5; k <= 64; ++k)
        ASSERT_EQ(same.mapped(k), k);

    // The window covers only what maps into 5..64 of the other picture.
    const AxisAlignment shifted = axisAlignment(30, 10, 35, 10);
    EXPECT_EQ(shifted.lo, 5);
    EXPECT_EQ(shifted.hi, 59);

    SimilarSignature a = plainSignature();
    SimilarSignature b = plainSignature();
    b.centroidX[3] = 35 + 21;
    EXPECT_TRUE(alignmentWindowExists(makePairSide(a), makePairSide(b)));
    b.centroidX[3] = 35 + 22;
    EXPECT_FALSE(alignmentWindowExists(makePairSide(a), makePairSide(b)));
    b.centroidX[3] = 35;
    b.centroidY[3] = 35 - 22;
    EXPECT_FALSE(alignmentWindowExists(makePairSide(a), makePairSide(b)));
}

namespace {

// With empty maps, chroma rows and totals, LumaScore is the luminance profile part alone.
int32_t lumaScoreOf(const SimilarSignature& a, const SimilarSignature& b)
{
    const auto scores = scoreSimilarPair(a, b, 0, 2);
    return scores ? scores->luma : -1;
}

} // namespace

TEST(SimilarScoringTest, ProfileDistanceUsesTheAlignedSumOnlyWhenBothAxesHaveOne)
{
    // B's bump lies 5 cells right of A's; aligned, the profiles differ by 1.
    SimilarSignature a = plainSignature();
    SimilarSignature b = plainSignature();
    a.centroidX[3] = a.centroidY[3] = 30;
    for (int32_t row : {3, 4}) {
        for (int32_t i = 35; i <= 44; ++i)
            b.profiles[row][i] = 60;
        for (int32_t k = 5; k <= 64; ++k)
            a.profiles[row][k] = static_cast<uint8_t>((k + 5 <= 69 ? b.profiles[row][k + 5] : 0) + 1);
    }
    EXPECT_EQ(lumaScoreOf(a, b), 2);

    // Warm centroids 22 apart: the plain sums, 650 / 60 per axis.
    SimilarSignature far = b;
    far.centroidX[3] = 52;
    EXPECT_EQ(lumaScoreOf(a, far), 20);

    // An axis whose aligned sum is 0 sends the score back to the plain sums.
    a.profiles[4].fill(0);
    b.profiles[4].fill(0);
    EXPECT_EQ(lumaScoreOf(a, b), 10);

    // Warm centroids 22 apart: plain sums only.
    for (int32_t row : {3, 4}) {
        for (int32_t i = 35; i <= 44; ++i)
            b.profiles[row][i] = 60;
        for (int32_t k = 5; k <= 64; ++k)
            a.profiles[row][k] = static_cast<uint8_t>((k + 5 <= 69 ? b.profiles[row][k + 5] : 0) + 1);
    }
    b.centroidX[3] = 52;
    EXPECT_EQ(lumaScoreOf(a, b), 20);
}

TEST(SimilarScoringTest, TwoCopiesScoreZero)
{
    const Picture photo = testing_support::photoLikePicture(160, 120, 7);
    SimilarSignature s;
    reduceSimilarPicture(photo, s);
    const auto scores = scoreSimilarPair(s, s, 0, 2);
    ASSERT_TRUE(scores.has_value());
    EXPECT_EQ(scores->contrast, 0);
    EXPECT_EQ(scores->luma, 0);
    EXPECT_EQ(scores->chroma, 0);
    EXPECT_LE(scores->codes.contrast, 0);
    EXPECT_GE(scores->codes.contrast, -4);
    const std::string line = similarResultLine(*scores, 0, 1, s, s, "/p/a.jpg", "/p/b.jpg");
    EXPECT_EQ(line.substr(0, 47), "0000, 000000, 000001, 000,000,000,000000,000000");
    EXPECT_EQ(line.substr(line.size() - 12), ",a.jpg,b.jpg");
}

TEST(SimilarScoringTest, BoundsFollowLevelAndFileCount)
{
    // Everything equal but the contrast totals: ContrastScore = difference / 7500.
    SimilarSignature a = plainSignature();
    SimilarSignature b = plainSignature();
    const auto withContrast = [&](int32_t score) {
        b.planeTotals[0] = score * 7500;
        return b;
    };
    EXPECT_TRUE(scoreSimilarPair(a, withContrast(76), 0, 1001).has_value());
    EXPECT_FALSE(scoreSimilarPair(a, withContrast(77), 0, 1001).has_value());
    EXPECT_TRUE(scoreSimilarPair(a, withContrast(86), 0, 1000).has_value());
    EXPECT_FALSE(scoreSimilarPair(a, withContrast(87), 0, 1000).has_value());
    EXPECT_TRUE(scoreSimilarPair(a, withContrast(89), 1, 1000).has_value()); // 89 < 89.5
    EXPECT_FALSE(scoreSimilarPair(a, withContrast(90), 1, 1000).has_value());
    EXPECT_TRUE(scoreSimilarPair(a, withContrast(81), 2, 1001).has_value());
    EXPECT_FALSE(scoreSimilarPair(a, withContrast(82), 2, 1001).has_value());

    // LumaScore 27 from the x profile: it passes at 1000 files, not at 1001.
    b = plainSignature();
    for (int32_t i = 5; i <= 64; ++i)
        b.profiles[3][i] = 27; // plain row distance 27 on x
    EXPECT_TRUE(scoreSimilarPair(a, b, 0, 1000).has_value());
    EXPECT_FALSE(scoreSimilarPair(a, b, 0, 1001).has_value());
    EXPECT_EQ(scoreSimilarPair(a, b, 0, 1000)->luma, 27);
}

TEST(SimilarScoringTest, ChromaIsReducedByLowLumaAndLowContrast)
{
    SimilarSignature a = plainSignature();
    SimilarSignature b = plainSignature();
    for (int32_t i = 5; i <= 64; ++i) {
        b.profiles[5][i] = 34; // ChromaScore 34 before the reductions
        b.profiles[3][i] = 10; // LumaScore 10
    }
    b.planeTotals[0] = 45 * 7500; // ContrastScore 45
    const auto scores = scoreSimilarPair(a, b, 0, 10);
    // 34 > 30: minus min(7, 15 - 10) = 29; 29 > 25: minus min(8, 50 - 45) = 24.
    ASSERT_TRUE(scores.has_value());
    EXPECT_EQ(scores->luma, 10);
    EXPECT_EQ(scores->chroma, 24);
    EXPECT_EQ(scores->contrast, 45);
    EXPECT_EQ(scores->similarity, 2 * 45 + 10 + 24);
}

TEST(SimilarScoringTest, ResultLineKeepsSignsAndNamesAsTheyAre)
{
    SimilarSignature a = plainSignature();
    SimilarSignature b = plainSignature();
    a.bandCodes[1] = b.bandCodes[1] = 3; // a shared strong third: distance -1
    a.bandCodes[12] = 1;
    a.planeTotals = {10, 500, 300};
    b.planeTotals = {10, 200, 450};
    const auto scores = scoreSimilarPair(a, b, 0, 20);
    ASSERT_TRUE(scores.has_value());
    EXPECT_EQ(similarResultLine(*scores, 3, 17, a, b, "/x/a,b.jpg", "/y/c.JPG"),
              "0000, 000003, 000017, 000,000,000,000300,000150,322222,322222,-01,222221,222222,01,a,b.jpg,c.JPG");
}
