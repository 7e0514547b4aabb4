#include "picture/scaled_jpeg.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

bool samePixels(const Picture& a, const Picture& b)
{
    return a.width() == b.width() && a.height() == b.height() &&
           std::memcmp(a.data(), b.data(), a.byteCount()) == 0;
}

} // namespace

TEST(ScaledJpegTest, ScaleFollowsTheZoomAtTheBoundaries)
{
    EXPECT_EQ(jpegScaleForZoom(-5), 8);
    EXPECT_EQ(jpegScaleForZoom(0), 8);
    EXPECT_EQ(jpegScaleForZoom(12), 8);
    EXPECT_EQ(jpegScaleForZoom(13), 4);
    EXPECT_EQ(jpegScaleForZoom(25), 4);
    EXPECT_EQ(jpegScaleForZoom(26), 2);
    EXPECT_EQ(jpegScaleForZoom(50), 2);
    EXPECT_EQ(jpegScaleForZoom(51), 1);
    EXPECT_EQ(jpegScaleForZoom(100), 1);
    EXPECT_EQ(jpegScaleForZoom(1600), 1);
    EXPECT_EQ(jpegScaleForZoom(2147483647), 1);
}

TEST(ScaledJpegTest, FullSizeIsTheAccurateWholeDecodeAndScalesRoundUp)
{
    TempDir dir;
    // Odd sides: 1/8 of 203 x 117 is 25.4 x 14.6, which libjpeg rounds up.
    const std::string path = dir.file("odd.JPG");
    testing_support::writeJpeg(path, testing_support::photoLikePicture(203, 117, 3), 85);
    const LoadedPicture whole = loadPicture(path, JpegIdct::Accurate);
    ASSERT_TRUE(whole.ok()) << whole.error;

    const ScaledJpeg full = decodeJpegScaled(path, 1);
    ASSERT_TRUE(full.loaded.ok()) << full.loaded.error;
    EXPECT_TRUE(samePixels(full.loaded.picture, whole.picture));
    EXPECT_EQ(full.fullWidth, 203);
    EXPECT_EQ(full.fullHeight, 117);

    const int expected[][3] = {{2, 102, 59}, {4, 51, 30}, {8, 26, 15}, {3, 102, 59}, {16, 26, 15}};
    for (const auto& [denominator, width, height] : expected) {
        const ScaledJpeg scaled = decodeJpegScaled(path, denominator);
        ASSERT_TRUE(scaled.loaded.ok()) << scaled.loaded.error;
        EXPECT_EQ(scaled.loaded.picture.width(), width) << denominator;
        EXPECT_EQ(scaled.loaded.picture.height(), height) << denominator;
        EXPECT_EQ(scaled.fullWidth, 203);
        EXPECT_EQ(scaled.fullHeight, 117);
    }
}

TEST(ScaledJpegTest, ScaledPixelsAverageTheFullPicture)
{
    TempDir dir;
    // Left half red, right half blue, on 8-pixel block edges so that the
    // scaled picture keeps the edge sharp.
    const std::string path = dir.file("halves.jpg");
    testing_support::writeJpeg(path,
                               testing_support::patternPicture(128, 64, [](int32_t x, int32_t) {
                                   return x < 64 ? 0xD02010u : 0x1030C0u;
                               }),
                               95);
    const ScaledJpeg eighth = decodeJpegScaled(path, 8);
    ASSERT_TRUE(eighth.loaded.ok()) << eighth.loaded.error;
    ASSERT_EQ(eighth.loaded.picture.width(), 16);
    const uint8_t* left = eighth.loaded.picture.row(4) + 3 * 2;
    const uint8_t* right = eighth.loaded.picture.row(4) + 3 * 13;
    EXPECT_NEAR(left[2], 0xD0, 6);
    EXPECT_NEAR(left[0], 0x10, 6);
    EXPECT_NEAR(right[2], 0x10, 6);
    EXPECT_NEAR(right[0], 0xC0, 6);
}

