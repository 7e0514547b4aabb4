#include "picture/webp_decoder.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "picture/bmp_loader.h"
#include "picture/picture_size.h"
#include "support/recording_sink.h"
#include "support/test_pictures.h"
#include "support/test_png.h"

using testing_support::encodePng;
using testing_support::PngLayout;
using testing_support::TempDir;
using testing_support::writeBytes;

namespace {

// Runs one of webp's tools quietly; true when it succeeded.
bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool samePixels(const Picture& a, const Picture& b)
{
    return a.width() == b.width() && a.height() == b.height()
           && std::memcmp(a.data(), b.data(), a.byteCount()) == 0;
}

} // namespace

TEST(WebpDecoder, LosslessIsThePixelsAndLossyIsWhatDwebpDecodes)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(203, 151, 4);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    ASSERT_TRUE(run("cwebp -quiet -lossless -exact " + dir.file("photo.png") + " -o " + dir.file("lossless.webp")));
    testing_support::expectStreamedAndLoaded(dir.file("lossless.webp"), photo,
                                             [](const std::string& p) { return loadPicture(p, JpegIdct::Fast); });

    ASSERT_TRUE(run("cwebp -quiet -q 90 " + dir.file("photo.png") + " -o " + dir.file("lossy.WEBP")));
    ASSERT_TRUE(run("dwebp -quiet " + dir.file("lossy.WEBP") + " -bmp -o " + dir.file("lossy.bmp")));
    const LoadedPicture lossy = loadPicture(dir.file("lossy.WEBP"), JpegIdct::Fast);
    const LoadedPicture reference = loadBmpFile(dir.file("lossy.bmp"));
    ASSERT_TRUE(lossy.ok()) << lossy.error;
    ASSERT_TRUE(reference.ok()) << reference.error;
    EXPECT_TRUE(samePixels(lossy.picture, reference.picture));
    EXPECT_FALSE(samePixels(lossy.picture, photo));

    const std::optional<PictureSize> size = ReadPictureSize(dir.file("lossy.WEBP"));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 203);
    EXPECT_EQ(size->height, 151);
}

TEST(WebpDecoder, AlphaLiesOverWhite)
{
    TempDir dir;
    PngLayout layout;
    layout.width = 3;
    layout.colourType = 6; // RGBA
    layout.samples = {200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255};
    writeBytes(dir.file("alpha.png"), encodePng(layout));
    ASSERT_TRUE(run("cwebp -quiet -lossless -exact " + dir.file("alpha.png") + " -o " + dir.file("alpha.webp")));
    const LoadedPicture loaded = loadPicture(dir.file("alpha.webp"), JpegIdct::Fast);
    ASSERT_TRUE(loaded.ok()) << loaded.error;
    const uint8_t* row = loaded.picture.row(0);
    EXPECT_EQ(std::vector<int>(row, row + 9), (std::vector<int> {127, 177, 227, 255, 255, 255, 30, 20, 10}));
}

TEST(WebpDecoder, BrokenFilesAndHugeClaimsFailAtOnce)
{
    TempDir dir;
    writeBytes(dir.file("photo.png"), encodePng(testing_support::photoLikePicture(64, 64, 3)));
    ASSERT_TRUE(run("cwebp -quiet -lossless " + dir.file("photo.png") + " -o " + dir.file("good.webp")));
    const std::string good = testing_support::readFileText(dir.file("good.webp"));
    const auto loadBytes = [&dir](const std::string& name, const std::string& bytes) {
        writeBytes(dir.file(name), bytes);
        return loadPicture(dir.file(name), JpegIdct::Fast);
    };
    EXPECT_EQ(loadBytes("t.webp", good.substr(0, good.size() / 2)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("e.webp", "").failure, LoadFailure::Empty);
    EXPECT_EQ(loadBytes("png.webp", encodePng(testing_support::photoLikePicture(8, 8, 1))).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("webp.png", good).failure, LoadFailure::Damaged);

    // A lossless header claiming 16384 x 16384 (its 14-bit sides all ones):
    // a gigabyte decoded, refused from the header.
    std::string huge = good;
    ASSERT_EQ(static_cast<uint8_t>(huge[20]), 0x2F);
    huge[21] = static_cast<char>(0xFF);
    huge[22] = static_cast<char>(0xFF);
    huge[23] = static_cast<char>(0xFF);
    huge[24] = static_cast<char>((huge[24] & 0xF0) | 0x0F);
    const auto start = std::chrono::steady_clock::now();
    const LoadedPicture refused = loadBytes("huge.webp", huge);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(refused.failure, LoadFailure::TooLarge) << refused.error;
    LoadedPicture shown;
    EXPECT_FALSE(ReadShownSize(dir.file("huge.webp"), shown));
    EXPECT_EQ(shown.failure, LoadFailure::TooLarge);
}
