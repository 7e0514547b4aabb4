#include "picture/picture_limits.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "picture/picture_loader.h"
#include "picture/picture_size.h"
#include "picture/picture_stream.h"
#include "picture/scaled_jpeg.h"
#include "support/byte_text.h"
#include "support/recording_sink.h"
#include "support/test_pictures.h"

namespace fs = std::filesystem;
using testing_support::le16;
using testing_support::le32;
using testing_support::TempDir;

namespace {

// An uncompressed 24-bit bitmap of width x height whose file holds only
// `rows` rows of pixels.
std::string truncatedBitmap(int width, int height, int rows)
{
    const int64_t stride = (int64_t{width} * 3 + 3) / 4 * 4;
    std::string bytes = "BM" + le32(54 + stride * height) + le32(0) + le32(54);
    bytes += le32(40) + le32(width) + le32(height) + le16(1) + le16(24) + le32(0);
    bytes += le32(0) + le32(2835) + le32(2835) + le32(0) + le32(0);
    return bytes + std::string(static_cast<std::size_t>(stride * rows), '\x40');
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A JPEG written by libjpeg whose frame header then claims another size.
std::string jpegClaiming(const TempDir& dir, int width, int height)
{
    const std::string path = dir.file("source.jpg");
    testing_support::writeJpeg(path, testing_support::photoLikePicture(16, 16, 1), 75);
    std::string bytes = readBytes(path);
    const auto frame = bytes.find("\xFF\xC0");
    bytes[frame + 5] = static_cast<char>(height >> 8);
    bytes[frame + 6] = static_cast<char>(height);
    bytes[frame + 7] = static_cast<char>(width >> 8);
    bytes[frame + 8] = static_cast<char>(width);
    return bytes;
}

// What every reader of the file says: the streamer, the whole-picture
// loader, the shown-size reader and, for a JPEG, the review's scaled and
// partial decodes. Each must refuse, so the texts are the refusals.
std::vector<std::string> refusalsOf(const std::string& path)
{
    std::vector<std::string> texts;
    const auto add = [&texts, &path](LoadFailure failure, const std::string& error, const char* reader) {
        EXPECT_EQ(failure, LoadFailure::TooLarge) << reader << " " << path << ": " << error;
        texts.push_back(error);
    };
    PictureStreamer streamer;
    testing_support::RecordingSink sink;
    const StreamResult streamed = streamer.stream(path, sink, StreamOptions {});
    EXPECT_EQ(sink.begins, 0) << path;
    add(streamed.failure, streamed.error, "streamer");
    const LoadedPicture whole = loadPicture(path, JpegIdct::Accurate);
    add(whole.failure, whole.error, "loader");
    LoadedPicture shown;
    EXPECT_FALSE(ReadShownSize(path, shown)) << path;
    add(shown.failure, shown.error, "shown size");
    if (fs::path(path).extension() == ".jpg") {
        const ScaledJpeg scaled = decodeJpegScaled(path, 8);
        add(scaled.loaded.failure, scaled.loaded.error, "scaled");
        const JpegRegion part = decodeJpegRegion(path, 0, 0, 64, 64);
        add(part.loaded.failure, part.loaded.error, "region");
    }
    return texts;
}

} // namespace

TEST(PictureLimitsTest, RefusalsNameTheFirstLimitPassed)
{
    // The declared size first: exactly 400 million pixels pass it.
    EXPECT_EQ(pictureLimitRefusal({20000, 20000}), "");
    EXPECT_EQ(pictureLimitRefusal({20000, 20001}), "picture too large (20000 x 20001 pixels, more than 400 million)");
    EXPECT_EQ(pictureLimitRefusal({62, 2046820399, 0, 100}),
              "picture too large (62 x 2046820399 pixels, more than 400 million)");
    // Then the pixels the file cannot hold: more than 16 Mi of them, and
    // more than the file does hold.
    EXPECT_EQ(pictureLimitRefusal({4096, 4097, 0, 4096}), "");
    EXPECT_EQ(pictureLimitRefusal({4096, 4098, 0, 4096}),
              "picture too large for its file (4096 x 4098 pixels, most of them missing)");
    EXPECT_EQ(pictureLimitRefusal({8192, 4096, 0, 8192 * 2048}), "");         // half of it held
    EXPECT_EQ(pictureLimitRefusal({8192, 4096, 0, 8192 * 2048 - 1}), "picture too large for its file (8192 x 4096 "
                                                                             "pixels, most of them missing)");
    EXPECT_EQ(pictureLimitRefusal({20000, 20000, 0, PictureClaim::kUnbounded}), "");
    // Then memory: 512 MB may be held, not a byte more.
    EXPECT_EQ(pictureLimitRefusal({8192, 8192, kPictureMemoryBudget}), "");
    EXPECT_EQ(pictureLimitRefusal({8192, 8192, kPictureMemoryBudget + 1}),
              "picture too large (8192 x 8192 pixels need 513 MB, more than 512)");
    // Sides of 0 are the decoders' to refuse.
    EXPECT_EQ(pictureLimitRefusal({0, 2046820399, kPictureMemoryBudget + 1, 0}), "");
}

TEST(PictureLimitsTest, JpegBytesPayForOneBitABlock)
{
    // 20,000 x 19,999 in 4:2:0: 2,500 x 2,500 luma blocks and two chroma
    // planes of 1,250 x 1,250, 9,375,000 blocks, which take at least
    // 1,171,875 bytes.
    const int64_t blocks = 2500 * 2500 + 2 * 1250 * 1250;
    EXPECT_EQ(jpegCarriedPixels(20000, 19999, blocks, 1171876), int64_t{20000} * 19999);
    EXPECT_EQ(jpegCarriedPixels(20000, 19999, blocks, 633), 216053);
    EXPECT_EQ(jpegCarriedPixels(20000, 19999, blocks, 0), 0);
}

TEST(PictureLimitsTest, TruncatedBitmapLoadsUpToTheAllowanceAndIsRefusedPastIt)
{
    TempDir dir;
    // One row of 4,096 held: 4,096 more rows missing are exactly the allowance.
    testing_support::writeBytes(dir.file("within.bmp"), truncatedBitmap(4096, 4097, 1));
    const LoadedPicture within = loadPicture(dir.file("within.bmp"), JpegIdct::Fast);
    ASSERT_TRUE(within.ok()) << within.error;
    EXPECT_EQ(within.picture.height(), 4097);
    // The held row is the bottom one; the missing rows above it are black.
    EXPECT_EQ(within.picture.row(4096)[0], 0x40);
    EXPECT_EQ(within.picture.row(0)[0], 0);

    testing_support::writeBytes(dir.file("beyond.bmp"), truncatedBitmap(4096, 4098, 1));
    for (const std::string& text : refusalsOf(dir.file("beyond.bmp")))
        EXPECT_EQ(text, "picture too large for its file (4096 x 4098 pixels, most of them missing)");
}

TEST(PictureLimitsTest, EveryReaderRefusesAClaimingJpegTheSameWay)
{
    TempDir dir;
    testing_support::writeBytes(dir.file("claims.jpg"), jpegClaiming(dir, 20000, 19999));
    for (const std::string& text : refusalsOf(dir.file("claims.jpg")))
        EXPECT_EQ(text, "picture too large for its file (20000 x 19999 pixels, most of them missing)");
    testing_support::writeBytes(dir.file("huge.jpg"), jpegClaiming(dir, 20001, 20000));
    for (const std::string& text : refusalsOf(dir.file("huge.jpg")))
        EXPECT_EQ(text, "picture too large (20001 x 20000 pixels, more than 400 million)");
}

TEST(PictureLimitsTest, EveryReaderRefusesTheHostileClaimingFilesTheSameWay)
{
    const std::string folder = std::string(ZELVIC_SOURCE_DIR) + "/tests/hostile/files/claiming_more";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::vector<std::string> texts = refusalsOf(entry.path().string());
        ASSERT_FALSE(texts.empty());
        for (const std::string& text : texts)
            EXPECT_EQ(text, texts.front()) << entry.path();
        ++checked;
    }
    EXPECT_EQ(checked, 7);
}

