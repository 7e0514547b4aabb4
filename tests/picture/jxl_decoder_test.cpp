#include "picture/jxl_decoder.h"

#include <chrono>
#include <cstdlib>
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

bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

const auto kLoad = [](const std::string& path) { return loadPicture(path, JpegIdct::Fast); };

// A JPEG XL codestream whose size header claims `width` x `height` (30-bit
// sides, LSB first), default metadata, and zeros after.
std::string jxlClaiming(uint32_t width, uint32_t height)
{
    std::vector<int> bits;
    const auto put = [&bits](uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bits.push_back(static_cast<int>((value >> i) & 1));
    };
    put(0, 1);                         // not a small size
    put(3, 2), put(height - 1, 30);    // height, in 30 bits
    put(0, 3);                         // no ratio: a width follows
    put(3, 2), put(width - 1, 30);     // width
    put(1, 1);                         // all metadata default
    std::string out = "\xFF\x0A";
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        int byte = 0;
        for (std::size_t j = 0; j < 8 && i + j < bits.size(); ++j)
            byte |= bits[i + j] << j;
        out += static_cast<char>(byte);
    }
    return out + std::string(64, '\0');
}

} // namespace

TEST(JxlDecoder, LosslessIsThePixelsAndLossyIsWhatDjxlDecodes)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(139, 101, 12);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    ASSERT_TRUE(run("cjxl -d 0 " + dir.file("photo.png") + " " + dir.file("lossless.jxl")));
    testing_support::expectStreamedAndLoaded(dir.file("lossless.jxl"), photo, kLoad);

    ASSERT_TRUE(run("cjxl -q 90 " + dir.file("photo.png") + " " + dir.file("lossy.JXL")));
    ASSERT_TRUE(run("djxl " + dir.file("lossy.JXL") + " " + dir.file("reference.png")));
    LoadedPicture reference = loadPicture(dir.file("reference.png"), JpegIdct::Fast);
    ASSERT_TRUE(reference.ok()) << reference.error;
    testing_support::expectStreamedAndLoaded(dir.file("lossy.JXL"), reference.picture, kLoad);

    const std::optional<PictureSize> size = ReadPictureSize(dir.file("lossy.JXL"));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 139);
    EXPECT_EQ(size->height, 101);
}

TEST(JxlDecoder, GreyAndAlphaBecomeBgr)
{
    TempDir dir;
    testing_support::PngLayout grey;
    grey.width = 2;
    grey.colourType = 0;
    grey.samples = {7, 200};
    writeBytes(dir.file("grey.png"), encodePng(grey));
    ASSERT_TRUE(run("cjxl -d 0 " + dir.file("grey.png") + " " + dir.file("grey.jxl")));
    const LoadedPicture greyLoaded = loadPicture(dir.file("grey.jxl"), JpegIdct::Fast);
    ASSERT_TRUE(greyLoaded.ok()) << greyLoaded.error;
    EXPECT_EQ(std::vector<int>(greyLoaded.picture.row(0), greyLoaded.picture.row(0) + 6),
              (std::vector<int> {7, 7, 7, 200, 200, 200}));

    testing_support::PngLayout alpha;
    alpha.width = 3;
    alpha.colourType = 6;
    alpha.samples = {200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255};
    writeBytes(dir.file("alpha.png"), encodePng(alpha));
    ASSERT_TRUE(run("cjxl -d 0 " + dir.file("alpha.png") + " " + dir.file("alpha.jxl")));
    const LoadedPicture alphaLoaded = loadPicture(dir.file("alpha.jxl"), JpegIdct::Fast);
    ASSERT_TRUE(alphaLoaded.ok()) << alphaLoaded.error;
    EXPECT_EQ(std::vector<int>(alphaLoaded.picture.row(0), alphaLoaded.picture.row(0) + 9),
              (std::vector<int> {127, 177, 227, 255, 255, 255, 30, 20, 10}));
}

TEST(JxlDecoder, BrokenFilesAndHugeClaimsFailAtOnce)
{
    TempDir dir;
    writeBytes(dir.file("photo.png"), encodePng(testing_support::photoLikePicture(64, 64, 3)));
    ASSERT_TRUE(run("cjxl -d 0 " + dir.file("photo.png") + " " + dir.file("good.jxl")));
    const std::string good = testing_support::readFileText(dir.file("good.jxl"));
    const auto loadBytes = [&dir](const std::string& name, const std::string& bytes) {
        writeBytes(dir.file(name), bytes);
        return loadPicture(dir.file(name), JpegIdct::Fast);
    };
    EXPECT_EQ(loadBytes("t.jxl", good.substr(0, good.size() / 2)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("e.jxl", "").failure, LoadFailure::Empty);
    EXPECT_EQ(loadBytes("jxl.png", good).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("png.jxl", encodePng(testing_support::photoLikePicture(8, 8, 1))).failure,
              LoadFailure::Damaged);

    const auto start = std::chrono::steady_clock::now();
    const LoadedPicture refused = loadBytes("huge.jxl", jxlClaiming(30000, 30000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(refused.failure, LoadFailure::TooLarge) << refused.error;
    LoadedPicture shown;
    EXPECT_FALSE(ReadShownSize(dir.file("huge.jxl"), shown));
    EXPECT_EQ(shown.failure, LoadFailure::TooLarge);
}

TEST(JxlDecoder, ContainerSizeIsFoundPastLargeBoxes)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(139, 101, 5);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    ASSERT_TRUE(run("cjxl -d 0 " + dir.file("photo.png") + " " + dir.file("bare.jxl")));
    const std::string codestream = testing_support::readFileText(dir.file("bare.jxl"));
    ASSERT_EQ(codestream.substr(0, 2), "\xFF\x0A");
    const auto box = [](const std::string& type, const std::string& contents) {
        const uint32_t size = static_cast<uint32_t>(contents.size() + 8);
        return std::string {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                            static_cast<char>(size)}
               + type + contents;
    };
    const std::string start = box("JXL ", "\x0D\x0A\x87\x0A") + box("ftyp", std::string("jxl \0\0\0\0jxl ", 12));
    // A 1 MB XMP box before the codestream, whole or in two parts (the second
    // index's high bit marks it last).
    const std::string xmp = box("xml ", std::string(1 << 20, ' '));
    const std::pair<const char*, std::string> files[] = {
        {"whole.jxl", start + xmp + box("jxlc", codestream)},
        {"parts.jxl", start + xmp + box("jxlp", std::string("\0\0\0\0", 4) + codestream.substr(0, 40))
                          + box("Exif", std::string(5000, '\0'))
                          + box("jxlp", std::string("\x80\0\0\1", 4) + codestream.substr(40))},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        writeBytes(dir.file(name), bytes);
        const std::optional<PictureSize> size = ReadPictureSize(dir.file(name));
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, 139);
        EXPECT_EQ(size->height, 101);
        testing_support::expectStreamedAndLoaded(dir.file(name), photo, kLoad);
    }
    // A container with no codestream in its first boxes has no size.
    writeBytes(dir.file("none.jxl"), start + xmp);
    const std::optional<PictureSize> none = ReadPictureSize(dir.file("none.jxl"));
    EXPECT_TRUE(!none || (none->width == 0 && none->height == 0));
}
