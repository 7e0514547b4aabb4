#include "picture/tiff_decoder.h"

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

const auto kLoad = [](const std::string& path) { return loadPicture(path, JpegIdct::Fast); };

// The largest difference of any byte of two pictures of one size.
int largestDifference(const Picture& a, const Picture& b)
{
    int largest = 0;
    for (std::size_t i = 0; i < a.byteCount(); ++i)
        largest = std::max(largest, std::abs(a.data()[i] - b.data()[i]));
    return largest;
}

} // namespace

TEST(TiffDecoder, LayoutsStreamAndLoadAsTheirPixels)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(173, 141, 6);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    // Plain strips, LZW, tiles, 16-bit samples (v * 257 comes back as v),
    // and the picture stored flipped, mirrored or turned (in strips of 7
    // rows, across the bands) with its Orientation saying so.
    const std::pair<const char*, std::string> kinds[] = {
        {"plain.tif", ""},
        {"lzw.TIFF", "-compress lzw"},
        {"tiled.tif", "-define tiff:tile-geometry=64x64"},
        {"deep.tif", "-depth 16"},
        {"flipped.tif", "-flip -orient bottom-left"},
        {"mirrored.tif", "-flop -orient top-right"},
        {"turned.tif", "-rotate 180 -orient bottom-right -define tiff:rows-per-strip=7"},
    };
    for (const auto& [name, options] : kinds) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(convert(dir.file("photo.png") + " " + options + " " + dir.file(name)));
        testing_support::expectStreamedAndLoaded(dir.file(name), photo, kLoad);
        const std::optional<PictureSize> size = ReadPictureSize(dir.file(name));
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, 173);
        EXPECT_EQ(size->height, 141);
    }
}

TEST(TiffDecoder, GreyPaletteCmykAndAlphaBecomeBgr)
{
    TempDir dir;
    const Picture grey = testing_support::patternPicture(40, 30, [](int32_t x, int32_t y) {
        const uint32_t v = static_cast<uint32_t>((x * 5 + y * 3) % 256);
        return v * 0x010101u;
    });
    writeBytes(dir.file("grey.png"), encodePng(grey));
    ASSERT_TRUE(convert(dir.file("grey.png") + " -colorspace Gray -type Grayscale " + dir.file("grey.tif")));
    testing_support::expectStreamedAndLoaded(dir.file("grey.tif"), grey, kLoad);

    const Picture few = testing_support::patternPicture(40, 30, [](int32_t x, int32_t y) {
        static const uint32_t kColours[] = {0x102030, 0xFF0000, 0x00C040, 0x0000FF};
        return kColours[(x / 7 + y / 5) % 4];
    });
    writeBytes(dir.file("few.png"), encodePng(few));
    ASSERT_TRUE(convert(dir.file("few.png") + " -type Palette " + dir.file("palette.tif")));
    testing_support::expectStreamedAndLoaded(dir.file("palette.tif"), few, kLoad);

    // CMYK: libtiff's conversion of ImageMagick's separation comes back
    // within a few levels of the colours.
    const Picture photo = testing_support::photoLikePicture(40, 30, 8);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    ASSERT_TRUE(convert(dir.file("photo.png") + " -colorspace CMYK " + dir.file("cmyk.tif")));
    const LoadedPicture cmyk = loadPicture(dir.file("cmyk.tif"), JpegIdct::Fast);
    ASSERT_TRUE(cmyk.ok()) << cmyk.error;
    EXPECT_LE(largestDifference(cmyk.picture, photo), 2);

    testing_support::PngLayout layout;
    layout.width = 3;
    layout.colourType = 6;
    layout.samples = {200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255};
    writeBytes(dir.file("alpha.png"), encodePng(layout));
    ASSERT_TRUE(convert(dir.file("alpha.png") + " " + dir.file("alpha.tif")));
    const LoadedPicture alpha = loadPicture(dir.file("alpha.tif"), JpegIdct::Fast);
    ASSERT_TRUE(alpha.ok()) << alpha.error;
    const uint8_t* row = alpha.picture.row(0);
    EXPECT_EQ(std::vector<int>(row, row + 9), (std::vector<int> {127, 177, 227, 255, 255, 255, 30, 20, 10}));
}

