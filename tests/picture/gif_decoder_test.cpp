#include "picture/gif_decoder.h"

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

// Runs ImageMagick's convert quietly; true when it succeeded.
bool convert(const std::string& arguments)
{
    return std::system(("convert " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// Blocks of a few colours, which a GIF's palette holds exactly.
Picture blocks(int32_t width, int32_t height)
{
    return testing_support::patternPicture(width, height, [](int32_t x, int32_t y) {
        static const uint32_t kColours[] = {0x102030, 0xFF0000, 0x00C040, 0x0000FF, 0xFFFFFF, 0x808080};
        return kColours[(x / 7 + y / 5) % 6];
    });
}

std::vector<int> rowOf(const Picture& picture, int32_t y)
{
    return std::vector<int>(picture.row(y), picture.row(y) + picture.stride());
}

} // namespace

TEST(GifDecoder, FramesStreamAndLoadAsTheirPixelsInterlacedOrNot)
{
    TempDir dir;
    const Picture picture = blocks(97, 61);
    writeBytes(dir.file("blocks.png"), encodePng(picture));
    ASSERT_TRUE(convert(dir.file("blocks.png") + " " + dir.file("plain.gif")));
    ASSERT_TRUE(convert(dir.file("blocks.png") + " -interlace GIF " + dir.file("interlaced.GIF")));
    for (const char* name : {"plain.gif", "interlaced.GIF"}) {
        SCOPED_TRACE(name);
        testing_support::expectStreamedAndLoaded(dir.file(name), picture,
                                                 [](const std::string& p) { return loadPicture(p, JpegIdct::Fast); });
        const std::optional<PictureSize> size = ReadPictureSize(dir.file(name));
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, 97);
        EXPECT_EQ(size->height, 61);
    }
}

TEST(GifDecoder, FirstFrameOnItsScreenWithTransparencyOverWhite)
{
    TempDir dir;
    // A 4 x 3 red frame at (2, 1) of a 10 x 8 screen: white around it.
    ASSERT_TRUE(convert("-size 4x3 xc:red -set page 10x8+2+1 " + dir.file("frame.gif")));
    const LoadedPicture framed = loadPicture(dir.file("frame.gif"), JpegIdct::Fast);
    ASSERT_TRUE(framed.ok()) << framed.error;
    ASSERT_EQ(framed.picture.width(), 10);
    ASSERT_EQ(framed.picture.height(), 8);
    std::vector<int> white(30, 255);
    std::vector<int> crossing = white;
    for (int x = 2; x < 6; ++x) {
        crossing[3 * x] = 0;
        crossing[3 * x + 1] = 0;
    }
    EXPECT_EQ(rowOf(framed.picture, 0), white);
    EXPECT_EQ(rowOf(framed.picture, 1), crossing);
    EXPECT_EQ(rowOf(framed.picture, 3), crossing);
    EXPECT_EQ(rowOf(framed.picture, 4), white);

    // An animation: its first frame.
    ASSERT_TRUE(convert("-size 2x1 xc:blue xc:red " + dir.file("anim.gif")));
    const LoadedPicture first = loadPicture(dir.file("anim.gif"), JpegIdct::Fast);
    ASSERT_TRUE(first.ok()) << first.error;
    EXPECT_EQ(rowOf(first.picture, 0), (std::vector<int> {255, 0, 0, 255, 0, 0}));

    // A transparent colour is white.
    testing_support::PngLayout layout;
    layout.width = 2;
    layout.colourType = 6;
    layout.samples = {0, 0, 255, 0, 0, 128, 0, 255};
    writeBytes(dir.file("alpha.png"), encodePng(layout));
    ASSERT_TRUE(convert(dir.file("alpha.png") + " " + dir.file("alpha.gif")));
    const LoadedPicture transparent = loadPicture(dir.file("alpha.gif"), JpegIdct::Fast);
    ASSERT_TRUE(transparent.ok()) << transparent.error;
    EXPECT_EQ(rowOf(transparent.picture, 0), (std::vector<int> {255, 255, 255, 0, 128, 0}));
}

TEST(GifDecoder, BrokenFilesAndHugeScreensFailAtOnce)
{
    TempDir dir;
    writeBytes(dir.file("blocks.png"), encodePng(blocks(64, 64)));
    ASSERT_TRUE(convert(dir.file("blocks.png") + " " + dir.file("good.gif")));
    const std::string good = testing_support::readFileText(dir.file("good.gif"));
    const auto loadBytes = [&dir](const std::string& name, const std::string& bytes) {
        writeBytes(dir.file(name), bytes);
        return loadPicture(dir.file(name), JpegIdct::Fast);
    };
    EXPECT_EQ(loadBytes("t.gif", good.substr(0, good.size() - 40)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("h.gif", good.substr(0, 12)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("e.gif", "").failure, LoadFailure::Empty);
    EXPECT_EQ(loadBytes("gif.png", good).failure, LoadFailure::Damaged);

    // A 65535 x 65535 screen: beyond 400 million pixels.
    std::string huge = good;
    huge.replace(6, 4, "\xFF\xFF\xFF\xFF");
    // A 20000 x 20000 screen around a 64 x 64 frame: mostly missing.
    std::string empty = good;
    empty.replace(6, 4, "\x20\x4E\x20\x4E");
    for (const std::string& bytes : {huge, empty}) {
        const auto start = std::chrono::steady_clock::now();
        const LoadedPicture refused = loadBytes("huge.gif", bytes);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(refused.failure, LoadFailure::TooLarge) << refused.error;
    }
    LoadedPicture shown;
    writeBytes(dir.file("huge.gif"), huge);
    EXPECT_FALSE(ReadShownSize(dir.file("huge.gif"), shown));
    EXPECT_EQ(shown.failure, LoadFailure::TooLarge);
}
