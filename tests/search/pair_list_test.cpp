#include "search/pair_list.h"

#include <gtest/gtest.h>

namespace {

File_rec fileWithSkip(int32_t skip)
{
    File_rec file;
    file.skip = skip;
    return file;
}

std::vector<std::pair<int32_t, int32_t>> indicesOf(const std::vector<PairRec>& pairs)
{
    std::vector<std::pair<int32_t, int32_t>> indices;
    for (const PairRec& pair : pairs) {
        EXPECT_EQ(pair.state, PairState::Waiting);
        indices.emplace_back(pair.indexA, pair.indexB);
    }
    return indices;
}

} // namespace

TEST(PairListTest, IndicesAreReadFromBothEngineLineShapes)
{
    const auto identical = parseResultIndices(
        "0012, 000345, 006789, 0001,0002, 0003,0004, 0005,0006, 0007,0008, 01,02, 03,04, 05,06, 07,08, a.jpg,b.jpg");
    ASSERT_TRUE(identical);
    EXPECT_EQ(identical->indexA, 345);
    EXPECT_EQ(identical->indexB, 6789);

    const auto similar = parseResultIndices(
        "0450, 000000, 999999, 001,002,003,000004,000005,000006,000007,08,000009,000010,11,x, y.JPG,z.BMP");
    ASSERT_TRUE(similar);
    EXPECT_EQ(similar->indexA, 0);
    EXPECT_EQ(similar->indexB, 999999);

    const auto bare = parseResultIndices("0000, 000001, 000002");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->indexB, 2);
}

TEST(PairListTest, IndexOfSevenDigitsIsReadWhole)
{
    // Past 1,000,000 files "%.6d" widens and the fixed columns would cut the
    // index in two.
    const auto wide = parseResultIndices("0003, 1000000, 1234567, 0001,0002, a.jpg,b.jpg");
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->indexA, 1000000);
    EXPECT_EQ(wide->indexB, 1234567);
}

TEST(PairListTest, LinesNotOfTheResultShapeGiveNothing)
{
    for (const char* line : {"", "0012", "0012, ", "0012, 000034", "0012, 00034x, 000001",
                             "0012, 000001; 000002", "0012, 000001, 000002x", "0012, 000001, ",
                             "0012, -00001, 000002", "0012, 0000000000001, 000002"})
        EXPECT_FALSE(parseResultIndices(line)) << line;
}

TEST(PairListTest, FreshSearchKeepsEveryLineInListOrder)
{
    const std::vector<std::string> lines {"0001, 000004, 000007, x", "0001, 000002, 000003, x",
                                          "0009, 000004, 000002, x"};
    const auto pairs = buildPairList(lines);
    EXPECT_EQ(indicesOf(pairs), (std::vector<std::pair<int32_t, int32_t>> {{4, 7}, {2, 3}, {4, 2}}));
}

TEST(PairListTest, RebuildDropsEveryLineOfASkippedFile)
{
    // Files 0..4; file 1 was deleted in the review.
    FileTable files {fileWithSkip(0), fileWithSkip(1), fileWithSkip(0), fileWithSkip(0), fileWithSkip(0)};
    const std::vector<std::string> lines {"0001, 000000, 000001, x", "0002, 000000, 000002, x",
                                          "0003, 000001, 000003, x", "0004, 000002, 000003, x",
                                          "0005, 000003, 000004, x", "0006, 000004, 000001, x"};
    const auto pairs = rebuildPairList(lines, files);
    EXPECT_EQ(indicesOf(pairs), (std::vector<std::pair<int32_t, int32_t>> {{0, 2}, {2, 3}, {3, 4}}));

    for (File_rec& file : files)
        file.skip = 1;
    EXPECT_TRUE(rebuildPairList(lines, files).empty());
}

TEST(PairListTest, RebuildDropsLinesNamingFilesOutsideTheTable)
{
    const FileTable files {fileWithSkip(0), fileWithSkip(0)};
    const std::vector<std::string> lines {"0001, 000000, 000002, x", "0002, 000000, 000001, x",
                                          "0003, 000005, 000001, x"};
    EXPECT_EQ(indicesOf(rebuildPairList(lines, files)), (std::vector<std::pair<int32_t, int32_t>> {{0, 1}}));
}