TEST(TiffDecoder, BrokenFilesAndHugeClaimsFailAtOnce)
{
    TempDir dir;
    writeBytes(dir.file("photo.png"), encodePng(testing_support::photoLikePicture(64, 64, 3)));
    ASSERT_TRUE(convert(dir.file("photo.png") + " " + dir.file("good.tif")));
    const std::string good = testing_support::readFileText(dir.file("good.tif"));
    const auto loadBytes = [&dir](const std::string& name, const std::string& bytes) {
        writeBytes(dir.file(name), bytes);
        return loadPicture(dir.file(name), JpegIdct::Fast);
    };
    EXPECT_EQ(loadBytes("t.tif", good.substr(0, 16)).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("e.tif", "").failure, LoadFailure::Empty);
    EXPECT_EQ(loadBytes("tif.png", good).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadBytes("png.tif", encodePng(testing_support::photoLikePicture(8, 8, 1))).failure,
              LoadFailure::Damaged);

    // A little-endian TIFF of one directory claiming 30000 x 30000 RGB
    // pixels in one strip of the few bytes after it.
    std::string huge("II*\0\x08\0\0\0", 8);
    const auto le16 = [](uint32_t v) { return std::string {static_cast<char>(v), static_cast<char>(v >> 8)}; };
    const auto le32 = [&le16](uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); };
    const auto entry = [&](uint32_t tag, uint32_t type, uint32_t value) {
        return le16(tag) + le16(type) + le32(1) + (type == 3 ? le16(value) + le16(0) : le32(value));
    };
    huge += le16(8) + entry(256, 4, 30000) + entry(257, 4, 30000) + entry(258, 3, 8) + entry(262, 3, 2)
            + entry(273, 4, 200) + entry(277, 3, 3) + entry(278, 4, 30000) + entry(279, 4, 64) + le32(0);
    huge += std::string(300 - huge.size(), '\x7F');
    const auto start = std::chrono::steady_clock::now();
    const LoadedPicture refused = loadBytes("huge.tif", huge);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(refused.failure, LoadFailure::TooLarge) << refused.error;
    LoadedPicture shown;
    EXPECT_FALSE(ReadShownSize(dir.file("huge.tif"), shown));
    EXPECT_EQ(shown.failure, LoadFailure::TooLarge);
}

namespace {

// A sink for the first rows only that spares the rest of the file.
class FirstRowsSink : public testing_support::RecordingSink {
public:
    explicit FirstRowsSink(bool whole)
        : RecordingSink([](int32_t y, int32_t) { return y < 5; }), m_whole(whole)
    {
    }
    bool needsWholeFile() const override { return m_whole; }

private:
    bool m_whole;
};

} // namespace

TEST(TiffDecoder, StripsNoWantedRowLiesInAreReadOnlyWhenTheWholeFileIsNeeded)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(48, 40, 2);
    writeBytes(dir.file("photo.png"), encodePng(photo));
    ASSERT_TRUE(convert(dir.file("photo.png") + " -compress lzw -define tiff:rows-per-strip=8 " + dir.file("good.tif")));
    // The last strip's offset moved past the file's end: that strip cannot be read.
    std::string bytes = testing_support::readFileText(dir.file("good.tif"));
    ASSERT_EQ(bytes.substr(0, 2), "II");
    const auto le = [&bytes](std::size_t at, int count) {
        uint32_t value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
        return value;
    };
    const uint32_t ifd = le(4, 4);
    bool moved = false;
    for (uint32_t i = 0; i < le(ifd, 2); ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (le(entry, 2) == 273 && le(entry + 2, 2) == 4 && le(entry + 4, 4) == 5) {
            const std::size_t last = le(entry + 8, 4) + 4 * 4;
            bytes.replace(last, 4, std::string("\xF0\xFF\xFF\x7F", 4));
            moved = true;
        }
    }
    ASSERT_TRUE(moved);
    writeBytes(dir.file("cut.tif"), bytes);

    PictureStreamer streamer;
    FirstRowsSink spare(false);
    const StreamResult spared = streamer.stream(dir.file("cut.tif"), spare, StreamOptions {});
    ASSERT_TRUE(spared.ok()) << spared.error;
    EXPECT_EQ(spare.ys, (std::vector<int32_t> {0, 1, 2, 3, 4}));
    EXPECT_EQ(spare.rows, spare.expectedRows(photo));

    FirstRowsSink whole(true);
    EXPECT_EQ(streamer.stream(dir.file("cut.tif"), whole, StreamOptions {}).failure, LoadFailure::Damaged);
    EXPECT_EQ(loadPicture(dir.file("cut.tif"), JpegIdct::Fast).failure, LoadFailure::Damaged);
}
