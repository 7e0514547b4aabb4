#include "picture/heif_decoder.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "picture/picture_size.h"
#include "support/recording_sink.h"
#include "support/test_pictures.h"
#include "support/test_png.h"

using testing_support::encodePng;
using testing_support::TempDir;
using testing_support::writeBytes;

namespace {

// Runs a command quietly; true when it succeeded.
bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The picture a PNG holds, through the PNG reader.
Picture pngPicture(const std::string& path)
{
    LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    EXPECT_TRUE(loaded.ok()) << path << ": " << loaded.error;
    return std::move(loaded.picture);
}

} // namespace

TEST(HeifDecoder, HeicAndAvifAreWhatLibheifsOwnToolDecodes)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(131, 97, 9);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    ASSERT_TRUE(run("heif-enc -q 80 " + dir.file("photo.png") + " -o " + dir.file("photo.heic")));
    ASSERT_TRUE(run("avifenc -s 10 " + dir.file("photo.png") + " " + dir.file("photo.AVIF")));
    for (const char* name : {"photo.heic", "photo.AVIF"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(run("heif-convert " + dir.file(name) + " " + dir.file("reference.png")));
        const Picture reference = pngPicture(dir.file("reference.png"));
        testing_support::expectStreamedAndLoaded(dir.file(name), reference,
                                                 [](const std::string& p) { return loadPicture(p, JpegIdct::Fast); });
        const std::optional<PictureSize> size = ReadPictureSize(dir.file(name));
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, 131);
        EXPECT_EQ(size->height, 97);
    }
}

TEST(HeifDecoder, AlphaLiesOverWhite)
{
    TempDir dir;
    testing_support::PngLayout layout;
    layout.width = 32;
    layout.height = 16;
    layout.colourType = 6;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool clear = x < 16;
            layout.samples.insert(layout.samples.end(), {uint16_t(clear ? 255 : 0), 0, uint16_t(clear ? 0 : 255),
                                                     uint16_t(clear ? 0 : 255)});
        }
    }
    writeBytes(dir.file("alpha.png"), encodePng(layout));
    ASSERT_TRUE(run("avifenc -s 10 --lossless " + dir.file("alpha.png") + " " + dir.file("alpha.avif")));
    const LoadedPicture loaded = loadPicture(dir.file("alpha.avif"), JpegIdct::Fast);
    ASSERT_TRUE(loaded.ok()) << loaded.error;
    const uint8_t* row = loaded.picture.row(8);
    // The clear red half is white; the opaque blue half blue.
    EXPECT_EQ(std::vector<int>(row + 3 * 4, row + 3 * 5), (std::vector<int> {255, 255, 255}));
    EXPECT_EQ(std::vector<int>(row + 3 * 28, row + 3 * 29), (std::vector<int> {255, 0, 0}));
}

TEST(HeifDecoder, BrokenFilesAndHugeClaimsFailAtOnce)
{
    TempDir dir;
    writeBytes(dir.file("photo.png"), encodePng(testing_support::photoLikePicture(64, 64, 3)));
    ASSERT_TRUE(run("heif-enc -q 50 " + dir.file("photo.png") + " -o " + dir.file("good.heic")));
    const std::string good = testing_support::readFileText(dir.file("good.heic"));
    const auto loadBytes = [&dir](const std::string& name, const std::string& bytes) {
        writeBytes(dir.file(name), bytes);
        return loadPicture(dir.file(name), JpegIdct::Fast);
    };
    EXPECT_EQ(loadBytes("t.heic", good.substr(0, good.size() - 100)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("h.heic", good.substr(0, 24)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("e.avif", "").failure, LoadFailure::Empty);
    EXPECT_EQ(loadBytes("heic.png", good).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("png.heic", encodePng(testing_support::photoLikePicture(8, 8, 1))).failure,
              LoadFailure::Damaged);

    // The picture's ispe box claiming 30000 x 30000 pixels.
    std::string huge = good;
    const std::size_t ispe = huge.find("ispe");
    ASSERT_NE(ispe, std::string::npos);
    huge.replace(ispe + 8, 8, std::string("\0\0\x75\x30\0\0\x75\x30", 8));
    const auto start = std::chrono::steady_clock::now();
    const LoadedPicture refused = loadBytes("huge.heic", huge);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(refused.failure, LoadFailure::TooLarge) << refused.error;
}

TEST(HeifDecoder, SidesComeFromTheBoxesWithoutTheCodedData)
{
    TempDir dir;
    writeBytes(dir.file("photo.png"), encodePng(testing_support::photoLikePicture(320, 200, 4)));
    ASSERT_TRUE(run("heif-enc -q 90 " + dir.file("photo.png") + " -o " + dir.file("photo.heic")));
    const std::string bytes = testing_support::readFileText(dir.file("photo.heic"));
    const std::size_t mdat = bytes.find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    // heif-enc writes the coded data last, after the boxes that describe it.
    ASSERT_GT(bytes.size() - mdat, 1000u);
    PictureFile file;
    ASSERT_TRUE(file.open(dir.file("photo.heic")));
    int32_t width = 0;
    int32_t height = 0;
    int64_t bytesRead = 0;
    ASSERT_TRUE(readHeifSides(file, &width, &height, &bytesRead));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 200);
    // The boxes before the coded data, and the boxes' headers once more.
    EXPECT_GT(bytesRead, static_cast<int64_t>(mdat));
    EXPECT_LT(bytesRead, static_cast<int64_t>(mdat) + 64);

    // The boxes alone, the coded data cut off: the size is still read (as
    // a truncated JPEG's is), though the picture no longer decodes.
    writeBytes(dir.file("cut.heic"), bytes.substr(0, mdat + 100));
    const std::optional<PictureSize> size = ReadPictureSize(dir.file("cut.heic"));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 320);
    EXPECT_EQ(size->height, 200);
    EXPECT_EQ(loadPicture(dir.file("cut.heic"), JpegIdct::Fast).failure, LoadFailure::Damaged);

    // Cut coded data claiming a terabyte (64-bit box size) is not taken on.
    std::string claim = bytes.substr(0, mdat - 4) + std::string("\0\0\0\1mdat\0\0\x01\0\0\0\0\0", 16) + "data";
    writeBytes(dir.file("claim.heic"), claim);
    PictureFile claimed;
    ASSERT_TRUE(claimed.open(dir.file("claim.heic")));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(readHeifSides(claimed, &width, &height));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}
