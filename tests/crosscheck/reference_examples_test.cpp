// The reference engines on pictures whose signatures can be worked out by
// hand (flat colours, shifted profiles): exact centroids, profiles, limits
// and gate decisions, so that the cross-check does not rest on two engines
// sharing one mistake.

#include <gtest/gtest.h>

#include "crosscheck/reference_identical.h"
#include "crosscheck/reference_similar.h"
#include "support/test_pictures.h"

namespace {

using namespace crosscheck;
using testing_support::solidPicture;

TEST(ReferenceExamplesTest, IdenticalFlatPictures)
{
    const RefIdenticalSignature grey = refIdenticalSignature(solidPicture(80, 60, 128, 128, 128));
    EXPECT_EQ(grey.centroid, (std::array<int32_t, 6> {29, 29, 0, 0, 0, 0}));
    const RefIdenticalSignature colour = refIdenticalSignature(solidPicture(80, 60, 90, 140, 30));
    for (int32_t p = 1; p <= 58; ++p) {
        for (int32_t k = 0; k < 6; ++k) {
            EXPECT_EQ(grey.profile[k][p], 128);
            EXPECT_EQ(colour.profile[k][p], 128);
        }
        for (int32_t k = 6; k < 12; ++k) {
            EXPECT_EQ(grey.profile[k][p], 127);
            EXPECT_EQ(colour.profile[k][p], 74);
        }
        for (int32_t k = 12; k < kRefProfileCount; ++k)
            EXPECT_EQ(grey.profile[k][p], 0);
    }
}

TEST(ReferenceExamplesTest, IdenticalLimitsAndGates)
{
    const RefIdenticalLimits loose = refChooseLimits(CheckMode::Identical, 2);
    EXPECT_EQ(loose.tone, 295);
    EXPECT_EQ(loose.edge, 330);
    EXPECT_EQ(loose.total, 910);
    EXPECT_EQ(refChooseLimits(CheckMode::PictureSize, 2).tone, 50);

    RefIdenticalSignature a, b;
    const RefIdenticalMatch same = refMatchSignatures(a, a, refChooseLimits(CheckMode::FileSize, 0));
    EXPECT_TRUE(same.match);
    EXPECT_EQ(same.totalScore, 0);

    // A's edge-column centroid 3 to the right of B's: dx = 1, so A at p meets
    // B at p - 1, where B holds A's values.
    a.centroid = {33, 30, 30, 30, 0, 0};
    b.centroid = {30, 30, 30, 30, 0, 0};
    for (int32_t k = 0; k < 12; ++k) {
        for (int32_t p = 0; p < kRefProfileLength; ++p) {
            a.profile[k][p] = static_cast<uint8_t>((p % 2) * 100);
            b.profile[k][p] = static_cast<uint8_t>(((p + 1) % 2) * 100);
        }
    }
    const RefIdenticalMatch shifted = refMatchSignatures(a, b, refChooseLimits(CheckMode::Identical, 0));
    EXPECT_TRUE(shifted.match);
    EXPECT_EQ(shifted.totalScore, 0);
    b.centroid[0] = 29; // one past the centroid limit
    EXPECT_FALSE(refMatchSignatures(a, b, refChooseLimits(CheckMode::Identical, 0)).match);
}

TEST(ReferenceExamplesTest, SimilarFlatGrey)
{
    const RefSimilarSignature grey = refSimilarSignature(solidPicture(90, 70, 100, 100, 100));
    for (int32_t x = 5; x <= 64; ++x)
        for (int32_t y = 5; y <= 64; ++y)
            ASSERT_EQ(grey.contrastMap[x][y], 255);
    for (int32_t e = 1; e <= 12; ++e)
        EXPECT_EQ(grey.bandCodes[e], 2);
    for (int32_t r = 3; r <= 6; ++r)
        EXPECT_EQ(grey.profiles[r][30], 120);
    EXPECT_EQ(grey.centroidX[3], 35);
    EXPECT_EQ(grey.centroidY[3], 35);
    EXPECT_EQ(grey.spreadA, 10);
    EXPECT_EQ(grey.spreadB, 10);
    // A flat picture is uniform everywhere, so it is sampled again from the
    // narrowest content window.
    EXPECT_EQ(grey.frame, (std::array<int32_t, 4> {26, 44, 26, 44}));
}

} // namespace
