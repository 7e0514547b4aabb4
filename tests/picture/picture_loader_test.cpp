#include "picture/picture_loader.h"

#include <gtest/gtest.h>

#include "support/test_pictures.h"

using testing_support::TempDir;

TEST(PictureLoaderTest, JpegAndBitmapRoundTrip)
{
    TempDir dir;
    const Picture solid = testing_support::solidPicture(32, 16, 200, 100, 50);
    testing_support::writeJpeg(dir.file("a.jpg"), solid, 95);
    testing_support::writeBmp24(dir.file("b.BMP"), solid);

    for (JpegIdct idct : {JpegIdct::Fast, JpegIdct::Accurate}) {
        const LoadedPicture jpeg = loadPicture(dir.file("a.jpg"), idct);
        ASSERT_TRUE(jpeg.ok()) << jpeg.error;
        EXPECT_EQ(jpeg.picture.width(), 32);
        EXPECT_EQ(jpeg.picture.height(), 16);
        const uint8_t* p = jpeg.picture.row(8) + 3 * 16;
        EXPECT_NEAR(p[0], 50, 3);
        EXPECT_NEAR(p[1], 100, 3);
        EXPECT_NEAR(p[2], 200, 3);
    }
    const LoadedPicture bmp = loadPicture(dir.file("b.BMP"), JpegIdct::Fast);
    ASSERT_TRUE(bmp.ok()) << bmp.error;
    EXPECT_EQ(bmp.picture.row(15)[31 * 3 + 2], 200);
    EXPECT_EQ(bmp.picture.row(0)[0], 50);
}

TEST(PictureLoaderTest, FormatFollowsTheExtension)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("really-a-jpeg.bmp"), testing_support::solidPicture(8, 8, 1, 2, 3));
    EXPECT_FALSE(loadPicture(dir.file("really-a-jpeg.bmp"), JpegIdct::Fast).ok());
    testing_support::writeBytes(dir.file("empty.jpg"), "");
    EXPECT_FALSE(loadPicture(dir.file("empty.jpg"), JpegIdct::Fast).ok());
    EXPECT_FALSE(loadPicture(dir.file("missing.jpg"), JpegIdct::Fast).ok());
}
