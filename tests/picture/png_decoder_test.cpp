#include "picture/png_decoder.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "picture/picture_size.h"
#include "support/recording_sink.h"
#include "support/test_png.h"
#include "support/test_pictures.h"

using testing_support::encodePng;
using testing_support::PngLayout;
using testing_support::TempDir;
using testing_support::writeBytes;

namespace {

// The B, G, R bytes of the only row of a picture loaded from `png`.
std::vector<int> loadedRow(const TempDir& dir, const std::string& png)
{
    const std::string path = dir.file("row.png");
    writeBytes(path, png);
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    EXPECT_TRUE(loaded.ok()) << loaded.error;
    if (!loaded.ok())
        return {};
    return std::vector<int>(loaded.picture.row(0), loaded.picture.row(0) + loaded.picture.stride());
}

PngLayout oneRow(int colourType, int bitDepth, std::vector<uint16_t> samples, int width)
{
    PngLayout layout;
    layout.width = width;
    layout.colourType = colourType;
    layout.bitDepth = bitDepth;
    layout.samples = std::move(samples);
    return layout;
}

// A PNG whose IHDR claims other sides, with its CRC made right.
std::string withSides(std::string png, uint32_t width, uint32_t height)
{
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return png;
}

} // namespace

TEST(PngDecoder, ColourPicturesStreamAndLoadAsTheirPixelsInterlacedOrNot)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(301, 257, 5);
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "plain");
        const std::string path = dir.file(interlaced ? "i.PNG" : "p.png");
        writeBytes(path, encodePng(photo, interlaced));
        testing_support::expectStreamedAndLoaded(path, photo,
                                                 [](const std::string& p) { return loadPicture(p, JpegIdct::Fast); });
        const std::optional<PictureSize> size = ReadPictureSize(path);
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, 301);
        EXPECT_EQ(size->height, 257);
    }
}

TEST(PngDecoder, SamplesBecomeEightBitBgrAsAPersonExpects)
{
    TempDir dir;
    // 16-bit samples are rounded: 0x12FF is 18.92 in 8 bits, so 19 (cutting gives 18).
    EXPECT_EQ(loadedRow(dir, encodePng(oneRow(2, 16, {0x12FF, 0x1280, 0xFFFF, 0x0000, 0x0080, 0x0081}, 2))),
              (std::vector<int> {255, 18, 19, 1, 0, 0}));
    // Grey: 8-bit as it is, 2-bit spread over 0..255.
    EXPECT_EQ(loadedRow(dir, encodePng(oneRow(0, 8, {7, 200}, 2))), (std::vector<int> {7, 7, 7, 200, 200, 200}));
    EXPECT_EQ(loadedRow(dir, encodePng(oneRow(0, 2, {0, 1, 2, 3}, 4))),
              (std::vector<int> {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));
    // Alpha lies over white: 0 is white, 255 the colour, 128 about half way.
    EXPECT_EQ(loadedRow(dir, encodePng(oneRow(6, 8, {200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255}, 3))),
              (std::vector<int> {127, 177, 227, 255, 255, 255, 30, 20, 10}));
    // Grey with alpha, 16 bits: rounded to 8 bits first, then over white.
    EXPECT_EQ(loadedRow(dir, encodePng(oneRow(4, 16, {0x0000, 0x8000}, 1))), (std::vector<int> {127, 127, 127}));
    // A palette, 4 bits, with a tRNS entry: the second colour half transparent.
    PngLayout palette = oneRow(3, 4, {0, 1, 2}, 3);
    palette.palette = {255, 0, 0, 0, 0, 255, 0, 64, 0};
    palette.paletteAlpha = {255, 0x80};
    EXPECT_EQ(loadedRow(dir, encodePng(palette)), (std::vector<int> {0, 0, 255, 255, 127, 127, 0, 64, 0}));
}

TEST(PngDecoder, BrokenFilesFailWithTheirReason)
{
    TempDir dir;
    const std::string png = encodePng(testing_support::photoLikePicture(64, 64, 2));
    const auto failureOf = [&dir](const std::string& name, const std::string& bytes) {
        const std::string path = dir.file(name);
        writeBytes(path, bytes);
        return loadPicture(path, JpegIdct::Fast);
    };
    const LoadedPicture truncated = failureOf("t.png", png.substr(0, png.size() / 2));
    EXPECT_EQ(truncated.failure, LoadFailure::Damaged);
    EXPECT_EQ(truncated.error, "file ends early");
    // Only the IEND chunk missing: every pixel is there.
    EXPECT_TRUE(failureOf("noend.png", png.substr(0, png.size() - 12)).ok());
    EXPECT_EQ(failureOf("empty.png", "").failure, LoadFailure::Empty);
    // The extension names the decoder: a JPEG named .png, a PNG named .bmp.
    EXPECT_EQ(failureOf("jpeg.png", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'x')).failure,
              LoadFailure::Damaged);
    EXPECT_EQ(failureOf("png.bmp", png).failure, LoadFailure::Damaged);
    std::string badCrc = png;
    badCrc[40] = static_cast<char>(badCrc[40] ^ 0x55);
    EXPECT_EQ(failureOf("crc.png", badCrc).failure, LoadFailure::Damaged);
}

TEST(PngDecoder, HugeClaimsAreRefusedFromTheHeaderAtOnce)
{
    TempDir dir;
    const std::string small = encodePng(testing_support::photoLikePicture(8, 8, 1));
    struct Claim {
        uint32_t width;
        uint32_t height;
        LoadFailure failure;
    };
    // Beyond 400 million pixels; 200 million pixels whose one row needs
    // 1.2 GB; a header of 4 x 10^8 pixels that is all the file has.
    for (const Claim claim : {Claim {20001, 20000, LoadFailure::TooLarge}, Claim {200000000, 1, LoadFailure::TooLarge},
                              Claim {20000, 20000, LoadFailure::Damaged}}) {
        const std::string path = dir.file("huge.png");
        writeBytes(path, withSides(small, claim.width, claim.height));
        const auto start = std::chrono::steady_clock::now();
        const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(loaded.failure, claim.failure) << loaded.error;
        EXPECT_LT(took, std::chrono::seconds(1));
        if (claim.failure == LoadFailure::TooLarge) {
            LoadedPicture shown;
            EXPECT_FALSE(ReadShownSize(path, shown));
            EXPECT_EQ(shown.failure, LoadFailure::TooLarge) << shown.error;
        }
    }
}
