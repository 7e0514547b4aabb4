#include "compare/similar/similar_signature.h"

#include <gtest/gtest.h>

namespace {

ColourGrid flatGrid(uint8_t r, uint8_t g, uint8_t b)
{
    ColourGrid grid {};
    for (int32_t x = 1; x <= 68; ++x) {
        for (int32_t y = 1; y <= 68; ++y)
            grid[x][y] = GridColour {r, g, b};
    }
    return grid;
}

// Planes as derivePlanes leaves them for a flat grid, set directly.
SimilarPlanes flatPlanes(uint8_t luma, uint8_t chroma, int32_t hue)
{
    SimilarPlanes planes;
    for (int32_t x = 1; x <= 68; ++x) {
        for (int32_t y = 1; y <= 68; ++y) {
            planes.luma[x][y] = luma;
            planes.chroma[x][y] = chroma;
            planes.hue[x][y] = hue;
        }
    }
    return planes;
}

} // namespace

TEST(SimilarSignatureTest, FlatGreyMarksEveryInnerCellInEveryPlane)
{
    const ColourGrid grid = flatGrid(128, 128, 128);
    SimilarPlanes planes = flatPlanes(128, 0, 0);
    SimilarSignature s;
    computeSimilarSignature(grid, planes, s);

    for (int32_t x = 5; x <= 64; ++x) {
        for (int32_t y = 5; y <= 64; ++y) {
            ASSERT_EQ(s.contrastAt(x, y), 255);
            ASSERT_EQ(planes.luma[x][y], 255);
            ASSERT_EQ(planes.chroma[x][y], 255);
            ASSERT_EQ(planes.hue[x][y], 0);
        }
    }
    for (int32_t e = 1; e <= 12; ++e)
        EXPECT_EQ(s.bandCodes[e], 2) << e;
    for (int32_t row = 1; row <= 6; ++row) {
        EXPECT_EQ(s.profiles[row][5], 120);
        EXPECT_EQ(s.profiles[row][64], 120);
        EXPECT_EQ(s.profiles[row][4], 0);
    }
    EXPECT_EQ(s.planeTotals, (std::array<int32_t, 3> {0, 128 * 3600, 0}));
    EXPECT_EQ(s.centroidX, (std::array<int32_t, 4> {35, 35, 35, 35}));
    EXPECT_EQ(s.centroidY[0], 35);
    // No warm cell: the warm region is taken as centred, with spreads 10.
    EXPECT_EQ(s.centroidY[3], 35);
    EXPECT_EQ(s.spreadA, 10);
    EXPECT_EQ(s.spreadB, 10);
}

TEST(SimilarSignatureTest, ChromaContrastIsReplacedInPlaceColumnByColumn)
{
    // A flat coloured grid: chroma 150 everywhere, yet the in-place
    // replacement makes the chroma-contrast plane vary.
    const ColourGrid grid = flatGrid(200, 50, 50);
    SimilarPlanes planes = flatPlanes(95, 150, 0);
    const ContrastPass pass = contrastPass(grid, planes);
    EXPECT_EQ(planes.chroma[5][5], 0);  // |300 - 300|
    EXPECT_EQ(planes.chroma[5][6], 12); // window already holds the 0 above
    EXPECT_EQ(planes.chroma[5][7], 23);
    EXPECT_EQ(planes.chroma[6][5], 33); // column 5 is done before column 6
    EXPECT_EQ(planes.chroma[3][3], 150); // outside the inner cells: untouched
    EXPECT_GT(pass.planeTotals[2], 0);
    EXPECT_EQ(pass.contrast[30][30], 0);

    SimilarPlanes again = flatPlanes(95, 150, 0);
    SimilarSignature s;
    computeSimilarSignature(grid, again, s);
    int32_t unmarked = 0;
    for (int32_t x = 5; x <= 64; ++x) {
        for (int32_t y = 5; y <= 64; ++y)
            unmarked += again.chroma[x][y] != 255;
    }
    EXPECT_GT(unmarked, 0);
}

TEST(SimilarSignatureTest, ContrastKeepsItsLowEightBits)
{
    // A black cell among cells of 153: twice the 7 x 7 mean is 300.
    ColourGrid grid = flatGrid(153, 153, 153);
    grid[30][30] = GridColour {0, 0, 0};
    EXPECT_EQ(localContrast(grid, 30, 30), 300);
    SimilarPlanes planes = flatPlanes(153, 0, 0);
    const ContrastPass pass = contrastPass(grid, planes);
    EXPECT_EQ(pass.contrast[30][30], 44);
    EXPECT_EQ(pass.contrastHistogram[44], 1);
}

