#include "picture/picture_size.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/byte_text.h"
#include "support/test_pictures.h"

using testing_support::TempDir;
using testing_support::be16;
using testing_support::le16;
using testing_support::le32;
using testing_support::writeBytes;

namespace {

// The first bytes of a bitmap with an info header of the given length.
std::string bitmapHeader(int32_t infoSize, int32_t width, int32_t height)
{
    return "BM" + le32(0) + le32(0) + le32(54) + le32(infoSize) + le32(width) + le32(height) + le16(1) + le16(24);
}

std::string os2Header(int width, int height)
{
    return "BM" + le32(0) + le32(0) + le32(26) + le32(12) + le16(width) + le16(height) + le16(1) + le16(24);
}

std::string segment(int marker, const std::string& body)
{
    return std::string("\xFF", 1) + static_cast<char>(marker) + be16(static_cast<int>(body.size()) + 2) + body;
}

std::string frame(int marker, int width, int height)
{
    return segment(marker, std::string(1, '\x08') + be16(height) + be16(width) + std::string("\x01\x01\x11\x00", 4));
}

const std::string kSoi("\xFF\xD8", 2);
const std::string kSos = segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));

PictureSize sizeOf(const TempDir& dir, const std::string& name, const std::string& bytes)
{
    writeBytes(dir.file(name), bytes);
    const auto size = ReadPictureSize(dir.file(name));
    EXPECT_TRUE(size.has_value());
    return size.value_or(PictureSize {-1, -1});
}

void expectSize(PictureSize size, int32_t width, int32_t height)
{
    EXPECT_EQ(size.width, width);
    EXPECT_EQ(size.height, height);
}

} // namespace

TEST(PictureSizeTest, BitmapHeaders)
{
    TempDir dir;
    expectSize(sizeOf(dir, "a.BMP", bitmapHeader(40, 640, 480) + std::string(100, '\0')), 640, 480);
    // Top-down: height -200 gives its low 16 bits.
    expectSize(sizeOf(dir, "b.bmp", bitmapHeader(40, 200, -200)), 200, 65336);
    expectSize(sizeOf(dir, "c.bmp", bitmapHeader(124, 70000, 3)), 70000 & 0xFFFF, 3);
    // The OS/2 core header keeps its 16-bit height at offset 20.
    expectSize(sizeOf(dir, "d.bmp", os2Header(321, 123)), 321, 123);
    // Missing bytes of a short file read as 0.
    expectSize(sizeOf(dir, "e.bmp", bitmapHeader(40, 0x0102, 0x0304).substr(0, 23)), 0x0102, 0x04);
    expectSize(sizeOf(dir, "f.bmp", ""), 0, 0);
    EXPECT_FALSE(ReadPictureSize(dir.file("missing.bmp")).has_value());
}

TEST(PictureSizeTest, RealJpegFromTheEncoder)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("real.JPG"), testing_support::solidPicture(37, 19, 9, 9, 9));
    const auto size = ReadPictureSize(dir.file("real.JPG"));
    ASSERT_TRUE(size.has_value());
    expectSize(*size, 37, 19);
    EXPECT_FALSE(ReadPictureSize(dir.file("missing.jpg")).has_value());
}