TEST(PictureLimitsTest, EveryJpegReaderStopsAtTheSameScanCount)
{
    // A sound 8 x 8 progressive picture followed by 200 scans of no data.
    std::string jpeg = readBytes(std::string(ZELVIC_SOURCE_DIR) + "/tests/hostile/files/progressive_grey_8.jpg");
    ASSERT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
    const std::string emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00", 10);
    std::string scans;
    for (int i = 0; i < 200; ++i)
        scans += emptyScan;
    jpeg.insert(jpeg.size() - 2, scans);
    TempDir dir;
    const std::string path = dir.file("scans.jpg");
    testing_support::writeBytes(path, jpeg);

    const std::string expected = "too many scans (more than 100)";
    const LoadedPicture whole = loadPicture(path, JpegIdct::Fast);
    EXPECT_EQ(whole.error, expected);
    EXPECT_EQ(whole.failure, LoadFailure::Damaged);
    const ScaledJpeg scaled = decodeJpegScaled(path, 2);
    EXPECT_EQ(scaled.loaded.error, expected);
    EXPECT_EQ(scaled.loaded.failure, LoadFailure::Damaged);
    const JpegRegion part = decodeJpegRegion(path, 0, 0, 4, 4);
    EXPECT_EQ(part.loaded.error, expected);
}
