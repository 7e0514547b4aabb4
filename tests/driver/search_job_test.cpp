#include "driver/search_job.h"

#include <gtest/gtest.h>

#include "review/pane_size.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

TEST(SearchJobTest, SummaryAndStatus)
{
    SearchOutcome outcome;
    outcome.elapsedMs = 12'300;
    outcome.counters = SearchCounters {250, 249, 7};
    EXPECT_EQ(searchSummaryLine(outcome), "12.3 ファイル：250 読込：249 選択：7");
    EXPECT_EQ(searchStatusText(outcome), "検索終了");
    outcome.elapsedMs = 1'549;
    outcome.counters = SearchCounters {1, 0, 0};
    EXPECT_EQ(searchSummaryLine(outcome), " 1.5 ファイル：1 読込：0 選択：0");
    EXPECT_EQ(searchStatusText(outcome), "重複ファイルなし");
    outcome.noFiles = true;
    EXPECT_EQ(searchStatusText(outcome), "画像ファイルなし");
}

TEST(SearchJobTest, EmptyFolderEndsAfterTheScan)
{
    TempDir dir;
    testing_support::writeBytes(dir.file("notes.txt"), "x");
    testing_support::writeBytes(dir.file("deep/a.jpg"), "x");
    std::atomic<bool> abort {false};
    SearchOptions options;
    options.folder = dir.str();
    const SearchOutcome outcome = runSearch(options, abort);
    EXPECT_TRUE(outcome.noFiles);
    EXPECT_EQ(outcome.counters.fileCount, 0);
    EXPECT_TRUE(outcome.files.empty());
    EXPECT_EQ(searchStatusText(outcome), "画像ファイルなし");
}

TEST(SearchJobTest, PictureSizeSearchFillsTheTable)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::solidPicture(64, 48, 10, 20, 30));
    testing_support::writeBmp24(dir.file("sub/b.bmp"), testing_support::solidPicture(30, 20, 10, 20, 30));
    std::atomic<bool> abort {false};
    std::vector<SearchProgress> reports;
    SearchOptions options;
    options.folder = dir.str();
    options.mode = CheckMode::PictureSize;
    options.depth = 1;
    options.screen = 2;
    const SearchOutcome outcome = runSearch(options, abort, [&](const SearchProgress& p) { reports.push_back(p); });
    EXPECT_FALSE(outcome.noFiles);
    EXPECT_EQ(outcome.counters.fileCount, 2);
    ASSERT_EQ(outcome.files.size(), 2u);
    EXPECT_EQ(outcome.files[0].path, dir.str() + "/sub/b.bmp");
    EXPECT_EQ(outcome.files[0].width, 30);
    EXPECT_EQ(outcome.files[1].height, 48);
    EXPECT_EQ(outcome.scanLines.size(), 2u);
    EXPECT_EQ(searchPaneSize(outcome.options.screen).width, 615); // the main window's review pane
    EXPECT_EQ(outcome.pairList.size(), outcome.resultLines.size());
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().done, 2);
}
