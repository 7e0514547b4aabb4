#include "picture/picture_loader.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "support/byte_text.h"
#include "support/test_pictures.h"

using testing_support::TempDir;
using testing_support::le32;
using testing_support::writeBytes;

namespace {

std::string readBytes(const std::string& path)
{
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

// A JPEG of one flat colour in the given colour space (1 or 4 components).
std::string flatJpeg(int width, int height, J_COLOR_SPACE space, const std::vector<uint8_t>& pixel)
{
    std::vector<uint8_t> row;
    for (int x = 0; x < width; ++x)
        row.insert(row.end(), pixel.begin(), pixel.end());
    return testing_support::encodeJpeg(
        width, height, static_cast<int>(pixel.size()), space,
        [](jpeg_compress_struct& cinfo) { jpeg_set_quality(&cinfo, 95, TRUE); }, [&](int) { return row.data(); });
}

// Rewrites the size in the first baseline frame header of a JPEG.
std::string withFrameSize(const std::string& jpeg, int width, int height)
{
    return testing_support::withFrameSize(jpeg, 0xC0, width, height);
}

LoadedPicture load(const TempDir& dir, const std::string& name, const std::string& bytes)
{
    writeBytes(dir.file(name), bytes);
    return loadPicture(dir.file(name), JpegIdct::Fast);
}

} // namespace

TEST(BrokenFilesTest, EmptyAndWrongMagicFail)
{
    TempDir dir;
    EXPECT_FALSE(load(dir, "zero.jpg", "").ok());
    EXPECT_FALSE(load(dir, "zero.bmp", "").ok());
    EXPECT_FALSE(load(dir, "gif.jpg", "GIF89a\x01\0\x01\0\0\0\0;").ok());
    EXPECT_FALSE(load(dir, "png.bmp", "\x89PNG\r\n\x1a\n" + std::string(64, '\0')).ok());
    EXPECT_FALSE(load(dir, "text.JPG", std::string(5000, 'a')).ok());
    // A header with no picture data after it.
    const std::string jpeg = flatJpeg(16, 16, JCS_RGB, {10, 20, 30});
    EXPECT_FALSE(load(dir, "headonly.jpg", jpeg.substr(0, 200)).ok());
}

TEST(BrokenFilesTest, TruncatedJpegIsFinishedWithWarningsOnly)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("full.jpg"), testing_support::photoLikePicture(96, 64, 3), 90);
    const std::string full = readBytes(dir.file("full.jpg"));
    const LoadedPicture cut = load(dir, "cut.jpg", full.substr(0, full.size() * 6 / 10));
    ASSERT_TRUE(cut.ok()) << cut.error;
    EXPECT_EQ(cut.picture.width(), 96);
    EXPECT_EQ(cut.picture.height(), 64);
}

TEST(BrokenFilesTest, HugeDeclaredSizesFailWithoutAllocating)
{
    TempDir dir;
    const std::string jpeg = flatJpeg(16, 16, JCS_RGB, {10, 20, 30});
    const LoadedPicture huge = load(dir, "huge.jpg", withFrameSize(jpeg, 60000, 60000));
    EXPECT_FALSE(huge.ok());
    const LoadedPicture zero = load(dir, "zero-width.jpg", withFrameSize(jpeg, 0, 16));
    EXPECT_FALSE(zero.ok());

    std::string bmp = "BM" + le32(0) + le32(0) + le32(54) + le32(40) + le32(40000) + le32(40000);
    bmp += std::string("\x01\x00\x18\x00", 4) + std::string(24, '\0') + std::string(300, '\x7F');
    EXPECT_FALSE(load(dir, "huge.bmp", bmp).ok());
}

TEST(BrokenFilesTest, TruncatedBitmapDoesNotCrash)
{
    TempDir dir;
    testing_support::writeBmp24(dir.file("full.bmp"), testing_support::solidPicture(30, 20, 1, 2, 3));
    const std::string full = readBytes(dir.file("full.bmp"));
    for (std::size_t length : {std::size_t {10}, std::size_t {54}, full.size() / 2}) {
        const LoadedPicture cut = load(dir, "cut.bmp", full.substr(0, length));
        if (cut.ok()) {
            EXPECT_EQ(cut.picture.width(), 30);
            EXPECT_EQ(cut.picture.height(), 20);
        }
    }
    EXPECT_FALSE(load(dir, "cut.bmp", full.substr(0, 10)).ok());
}

TEST(BrokenFilesTest, GreyscaleAndCmykJpegsComeOutAsColour)
{
    TempDir dir;
    const LoadedPicture grey = load(dir, "grey.jpg", flatJpeg(16, 8, JCS_GRAYSCALE, {90}));
    ASSERT_TRUE(grey.ok()) << grey.error;
    const uint8_t* g = grey.picture.row(4) + 3 * 8;
    EXPECT_NEAR(g[0], 90, 2);
    EXPECT_EQ(g[0], g[1]);
    EXPECT_EQ(g[1], g[2]);

    // libjpeg writes an Adobe marker with CMYK, whose values are stored
    // inverted (255 = no ink): this pixel is pure red.
    const LoadedPicture cmyk = load(dir, "cmyk.jpg", flatJpeg(16, 8, JCS_CMYK, {255, 0, 0, 255}));
    ASSERT_TRUE(cmyk.ok()) << cmyk.error;
    const uint8_t* c = cmyk.picture.row(4) + 3 * 8;
    EXPECT_NEAR(c[2], 255, 3); // R
    EXPECT_NEAR(c[1], 0, 3);   // G
    EXPECT_NEAR(c[0], 0, 3);   // B
}