TEST(PictureSizeTest, JpegFrameHeaderKinds)
{
    TempDir dir;
    const std::string app0 = segment(0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
    // Frame header after other segments, one of them larger than the buffer.
    const std::string exif = segment(0xE1, std::string(60000, '\xC0'));
    expectSize(sizeOf(dir, "after.jpg", kSoi + app0 + exif + segment(0xFE, "note") + frame(0xC0, 800, 600) + kSos), 800, 600);
    expectSize(sizeOf(dir, "progressive.jpg", kSoi + frame(0xC2, 1024, 768) + kSos), 1024, 768);
    for (int marker : {0xC1, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF})
        expectSize(sizeOf(dir, "sof.jpg", kSoi + frame(marker, 33, 44) + kSos), 33, 44);
    // C4, C8 and CC share the range but carry no size.
    for (int marker : {0xC4, 0xC8, 0xCC})
        expectSize(sizeOf(dir, "other.jpg", kSoi + frame(marker, 33, 44) + kSos), 0, 0);
    // The last frame header before the scan wins; one after it is not read.
    expectSize(sizeOf(dir, "two.jpg", kSoi + frame(0xC0, 1, 2) + frame(0xC2, 3, 4) + kSos + frame(0xC0, 5, 6)), 3, 4);
    expectSize(sizeOf(dir, "wide.jpg", kSoi + frame(0xC0, 12345, 6) + kSos), 12345, 6);
    expectSize(sizeOf(dir, "max.jpg", kSoi + frame(0xC0, 65535, 65535) + kSos), 65535, 65535);
}

TEST(PictureSizeTest, JpegMarkerWalk)
{
    TempDir dir;
    // Fill bytes before a marker, stray bytes between segments, and markers
    // without a length (restart, TEM) must not throw the walk off.
    const std::string fill("\xFF\xFF\xFF", 3);
    const std::string standalone = std::string("\xFF\xD0\xFF\x01\xFF\xD7", 6);
    expectSize(sizeOf(dir, "fill.jpg", kSoi + fill + frame(0xC0, 7, 8).substr(1) + kSos), 7, 8);
    expectSize(sizeOf(dir, "stray.jpg", kSoi + std::string("\x12\x34\x56", 3) + frame(0xC0, 9, 10) + kSos), 9, 10);
    expectSize(sizeOf(dir, "alone.jpg", kSoi + standalone + frame(0xC2, 11, 12) + kSos), 11, 12);
    // A body whose length reads as less than 2 is empty.
    expectSize(sizeOf(dir, "short.jpg", kSoi + std::string("\xFF\xE0\x00\x00", 4) + frame(0xC0, 13, 14) + kSos), 13, 14);
}

TEST(PictureSizeTest, JpegWithoutUsableFrame)
{
    TempDir dir;
    expectSize(sizeOf(dir, "noframe.jpg", kSoi + segment(0xE0, "JFIF") + kSos + frame(0xC0, 5, 6)), 0, 0);
    expectSize(sizeOf(dir, "nosoi.jpg", "GIF89a" + frame(0xC0, 5, 6)), 0, 0);
    expectSize(sizeOf(dir, "empty.jpg", ""), 0, 0);
    expectSize(sizeOf(dir, "soionly.jpg", kSoi), 0, 0);
    // The file ends inside a segment before any frame header.
    expectSize(sizeOf(dir, "cut.jpg", kSoi + segment(0xE1, std::string(70000, 'x')).substr(0, 5000)), 0, 0);
    // A frame header too short to hold the size gives nothing.
    expectSize(sizeOf(dir, "tiny.jpg", kSoi + segment(0xC0, "\x08\x01") + kSos), 0, 0);
}

TEST(PictureSizeTest, TruncatedJpegKeepsWhatWasFound)
{
    TempDir dir;
    const std::string full = kSoi + frame(0xC0, 640, 480) + segment(0xC4, std::string(40, '\x01')) + kSos;
    expectSize(sizeOf(dir, "cut1.jpg", full.substr(0, full.size() - kSos.size() - 10)), 640, 480);
    // Cut inside the frame header, after its first five body bytes.
    expectSize(sizeOf(dir, "cut2.jpg", kSoi + frame(0xC0, 640, 480).substr(0, 9)), 640, 480);
    expectSize(sizeOf(dir, "cut3.jpg", kSoi + frame(0xC0, 640, 480).substr(0, 8)), 0, 0);
}

namespace {

std::optional<PictureSize> shownSizeOf(const TempDir& dir, const std::string& name, const std::string& bytes,
                                       LoadedPicture& failure)
{
    writeBytes(dir.file(name), bytes);
    return ReadShownSize(dir.file(name), failure);
}

PictureSize shownSizeOf(const TempDir& dir, const std::string& name, const std::string& bytes)
{
    LoadedPicture failure;
    const std::optional<PictureSize> size = shownSizeOf(dir, name, bytes, failure);
    EXPECT_TRUE(size.has_value()) << name << ": " << failure.error;
    return size.value_or(PictureSize {-1, -1});
}

// The failure kind of a file whose shown size cannot be had.
LoadFailure shownFailureOf(const std::string& path)
{
    LoadedPicture failure;
    EXPECT_FALSE(ReadShownSize(path, failure).has_value()) << path;
    EXPECT_FALSE(failure.error.empty()) << path;
    return failure.failure;
}

} // namespace

// The review lays pictures out by these sizes before decoding them: they
// must be the sizes the decoders give, not the 16-bit values of the
// picture-size comparison.
TEST(ShownSizeTest, BitmapsAsTheyDecode)
{
    TempDir dir;
    const std::string pad(80, '\0');
    expectSize(shownSizeOf(dir, "a.bmp", bitmapHeader(40, 640, 480) + pad), 640, 480);
    expectSize(shownSizeOf(dir, "b.bmp", bitmapHeader(40, 200, -200) + pad), 200, 200);
    expectSize(shownSizeOf(dir, "c.bmp", bitmapHeader(124, 70000, 3) + std::string(200, '\0')), 70000, 3);
    expectSize(shownSizeOf(dir, "d.bmp", os2Header(321, 123) + pad), 321, 123);

    // A real top-down bitmap: what the header says is what the decoder gives.
    Picture picture = testing_support::photoLikePicture(30, 20, 5);
    testing_support::writeBmp24(dir.file("real.bmp"), picture);
    std::ifstream in(dir.file("real.bmp"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.replace(22, 4, le32(-20));
    expectSize(shownSizeOf(dir, "topdown.bmp", bytes), 30, 20);
    const LoadedPicture decoded = loadPicture(dir.file("topdown.bmp"), JpegIdct::Accurate);
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_EQ(decoded.picture.width(), 30);
    EXPECT_EQ(decoded.picture.height(), 20);
    EXPECT_EQ(ReadPictureSize(dir.file("topdown.bmp"))->height, 65536 - 20);
}

TEST(ShownSizeTest, JpegFrameSize)
{
    TempDir dir;
    expectSize(shownSizeOf(dir, "a.JPG", kSoi + frame(0xC2, 11, 12) + kSos), 11, 12);
    testing_support::writeJpeg(dir.file("real.jpg"), testing_support::photoLikePicture(33, 17, 2));
    LoadedPicture failure;
    const std::optional<PictureSize> real = ReadShownSize(dir.file("real.jpg"), failure);
    ASSERT_TRUE(real.has_value());
    expectSize(*real, 33, 17);
}

TEST(ShownSizeTest, FilesWithoutASizeSayWhy)
{
    TempDir dir;
    const std::string pad(80, '\0');
    const std::pair<const char*, std::string> damaged[] = {
        {"notbm.bmp", "XY" + bitmapHeader(40, 10, 10).substr(2) + pad},
        {"short.bmp", bitmapHeader(40, 10, 10)},
        {"nowidth.bmp", bitmapHeader(40, 0, 10) + pad},
        {"noheight.bmp", bitmapHeader(40, 10, 0) + pad},
        {"kind.bmp", bitmapHeader(99, 10, 10) + pad},
        {"noframe.jpg", kSoi + segment(0xE0, "JFIF") + kSos + frame(0xC0, 5, 6)},
        {"zero.jpg", kSoi + frame(0xC0, 0, 6) + kSos},
        {"text.jpg", "not a picture"},
    };
    for (const auto& [name, bytes] : damaged) {
        writeBytes(dir.file(name), bytes);
        EXPECT_EQ(shownFailureOf(dir.file(name)), LoadFailure::Damaged) << name;
    }
    writeBytes(dir.file("empty.bmp"), "");
    EXPECT_EQ(shownFailureOf(dir.file("empty.bmp")), LoadFailure::Empty);
    EXPECT_EQ(shownFailureOf(dir.file("missing.jpg")), LoadFailure::Missing);
    EXPECT_EQ(shownFailureOf(dir.str()), LoadFailure::NotRegular);
    // A FIFO without a writer is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
    EXPECT_EQ(shownFailureOf(dir.file("fifo.jpg")), LoadFailure::NotRegular);
}
