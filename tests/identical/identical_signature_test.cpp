#include "compare/identical/identical_signature.h"

#include <gtest/gtest.h>

#include "support/test_pictures.h"

using testing_support::solidPicture;

namespace {

void expectProfiles(const IdenticalSignature& sig, int32_t firstProfile, int32_t lastProfile, int32_t value)
{
    for (int32_t k = firstProfile; k <= lastProfile; ++k) {
        for (int32_t p = kFirstPosition; p <= kLastPosition; ++p)
            ASSERT_EQ(sig.at(k, p), value) << "profile " << k << " position " << p;
    }
}

// A flat picture with one column painted white.
Picture flatWithWhiteColumn(int32_t width, int32_t height, int32_t column)
{
    Picture picture = solidPicture(width, height, 128, 128, 128);
    for (int32_t y = 0; y < height; ++y)
        testing_support::setPixel(picture, column, y, 255, 255, 255);
    return picture;
}

} // namespace

TEST(IdenticalSignatureTest, FlatGreyHasEdgeCentroidAtCentreAndNoToneCentroid)
{
    SignatureGrids grids;
    const IdenticalSignature sig = ComputeSignature(solidPicture(300, 200, 90, 90, 90), grids);
    EXPECT_EQ(sig.centroids, (std::array<int32_t, 4> {29, 29, 0, 0}));
    expectProfiles(sig, 0, 2 * kDivCount - 1, 128);
    expectProfiles(sig, 2 * kDivCount, 4 * kDivCount - 1, 127);
    EXPECT_EQ(grids.tone[0][0], 127);
    EXPECT_EQ(grids.edge[1][1], 128);
    EXPECT_EQ(grids.edge[0][30], 0) << "the outer ring of the edge grid is never written";
}

TEST(IdenticalSignatureTest, FlatColourStretchesToToneSeventyFour)
{
    SignatureGrids grids;
    const IdenticalSignature sig = ComputeSignature(solidPicture(64, 48, 90, 140, 30), grids);
    // Mean tone 112: red and blue lie below it and go to 0, green to 127.
    EXPECT_EQ(grids.sample[10][10].r, 0);
    EXPECT_EQ(grids.sample[10][10].g, 127);
    EXPECT_EQ(grids.sample[10][10].b, 0);
    EXPECT_EQ(sig.centroids, (std::array<int32_t, 4> {29, 29, 0, 0}));
    expectProfiles(sig, 0, 2 * kDivCount - 1, 128);
    expectProfiles(sig, 2 * kDivCount, 4 * kDivCount - 1, 74);
}

TEST(IdenticalSignatureTest, SamplingLatticeEndsAtWidthMinusStep)
{
    const IdenticalSignature flat = ComputeSignature(solidPicture(294, 40, 128, 128, 128));

    // 294 wide: sx = 1, the last cell reads the five columns up to the last one.
    const IdenticalSignature last294 = ComputeSignature(flatWithWhiteColumn(294, 40, 293));
    EXPECT_EQ(last294.at(0, kLastPosition), 255) << "a bright last column makes column 58 an edge";
    EXPECT_EQ(last294.at(0, kLastPosition - 2), 128);
    EXPECT_EQ(last294.centroids, flat.centroids);

    // 590 wide: sx = 2, every other column; the last one read is 588.
    const IdenticalSignature last590 = ComputeSignature(flatWithWhiteColumn(590, 40, 589));
    EXPECT_EQ(last590.profiles, flat.profiles) << "column 589 lies between lattice points";
    const IdenticalSignature read590 = ComputeSignature(flatWithWhiteColumn(590, 40, 588));
    EXPECT_EQ(read590.at(0, kLastPosition), 255);
    const IdenticalSignature odd590 = ComputeSignature(flatWithWhiteColumn(590, 40, 1));
    EXPECT_EQ(odd590.profiles, flat.profiles) << "cell 0 reads columns 0, 2, 4, 6, 8";
}

TEST(IdenticalSignatureTest, SmoothingRunsInPlaceFromLeftToRight)
{
    // Left half black, right half white: a step in the tone column profiles.
    const Picture step = testing_support::patternPicture(
        600, 600, [](int32_t x, int32_t) { return x < 300 ? 0x000000u : 0xFFFFFFu; });
    const IdenticalSignature sig = ComputeSignature(step);
    const int32_t k = 2 * kDivCount; // tone columns, band 0
    // Cells 0..29 are black (0 after the stretch), 30..59 white (255).
    EXPECT_EQ(sig.at(k, 1), 0);
    EXPECT_EQ(sig.at(k, 28), 0);
    // p = 29: (0 + 0 + 255) / 3 = 85; p = 30 sees the smoothed 85: (85 + 255 + 255) / 3 = 198.
    EXPECT_EQ(sig.at(k, 29), 85);
    EXPECT_EQ(sig.at(k, 30), 198);
    EXPECT_EQ(sig.at(k, 31), 236);
    EXPECT_EQ(sig.at(k, 58), 255) << "the end positions keep their values";
}

TEST(IdenticalSignatureTest, SmallestPictureIsReadInside)
{
    // Five pixels each way is the least the lattice needs; every cell reads all of it.
    const IdenticalSignature sig = ComputeSignature(solidPicture(5, 5, 10, 20, 30));
    EXPECT_EQ(sig.centroids, (std::array<int32_t, 4> {29, 29, 0, 0}));
}
