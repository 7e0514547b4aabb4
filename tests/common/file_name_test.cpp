#include "common/file_name.h"

#include <gtest/gtest.h>

TEST(FileNameTest, ExtensionIsUpperCasedFromTheLastDot)
{
    EXPECT_EQ(upperExtension("/a.b/c.Jpg"), ".JPG");
    EXPECT_EQ(upperExtension("/a.b/c"), "");
    EXPECT_EQ(upperExtension("/x/photo.jpeg"), ".JPEG");
    EXPECT_EQ(fileNameOf("/x/y/a,b.jpg"), "a,b.jpg");
}