TEST(SimilarSignatureTest, FewContrastCellsMarkEveryCell)
{
    // One dark cell gives 49 cells of contrast above 0, fewer than 601: the
    // high level is 0 and every inner cell is marked 255.
    ColourGrid grid = flatGrid(153, 153, 153);
    grid[30][30] = GridColour {0, 0, 0};
    SimilarPlanes planes = flatPlanes(153, 0, 0);
    SimilarSignature s;
    computeSimilarSignature(grid, planes, s);
    for (int32_t x = 5; x <= 64; ++x) {
        for (int32_t y = 5; y <= 64; ++y)
            ASSERT_EQ(s.contrastAt(x, y), 255);
    }
}

TEST(SimilarSignatureTest, RankLevelIsWhereTheCountFirstExceeds)
{
    Histogram h {};
    h[0] = 3000;
    h[10] = 600;
    EXPECT_EQ(rankLevel(h, 600), 0); // 600 does not exceed 600
    h[0] = 2999;
    h[10] = 601;
    EXPECT_EQ(rankLevel(h, 600), 10);
    EXPECT_EQ(rankLevel(h, 1200), 0);
    EXPECT_EQ(rankLevel(Histogram {}, 450), 0);
    h[255] = 5000;
    EXPECT_EQ(rankLevel(h, 1200), 255);
}

TEST(SimilarSignatureTest, BandCodesFollowTheSixRulesInOrder)
{
    EXPECT_EQ(bandCodesOf(130, 100, 99), (std::array<int32_t, 3> {2, 2, 2}));
    EXPECT_EQ(bandCodesOf(131, 100, 100), (std::array<int32_t, 3> {3, 2, 2}));
    EXPECT_EQ(bandCodesOf(100, 131, 131), (std::array<int32_t, 3> {1, 2, 2}));
    EXPECT_EQ(bandCodesOf(100, 200, 300), (std::array<int32_t, 3> {1, 2, 3}));
    EXPECT_EQ(bandCodesOf(0, 0, 0), (std::array<int32_t, 3> {2, 2, 2}));
    // a beats b, c beats b: b is weak; neither a nor c beats the other.
    EXPECT_EQ(bandCodesOf(100, 10, 120), (std::array<int32_t, 3> {2, 1, 2}));
}

TEST(SimilarSignatureTest, WarmCellsGiveCentroidAndSpreads)
{
    EXPECT_EQ(truncatedSqrt(200), 14);
    EXPECT_EQ(truncatedSqrt(196), 14);
    EXPECT_EQ(truncatedSqrt(195), 13);
    EXPECT_EQ(truncatedSqrt(0), 0);

    // A lone chroma spike in a flat plane becomes a chroma contrast of about
    // 75 (warm, with luminance 150 and hue 10) while its neighbours stay low.
    const auto warmSignature = [](std::initializer_list<std::pair<int32_t, int32_t>> cells) {
        const ColourGrid grid = flatGrid(150, 150, 150);
        SimilarPlanes planes = flatPlanes(150, 0, 10);
        for (const auto& [x, y] : cells)
            planes.chroma[x][y] = 40;
        SimilarSignature s;
        computeSimilarSignature(grid, planes, s);
        return s;
    };

    const SimilarSignature diagonal = warmSignature({{20, 20}, {40, 40}});
    EXPECT_EQ(diagonal.centroidX[3], 30);
    EXPECT_EQ(diagonal.centroidY[3], 30);
    EXPECT_EQ(diagonal.profiles[7][20], 2);
    EXPECT_EQ(diagonal.profiles[8][40], 2);
    EXPECT_EQ(diagonal.profiles[7][30], 0);
    EXPECT_EQ(diagonal.spreadA, 14); // sqrt((100 * 2 + 100 * 2) / 2)
    EXPECT_EQ(diagonal.spreadB, 14);

    // All warm cells in one row: the vertical spread is 0, so both become 10.
    const SimilarSignature row = warmSignature({{20, 30}, {41, 30}});
    EXPECT_EQ(row.centroidX[3], 31); // (61 + 1) / 2
    EXPECT_EQ(row.centroidY[3], 30);
    EXPECT_EQ(row.spreadA, 10);
    EXPECT_EQ(row.spreadB, 10);
}
