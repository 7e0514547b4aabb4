#include "search/run_list.h"

#include <gtest/gtest.h>

namespace {

FileTable tableOfSizes(const std::vector<int64_t>& sizes)
{
    FileTable files(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i)
        files[i].size = sizes[i];
    return files;
}

using Runs = std::vector<RunMembers>;

} // namespace

TEST(RunListTest, RunsOfEqualKeys)
{
    EXPECT_EQ(formRuns(tableOfSizes({5, 5, 7, 7, 7, 9}), CheckMode::FileSize), (Runs {{0, 1}, {2, 3, 4}}));
    EXPECT_EQ(formRuns(tableOfSizes({1, 2, 3, 3}), CheckMode::FileSize), (Runs {{2, 3}}));
    EXPECT_EQ(formRuns(tableOfSizes({1, 1, 2}), CheckMode::FileSize), (Runs {{0, 1}}));
    EXPECT_EQ(formRuns(tableOfSizes({1, 2, 3}), CheckMode::FileSize), Runs {});
    EXPECT_EQ(formRuns(tableOfSizes({4}), CheckMode::FileSize), Runs {});
    EXPECT_EQ(formRuns(tableOfSizes({}), CheckMode::FileSize), Runs {});
}

TEST(RunListTest, PictureSizeKeyIgnoresFileSize)
{
    FileTable files = tableOfSizes({1, 2, 3});
    files[0].width = files[1].width = 640;
    files[0].height = files[1].height = 480;
    files[2].width = 480;
    files[2].height = 640;
    EXPECT_EQ(formRuns(files, CheckMode::PictureSize), (Runs {{0, 1}}));
    EXPECT_EQ(formRuns(files, CheckMode::FileSize), Runs {});
}

TEST(RunListTest, LongRunKeepsItsFirstMembersAndItsLast)
{
    std::vector<int64_t> sizes(305, 42);
    sizes.push_back(43);
    sizes.push_back(43);
    const Runs runs = formRuns(tableOfSizes(sizes), CheckMode::FileSize);
    ASSERT_EQ(runs.size(), 2u);
    ASSERT_EQ(runs[0].size(), static_cast<std::size_t>(kMaxGroup));
    for (int32_t m = 0; m < kMaxGroup - 1; ++m)
        EXPECT_EQ(runs[0][m], m);
    EXPECT_EQ(runs[0].back(), 304);
    EXPECT_EQ(runs[1], (RunMembers {305, 306}));

    // Exactly kMaxGroup equal keys fit without replacement.
    const Runs full = formRuns(tableOfSizes(std::vector<int64_t>(300, 1)), CheckMode::FileSize);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].size(), 300u);
    EXPECT_EQ(full[0].back(), 299);
}

TEST(RunListTest, AbortEndsAfterTheCurrentKey)
{
    std::atomic<bool> abort {true};
    EXPECT_EQ(formRuns(tableOfSizes({1, 1, 2, 2}), CheckMode::FileSize, &abort), (Runs {{0, 1}}));
}