TEST(ScaledJpegTest, FailuresSayWhy)
{
    TempDir dir;
    EXPECT_EQ(decodeJpegScaled(dir.str() + "/gone.jpg", 2).loaded.failure, LoadFailure::Missing);
    testing_support::writeBytes(dir.file("empty.jpg"), "");
    EXPECT_EQ(decodeJpegScaled(dir.file("empty.jpg"), 2).loaded.failure, LoadFailure::Empty);
    testing_support::writeBytes(dir.file("text.jpg"), "not a picture at all");
    const ScaledJpeg text = decodeJpegScaled(dir.file("text.jpg"), 1);
    EXPECT_EQ(text.loaded.failure, LoadFailure::Damaged);
    EXPECT_FALSE(text.loaded.ok());
    EXPECT_TRUE(text.loaded.picture.isNull());
    EXPECT_EQ(decodeJpegScaled(dir.str(), 1).loaded.failure, LoadFailure::NotRegular);
    if (::geteuid() != 0) {
        testing_support::writeJpeg(dir.file("locked.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
        ::chmod(dir.file("locked.jpg").c_str(), 0);
        EXPECT_EQ(decodeJpegScaled(dir.file("locked.jpg"), 1).loaded.failure, LoadFailure::AccessDenied);
    }
}

// Every way out of a decode, refused early or decoded, gives its descriptor
// back: a review steps through thousands of files.
TEST(ScaledJpegTest, NoDescriptorOutlivesADecode)
{
    TempDir dir;
    testing_support::writeBytes(dir.file("empty.jpg"), "");
    testing_support::writeBytes(dir.file("text.jpg"), "not a picture at all");
    testing_support::writeJpeg(dir.file("good.jpg"), testing_support::solidPicture(16, 8, 9, 8, 7));
    auto openDescriptors = [] {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            ++count;
        return count;
    };
    const int before = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(decodeJpegScaled(dir.file("empty.jpg"), 1).loaded.failure, LoadFailure::Empty);
        EXPECT_EQ(decodeJpegScaled(dir.str(), 1).loaded.failure, LoadFailure::NotRegular);
        EXPECT_EQ(decodeJpegScaled(dir.file("text.jpg"), 2).loaded.failure, LoadFailure::Damaged);
        EXPECT_TRUE(decodeJpegScaled(dir.file("good.jpg"), 2).loaded.ok());
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(ScaledJpegTest, RegionIsThatPartOfTheWholeDecode)
{
    TempDir dir;
    const std::string path = dir.file("region.jpg");
    testing_support::writeJpeg(path, testing_support::photoLikePicture(301, 211, 5), 88);
    const LoadedPicture whole = loadPicture(path, JpegIdct::Accurate);
    ASSERT_TRUE(whole.ok()) << whole.error;

    struct Case {
        int x, y, width, height;
    };
    // Inside; at the edges; reaching past them; the whole picture.
    for (const Case c : {Case {0, 50, 301, 41}, Case {37, 0, 90, 100}, Case {37, 50, 90, 41}, Case {0, 0, 16, 16}, Case {280, 190, 100, 100},
                         Case {-20, -5, 40, 10}, Case {0, 0, 301, 211}}) {
        const JpegRegion part = decodeJpegRegion(path, c.x, c.y, c.width, c.height);
        ASSERT_TRUE(part.loaded.ok()) << part.loaded.error;
        EXPECT_EQ(part.fullWidth, 301);
        EXPECT_EQ(part.fullHeight, 211);
        const Picture& p = part.loaded.picture;
        // Covers what was asked (clipped), from a column no further right.
        EXPECT_LE(part.left, std::max(c.x, 0));
        EXPECT_EQ(part.top, std::max(c.y, 0));
        EXPECT_GE(part.left + p.width(), std::min(c.x + c.width, 301));
        EXPECT_EQ(part.top + p.height(), std::min(c.y + c.height, 211));
        // The asked columns are exact.
        const int32_t from = std::max(c.x, 0);
        const int32_t to = std::min(c.x + c.width, 301);
        for (int32_t y = 0; y < p.height(); ++y) {
            ASSERT_EQ(std::memcmp(p.row(y) + 3 * (from - part.left), whole.picture.row(part.top + y) + 3 * from,
                                  3 * static_cast<std::size_t>(to - from)),
                      0)
                << "row " << y << " of part at " << c.x << "," << c.y;
        }
    }
    EXPECT_FALSE(decodeJpegRegion(path, 400, 0, 10, 10).loaded.ok());
    EXPECT_EQ(decodeJpegRegion(dir.str() + "/gone.jpg", 0, 0, 1, 1).loaded.failure, LoadFailure::Missing);
}

TEST(ScaledJpegTest, CancelledDecodeStopsWithoutFailure)
{
    TempDir dir;
    const std::string path = dir.file("c.jpg");
    testing_support::writeJpeg(path, testing_support::photoLikePicture(64, 48, 1), 80);
    const std::atomic<bool> cancel {true};
    const ScaledJpeg whole = decodeJpegScaled(path, 2, &cancel);
    EXPECT_TRUE(whole.cancelled);
    EXPECT_FALSE(whole.loaded.ok());
    EXPECT_EQ(whole.loaded.failure, LoadFailure::None);
    EXPECT_TRUE(decodeJpegRegion(path, 0, 8, 16, 16, &cancel).cancelled);
    const std::atomic<bool> goOn {false};
    const ScaledJpeg done = decodeJpegScaled(path, 2, &goOn);
    EXPECT_FALSE(done.cancelled);
    EXPECT_TRUE(done.loaded.ok());
    EXPECT_EQ(failureOfErrno(ENOENT), LoadFailure::Missing);
    EXPECT_EQ(failureOfErrno(EACCES), LoadFailure::AccessDenied);
    EXPECT_EQ(failureOfErrno(EIO), LoadFailure::SystemError);
}
