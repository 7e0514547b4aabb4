#include "review/pane_size.h"

#include <gtest/gtest.h>

#include "search/search_options.h"

TEST(PaneSizeTest, SearchAndRedisplay)
{
    EXPECT_EQ(searchPaneSize(0).width, 390);
    EXPECT_EQ(searchPaneSize(0).height, 416);
    EXPECT_EQ(searchPaneSize(1).width, 495);
    EXPECT_EQ(searchPaneSize(1).height, 545);
    EXPECT_EQ(searchPaneSize(2).width, 615);
    EXPECT_EQ(searchPaneSize(2).height, 738);
    EXPECT_EQ(searchPaneSize(-1).width, 390);

    const PaneSize previous {123, 456};
    EXPECT_EQ(redisplayPaneSize(1, CheckMode::FileSize, previous).width, 330);
    EXPECT_EQ(redisplayPaneSize(1, CheckMode::PictureSize, previous).height, 545);
    EXPECT_EQ(redisplayPaneSize(1, CheckMode::Identical, previous).width, 495);
    EXPECT_EQ(redisplayPaneSize(2, CheckMode::Similar, previous).width, 615);
    EXPECT_EQ(redisplayPaneSize(-1, CheckMode::Similar, previous).width, 123);
    EXPECT_EQ(redisplayPaneSize(-1, CheckMode::Similar, previous).height, 456);
}
