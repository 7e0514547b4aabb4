#include "compare/similar/similar_sampling.h"

#include <gtest/gtest.h>

#include "support/test_pictures.h"

namespace {

ColourGrid patternGrid()
{
    // No two cells 30 apart along a row or a column agree.
    ColourGrid grid {};
    for (int32_t x = 1; x <= 68; ++x) {
        for (int32_t y = 1; y <= 68; ++y)
            grid[x][y] = GridColour {static_cast<uint8_t>((x * 7 + y * 13) % 256), 90, 90};
    }
    return grid;
}

void paintColumn(ColourGrid& grid, int32_t x)
{
    for (int32_t y = 1; y <= 68; ++y)
        grid[x][y] = GridColour {40, 40, 40};
}

} // namespace

TEST(SimilarSamplingTest, CellsAverageThreeByThreeBlocksAtScaledPositions)
{
    // 3 x 3: every cell reads the whole picture.
    Picture tiny(3, 3);
    uint8_t v = 0;
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 3; ++x, v += 10)
            testing_support::setPixel(tiny, x, y, v, static_cast<uint8_t>(v + 1), 200);
    }
    ColourGrid grid {};
    EXPECT_EQ(sampleColourGrid(tiny, PixelWindow {0, 3, 0, 3}, grid), 40);
    EXPECT_EQ(grid[1][1].r, 40);  // 360 / 9
    EXPECT_EQ(grid[68][68].g, 41); // 369 / 9
    EXPECT_EQ(grid[0][0].r, 0);   // the rim is never written
    EXPECT_EQ(grid[69][5].b, 0);

    // Width 70: cell x reads pixel columns x - 1 .. x + 1; width 139: 2x - 1 .. 2x + 1.
    for (int32_t width : {70, 139}) {
        const Picture ramp = testing_support::patternPicture(width, 70, [](int32_t x, int32_t y) {
            return (static_cast<uint32_t>(x) << 16) | (static_cast<uint32_t>(y) << 8) | 30u;
        });
        sampleColourGrid(ramp, PixelWindow {0, width, 0, 70}, grid);
        const int32_t step = width == 70 ? 1 : 2;
        for (int32_t cell : {1, 2, 34, 68}) {
            EXPECT_EQ(grid[cell][cell].r, step * cell) << width << " " << cell;
            EXPECT_EQ(grid[cell][cell].g, cell);
        }
    }
}

TEST(SimilarSamplingTest, StretchStartsAboveBlackLevelTwentyFive)
{
    ColourGrid grid {};
    const Picture at25 = testing_support::solidPicture(30, 20, 25, 100, 200);
    const int32_t level25 = sampleColourGrid(at25, PixelWindow {0, 30, 0, 20}, grid);
    EXPECT_EQ(level25, 25);
    stretchColourGrid(grid, level25);
    EXPECT_EQ(grid[10][10].r, 25);
    EXPECT_EQ(grid[10][10].g, 100);

    const Picture at26 = testing_support::solidPicture(30, 20, 26, 100, 200);
    const int32_t level26 = sampleColourGrid(at26, PixelWindow {0, 30, 0, 20}, grid);
    EXPECT_EQ(level26, 26);
    stretchColourGrid(grid, level26);
    EXPECT_EQ(grid[10][10].r, 0);
    EXPECT_EQ(grid[10][10].g, 82);  // 74 * 255 / 229
    EXPECT_EQ(grid[10][10].b, 193); // 174 * 255 / 229
    EXPECT_EQ(grid[0][0].g, 0);     // rim untouched

    // A white grid (BlackLevel 255) is left alone rather than divided by zero.
    sampleColourGrid(testing_support::solidPicture(8, 8, 255, 255, 255), PixelWindow {0, 8, 0, 8}, grid);
    stretchColourGrid(grid, 255);
    EXPECT_EQ(grid[5][5].r, 255);
}

TEST(SimilarSamplingTest, FrameNeedsThreeUniformLinesOnAnAxis)
{
    ColourGrid grid = patternGrid();
    EXPECT_EQ(findFrameEdges(grid).left, 4);
    EXPECT_EQ(findFrameEdges(grid).bottom, 66);

    paintColumn(grid, 4);
    paintColumn(grid, 5);
    FrameEdges frame = findFrameEdges(grid);
    EXPECT_EQ(frame.left, 6);
    EXPECT_EQ(frame.right, 66);
    EXPECT_FALSE(frameNeedsResampling(frame)); // 60 cells

    paintColumn(grid, 6);
    frame = findFrameEdges(grid);
    EXPECT_EQ(frame.left, 7);
    EXPECT_TRUE(frameNeedsResampling(frame));
    const PixelWindow window = contentWindow(1000, 700, frame);
    EXPECT_EQ(window.x0, 100); // 1000 * 7 / 70
    EXPECT_EQ(window.x1, 942); // 1000 * 66 / 70
    EXPECT_EQ(window.y0, 40);
    EXPECT_EQ(window.y1, 660);

    // The search stops at the first line that is not uniform.
    ColourGrid gap = patternGrid();
    paintColumn(gap, 4);
    paintColumn(gap, 6);
    EXPECT_EQ(findFrameEdges(gap).left, 5);

    // Right edge, counting down from 66.
    ColourGrid right = patternGrid();
    paintColumn(right, 66);
    EXPECT_EQ(findFrameEdges(right).right, 65);
}

TEST(SimilarSamplingTest, FramedPictureIsSampledAgainFromItsContent)
{
    // A grey band 66 pixels wide on the left of a 700 x 700 picture covers the
    // blocks of grid columns 1 to 6; the rest varies down every column.
    const Picture framed = testing_support::patternPicture(700, 700, [](int32_t x, int32_t y) {
        if (x < 66)
            return 0x808080u;
        const uint32_t v = static_cast<uint32_t>((y / 10) * 37 % 256);
        return (v << 16) | (static_cast<uint32_t>(x % 200) << 8) | 0u; // blue 0: no stretch
    });
    SampledPicture sampled;
    samplePicture(framed, sampled);
    EXPECT_EQ(sampled.frame.left, 7);
    EXPECT_EQ(sampled.frame.right, 66);
    ASSERT_TRUE(sampled.resampled);

    ColourGrid expected {};
    sampleColourGrid(framed, PixelWindow {70, 660, 40, 660}, expected);
    for (int32_t x = 1; x <= 68; ++x) {
        for (int32_t y = 1; y <= 68; ++y) {
            ASSERT_EQ(sampled.grid[x][y].r, expected[x][y].r) << x << "," << y;
            ASSERT_EQ(sampled.grid[x][y].g, expected[x][y].g) << x << "," << y;
        }
    }
}

TEST(SimilarSamplingTest, SmallAndFramedPicturesStayInsideTheirPixels)
{
    // Every size from 3 up, with and without a frame, must sample without
    // reading outside the picture (run under the sanitizers in CI).
    for (int32_t w = 3; w <= 24; ++w) {
        for (int32_t h = 3; h <= 24; h += 7) {
            const Picture flat = testing_support::solidPicture(w, h, 90, 120, 150);
            SampledPicture sampled;
            samplePicture(flat, sampled);
            EXPECT_TRUE(sampled.resampled); // a flat picture is all frame
            EXPECT_EQ(sampled.frame.left, 26);
            EXPECT_EQ(sampled.frame.right, 44);
        }
    }
}

TEST(SimilarSamplingTest, HueOfPrimariesAndNegativeAngles)
{
    EXPECT_EQ(hueOf(255, 0, 0), 0);
    EXPECT_EQ(hueOf(0, 255, 0), 120);
    EXPECT_EQ(hueOf(0, 0, 255), 240);
    EXPECT_EQ(hueOf(255, 0, 128), 330);
    EXPECT_EQ(hueOf(77, 77, 77), 0);
    EXPECT_EQ(hueOf(255, 255, 0), 60); // red wins a tie with green

    ColourGrid grid {};
    grid[3][4] = GridColour {255, 0, 128};
    SimilarPlanes planes;
    derivePlanes(grid, planes);
    EXPECT_EQ(planes.luma[3][4], 90); // (7650 + 1408) / 100
    EXPECT_EQ(planes.chroma[3][4], 255);
    EXPECT_EQ(planes.hue[3][4], 330);
}
