#include "picture/bmp_loader.h"

#include <cstring>
#include <tuple>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include "picture/picture_stream.h"
#include "support/byte_text.h"
#include "support/recording_sink.h"
#include "support/test_pictures.h"

using testing_support::RecordingSink;
using testing_support::TempDir;
using testing_support::le16;
using testing_support::le32;
using testing_support::writeBytes;

namespace {

struct Layout {
    int infoSize = 40;        // 12 (OS/2), 40, 108 (V4), 124 (V5)
    int bits = 24;
    int compression = 0;      // 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
    int colours = 0;          // palette entries written (0: 2^bits for bits <= 8)
    uint32_t masks[4] = {};   // red, green, blue, alpha for bit fields
    bool topDown = false;
    bool noBlack = false;     // palette entries all have a non-zero byte
};

std::string randomBytes(std::size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

// A bitmap with the given header layout and pixel bytes (random when empty).
std::string bitmap(const Layout& l, int width, int height, std::string pixels = {})
{
    const int entry = l.infoSize == 12 ? 3 : 4;
    const int colours = l.colours != 0 ? l.colours : l.bits <= 8 ? 1 << l.bits : 0;
    std::string table = randomBytes(static_cast<std::size_t>(colours * entry), static_cast<uint32_t>(l.bits + 7));
    if (l.noBlack) {
        for (char& c : table)
            c = static_cast<char>(c | 1);
    }
    const bool maskTriple = l.compression == 3 && l.infoSize == 40;
    const int64_t stride = (int64_t {width} * l.bits + 31) / 32 * 4;
    if (pixels.empty())
        pixels = randomBytes(static_cast<std::size_t>(stride * height), static_cast<uint32_t>(width * 131 + height));
    const int64_t offset = 14 + l.infoSize + (maskTriple ? 12 : 0) + static_cast<int64_t>(table.size());
    std::string bytes = "BM" + le32(offset + static_cast<int64_t>(pixels.size())) + le32(0) + le32(offset);
    const int h = l.topDown ? -height : height;
    if (l.infoSize == 12) {
        bytes += le32(12) + le16(width) + le16(h) + le16(1) + le16(l.bits);
    } else {
        bytes += le32(l.infoSize) + le32(width) + le32(h) + le16(1) + le16(l.bits) + le32(l.compression);
        bytes += le32(static_cast<int64_t>(pixels.size())) + le32(2835) + le32(2835) + le32(l.colours) + le32(0);
        if (l.infoSize > 40) {
            for (uint32_t m : l.masks)
                bytes += le32(m);
            bytes += std::string(static_cast<std::size_t>(l.infoSize - 56), '\0');
        }
    }
    if (maskTriple)
        bytes += le32(l.masks[0]) + le32(l.masks[1]) + le32(l.masks[2]);
    return bytes + table + pixels;
}

// What the platform reader and a conversion to B, G, R give: the values the
// streamed rows must equal.
Picture platformDecode(const std::string& bytes)
{
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QImage image;
    if (!reader.read(&image))
        return {};
    image = image.convertToFormat(QImage::Format_BGR888);
    Picture picture(image.width(), image.height());
    for (int32_t y = 0; y < picture.height(); ++y)
        std::memcpy(picture.row(y), image.constScanLine(y), picture.stride());
    return picture;
}

void expectStreamsLikePlatform(const TempDir& dir, const std::string& bytes, const std::string& label)
{
    SCOPED_TRACE(label);
    const Picture expected = platformDecode(bytes);
    ASSERT_FALSE(expected.isNull());
    const std::string path = dir.file("p.bmp");
    writeBytes(path, bytes);
    testing_support::expectStreamedAndLoaded(path, expected, [](const std::string& file) { return loadBmpFile(file); });
}

} // namespace

TEST(BmpStreamTest, UncompressedDepthsAndHeadersGiveThePlatformReadersValues)
{
    TempDir dir;
    std::vector<std::pair<std::string, Layout>> layouts;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (int infoSize : {40, 108, 124}) {
            for (bool topDown : {false, true}) {
                Layout l;
                l.infoSize = infoSize;
                l.bits = bits;
                l.topDown = topDown;
                layouts.emplace_back(std::to_string(bits) + " bit, header " + std::to_string(infoSize)
                                         + (topDown ? ", top-down" : ""), l);
            }
        }
    }
    for (int bits : {1, 4, 8, 24}) {
        Layout l;
        l.infoSize = 12;
        l.bits = bits;
        layouts.emplace_back("OS/2 " + std::to_string(bits) + " bit", l);
    }
    for (int bits : {1, 4, 8}) {
        Layout l;
        l.bits = bits;
        l.colours = (1 << bits) - 1; // a short palette: the platform reader decides
        layouts.emplace_back("short palette " + std::to_string(bits), l);
    }
    const std::vector<std::pair<int, std::array<uint32_t, 4>>> fields = {
        {16, {0xF800, 0x07E0, 0x001F, 0}},
        {16, {0x7C00, 0x03E0, 0x001F, 0}},
        {16, {0x0F00, 0x00F0, 0x000F, 0xF000}},
        {16, {0x000F, 0x00F0, 0x0F00, 0}},
        {32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0}},
        {32, {0x000000FF, 0x0000FF00, 0x00FF0000, 0}},
        {32, {0xFF000000, 0x00FF0000, 0x0000FF00, 0}},
        {32, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}},
        {32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}},
    };
    for (const auto& [bits, masks] : fields) {
        for (int infoSize : {40, 108}) {
            if (masks[3] != 0 && infoSize == 40)
                continue;
            Layout l;
            l.infoSize = infoSize;
            l.bits = bits;
            l.compression = 3;
            std::copy(masks.begin(), masks.end(), l.masks);
            char name[96];
            std::snprintf(name, sizeof name, "fields %d bit %08X %08X %08X %08X, header %d", bits, masks[0], masks[1],
                          masks[2], masks[3], infoSize);
            layouts.emplace_back(name, l);
        }
    }
    for (const auto& [name, layout] : layouts) {
        // 131 rows: the platform reader's rows are converted in strips of 64.
        for (const auto& [w, h] : std::vector<std::pair<int, int>> {{1, 1}, {5, 3}, {7, 9}, {33, 17}, {6, 131}})
            expectStreamsLikePlatform(dir, bitmap(layout, w, h), name + " " + std::to_string(w) + "x" + std::to_string(h));
    }
}

TEST(BmpStreamTest, EverySixteenBitValueMatches)
{
    // 65,536 pixels, one of each value, in both common bit-field layouts.
    std::string pixels;
    for (int v = 0; v < 65536; ++v)
        pixels += le16(v);
    TempDir dir;
    for (const std::array<uint32_t, 3>& masks : {std::array<uint32_t, 3> {0x7C00, 0x03E0, 0x001F},
                                                 std::array<uint32_t, 3> {0xF800, 0x07E0, 0x001F}}) {
        Layout l;
        l.bits = 16;
        l.compression = 3;
        std::copy(masks.begin(), masks.end(), l.masks);
        expectStreamsLikePlatform(dir, bitmap(l, 256, 256, pixels), "mask " + std::to_string(masks[0]));
    }
}

namespace {

// A well-formed run-length stream that sets every pixel: each line a mix of
// runs and absolute runs that ends exactly at the width, then end of line;
// end of bitmap after the last.
std::string runLengthLines(int width, int height, bool fourBit, uint32_t seed)
{
    std::mt19937 rng(seed);
    const int indices = fourBit ? 16 : 256;
    std::string out;
    for (int y = 0; y < height; ++y) {
        int x = 0;
        while (x < width) {
            const int left = width - x;
            const int n = 1 + static_cast<int>(rng() % static_cast<uint32_t>(std::min(left, 12)));
            if (n >= 3 && rng() % 2 == 0) {
                out += '\0';
                out += static_cast<char>(n);
                std::string body;
                if (fourBit) {
                    for (int i = 0; i < n; i += 2)
                        body += static_cast<char>(rng() & 0xFF);
                } else {
                    for (int i = 0; i < n; ++i)
                        body += static_cast<char>(rng() % static_cast<uint32_t>(indices));
                }
                if (body.size() % 2 == 1)
                    body += '\0';
                out += body;
            } else {
                out += static_cast<char>(n);
                out += static_cast<char>(rng() & (fourBit ? 0xFF : indices - 1));
            }
            x += n;
        }
        out += std::string(y + 1 == height ? "\0\1" : "\0\0", 2);
    }
    return out;
}

// Pixels that the platform reader leaves unset are black in the stream; the
// palette here has no black, so every other pixel must equal the reader's.
void expectSetPixelsLikePlatform(const TempDir& dir, const std::string& bytes, const std::string& label)
{
    SCOPED_TRACE(label);
    const Picture expected = platformDecode(bytes);
    ASSERT_FALSE(expected.isNull());
    const std::string path = dir.file("p.bmp");
    writeBytes(path, bytes);
    const LoadedPicture first = loadBmpFile(path);
    const LoadedPicture second = loadBmpFile(path);
    ASSERT_TRUE(first.ok()) << first.error;
    ASSERT_EQ(first.picture.byteCount(), expected.byteCount());
    ASSERT_EQ(std::memcmp(first.picture.data(), second.picture.data(), expected.byteCount()), 0);
    for (int32_t y = 0; y < expected.height(); ++y) {
        for (int32_t x = 0; x < expected.width(); ++x) {
            const uint8_t* got = first.picture.row(y) + 3 * x;
            if (got[0] != 0 || got[1] != 0 || got[2] != 0) {
                EXPECT_EQ(std::memcmp(got, expected.row(y) + 3 * x, 3), 0) << x << "," << y;
            }
        }
    }
}

} // namespace

TEST(BmpStreamTest, RunLengthBitmapsGiveThePlatformReadersValues)
{
    TempDir dir;
    for (bool fourBit : {false, true}) {
        for (bool topDown : {false, true}) {
            for (int w = 1; w <= 19; w += 3) {
                for (int h = 1; h <= 5; ++h) {
                    Layout l;
                    l.bits = fourBit ? 4 : 8;
                    l.compression = fourBit ? 2 : 1;
                    l.topDown = topDown;
                    expectStreamsLikePlatform(dir, bitmap(l, w, h, runLengthLines(w, h, fourBit, static_cast<uint32_t>(w * 10 + h))),
                                              std::string(fourBit ? "rle4 " : "rle8 ") + (topDown ? "top-down " : "")
                                                  + std::to_string(w) + "x" + std::to_string(h));
                }
            }
        }
    }
}

TEST(BmpStreamTest, RunLengthOddStreamsAreDefinedAndKeepWhatTheReaderSets)
{
    TempDir dir;
    Layout rle8;
    rle8.bits = 8;
    rle8.compression = 1;
    rle8.noBlack = true;
    Layout rle4 = rle8;
    rle4.bits = 4;
    rle4.compression = 2;
    const std::vector<std::tuple<const char*, Layout, std::string>> cases = {
        // Runs longer than the line spill into the padding and the next line.
        {"rle8 spill", rle8, std::string("\0\0\x0B\x01\0\0\x01\x02\0\x01", 10)},
        {"rle8 absolute spill", rle8, std::string("\0\x0B\1\2\3\4\5\6\7\x08\x09\x0A\x0B\0\0\0\x05\x07\0\1", 20)},
        {"rle4 spill", rle4, std::string("\x0B\x12\0\0\0\x09\x30\x12\x30\x21\x45\0\0\1", 14)},
        // Deltas, clamped to the picture.
        {"rle8 delta", rle8, std::string("\1\2\0\2\1\1\1\3\0\2\x25\0\1\1\0\2\0\5\1\0\0\1", 22)},
        {"rle4 delta", rle4, std::string("\3\x45\0\2\3\1\2\x67\0\2\0\x09\1\x89\0\1", 16)},
        // Lines left short, no end of bitmap, data cut inside a run.
        {"rle8 short lines", rle8, std::string("\2\1\0\0\3\2", 6)},
        {"rle8 cut run", rle8, std::string("\x05\1\0\0\3", 5)},
        {"rle4 cut absolute", rle4, std::string("\x05\x12\0\0\0\x08\x34", 7)},
    };
    for (bool topDown : {false, true}) {
        for (auto [name, layout, runs] : cases) {
            layout.topDown = topDown;
            for (const auto& [w, h] : std::vector<std::pair<int, int>> {{4, 3}, {7, 3}, {9, 4}}) {
                expectSetPixelsLikePlatform(dir, bitmap(layout, w, h, runs),
                                            std::string(name) + (topDown ? " top-down " : " ") + std::to_string(w) + "x"
                                                + std::to_string(h));
            }
        }
    }
    // An RLE8 absolute run cut short, and a file that ends where its pixels
    // would start, are refused, as the platform reader does.
    std::string noData = bitmap(rle8, 4, 2, "x");
    noData.pop_back();
    for (const std::string& bytes : {bitmap(rle8, 4, 2, std::string("\4\1\0\0\0\4\2\2", 8)), noData}) {
        writeBytes(dir.file("cut.bmp"), bytes);
        EXPECT_TRUE(platformDecode(bytes).isNull());
        EXPECT_FALSE(loadBmpFile(dir.file("cut.bmp")).ok());
    }
}

// A run-length bitmap is decoded in file order keeping only the rows a sink
// wants, while runs spill across lines and deltas skip them: each row alone
// must come out as in the whole decode.
TEST(BmpStreamTest, RunLengthRowsWantedAloneAreThoseOfTheWholeDecode)
{
    TempDir dir;
    Layout rle8;
    rle8.bits = 8;
    rle8.compression = 1;
    Layout rle4 = rle8;
    rle4.bits = 4;
    rle4.compression = 2;
    const std::vector<std::tuple<const char*, Layout, std::string, int, int>> cases = {
        {"rle8 spill", rle8, std::string("\0\0\x0B\x01\0\0\x01\x02\0\x01", 10), 7, 3},
        {"rle8 absolute spill", rle8, std::string("\0\x0B\1\2\3\4\5\6\7\x08\x09\x0A\x0B\0\0\0\x05\x07\0\1", 20), 4, 3},
        {"rle4 spill", rle4, std::string("\x0B\x12\0\0\0\x09\x30\x12\x30\x21\x45\0\0\1", 14), 4, 3},
        {"rle8 delta", rle8, std::string("\1\2\0\2\1\1\1\3\0\2\x25\0\1\1\0\2\0\5\1\0\0\1", 22), 9, 4},
        // A line of 2 x 255 pixels runs over the lines after it in memory.
        {"rle8 long spill", rle8, std::string("\xFF\x07\xFF\x09\0\0\x03\x04\0\1", 10), 33, 9},
        {"rle8 random", rle8, runLengthLines(37, 29, false, 5), 37, 29},
        {"rle4 random", rle4, runLengthLines(37, 29, true, 6), 37, 29},
    };
    PictureStreamer streamer;
    for (bool topDown : {false, true}) {
        for (auto [name, layout, runs, w, h] : cases) {
            SCOPED_TRACE(std::string(name) + (topDown ? " top-down" : ""));
            layout.topDown = topDown;
            writeBytes(dir.file("p.bmp"), bitmap(layout, w, h, runs));
            const LoadedPicture whole = loadBmpFile(dir.file("p.bmp"));
            ASSERT_TRUE(whole.ok()) << whole.error;
            for (int32_t only = 0; only < h; ++only) {
                RecordingSink sink([only](int32_t y, int32_t) { return y == only; });
                ASSERT_TRUE(streamer.stream(dir.file("p.bmp"), sink, StreamOptions {}).ok());
                ASSERT_EQ(sink.ys, std::vector<int32_t> {only});
                EXPECT_EQ(sink.rows, sink.expectedRows(whole.picture)) << "row " << only;
            }
        }
    }
}

// The sink hears of the size before the decode now; one that wants nothing
// more still sees a damaged stream fail, as the search did before.
TEST(BmpStreamTest, RunLengthDamageFailsEvenWhenTheSinkDeclinesThePicture)
{
    class Declining : public RowSink {
    public:
        bool begin(int32_t, int32_t) override { return false; }
        bool wantsRow(int32_t) const override { return true; }
        void row(int32_t, const uint8_t*) override { ++rows; }
        int rows = 0;
    };
    TempDir dir;
    Layout rle8;
    rle8.bits = 8;
    rle8.compression = 1;
    PictureStreamer streamer;
    Declining sink;
    writeBytes(dir.file("cut.bmp"), bitmap(rle8, 4, 2, std::string("\4\1\0\0\0\4\2\2", 8)));
    const StreamResult cut = streamer.stream(dir.file("cut.bmp"), sink, StreamOptions {});
    EXPECT_EQ(cut.status, StreamStatus::Failed);
    EXPECT_EQ(cut.failure, LoadFailure::Damaged);
    EXPECT_EQ(cut.error, "run-length data ends inside an absolute run");
    writeBytes(dir.file("whole.bmp"), bitmap(rle8, 4, 2, runLengthLines(4, 2, false, 3)));
    EXPECT_TRUE(streamer.stream(dir.file("whole.bmp"), sink, StreamOptions {}).ok());
    EXPECT_EQ(sink.rows, 0);
}

TEST(BmpStreamTest, TruncatedBitmapsHaveBlackMissingRowsEveryTime)
{
    // Bottom-up: the file holds the bottom rows first, so the top ones are
    // missing. The row cut in the middle keeps its whole pixels.
    TempDir dir;
    for (int bits : {8, 24, 32}) {
        SCOPED_TRACE(bits);
        Layout l;
        l.bits = bits;
        l.noBlack = true;
        const int width = 9;
        const int height = 6;
        const std::string full = bitmap(l, width, height);
        const Picture whole = platformDecode(full);
        const int64_t stride = (int64_t {width} * bits + 31) / 32 * 4;
        // Two whole rows and four pixels of the third remain.
        const std::size_t keep = full.size() - static_cast<std::size_t>(stride * height) + static_cast<std::size_t>(stride * 2)
                                 + static_cast<std::size_t>(4 * bits / 8);
        writeBytes(dir.file("cut.bmp"), full.substr(0, keep));
        const LoadedPicture first = loadBmpFile(dir.file("cut.bmp"));
        ASSERT_TRUE(first.ok()) << first.error;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* got = first.picture.row(y) + 3 * x;
                const bool present = y >= height - 2 || (y == height - 3 && x < 4);
                const std::string expected = present ? std::string(reinterpret_cast<const char*>(whole.row(y) + 3 * x), 3)
                                                     : std::string(3, '\0');
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), 3), expected) << x << "," << y;
            }
        }
        PictureStreamer streamer;
        RecordingSink sink;
        ASSERT_TRUE(streamer.stream(dir.file("cut.bmp"), sink, StreamOptions {}).ok());
        EXPECT_EQ(sink.rows, sink.expectedRows(first.picture));
    }
}

// A bitmap only the platform reader reads (an alpha mask here) is handed to
// it a strip at a time, pixels placed after a gap included: the rows are the
// whole decode's.
TEST(BmpStreamTest, PlatformBitmapsGoByStripsAndACutOneHasBlackMissingPixels)
{
    TempDir dir;
    Layout alpha;
    alpha.infoSize = 124;
    alpha.bits = 32;
    alpha.compression = 3;
    alpha.masks[0] = 0x00FF0000;
    alpha.masks[1] = 0x0000FF00;
    alpha.masks[2] = 0x000000FF;
    alpha.masks[3] = 0xFF000000;
    for (bool topDown : {false, true}) {
        alpha.topDown = topDown;
        const std::string label = topDown ? "top-down " : "bottom-up ";
        for (int h : {63, 64, 65, 200})
            expectStreamsLikePlatform(dir, bitmap(alpha, 41, h), label + std::to_string(h) + " rows");
        const std::string bytes = bitmap(alpha, 41, 130);
        const std::size_t headers = 14 + 124;
        const std::string withGap = bytes.substr(0, 10) + le32(headers + 6) + bytes.substr(14, headers - 14)
                                    + std::string(6, '\x55') + bytes.substr(headers);
        expectStreamsLikePlatform(dir, withGap, label + "gap");
        // Three and a half rows short: the missing rows (the top ones of a
        // bottom-up bitmap) are black, the row cut in the middle keeps its 20
        // whole pixels. The platform reader's own whole decode leaves
        // whatever its line buffer held there.
        writeBytes(dir.file("cut.bmp"), bytes.substr(0, bytes.size() - 41 * 4 * 7 / 2));
        const Picture whole = platformDecode(bytes);
        const LoadedPicture cut = loadBmpFile(dir.file("cut.bmp"));
        ASSERT_TRUE(cut.ok()) << cut.error;
        const int32_t cutRow = topDown ? 126 : 3;
        for (int32_t y = 0; y < 130; ++y) {
            const bool held = topDown ? y < cutRow : y > cutRow;
            for (int32_t x = 0; x < 41; ++x) {
                const bool present = held || (y == cutRow && x < 20);
                const std::string expected = present ? std::string(reinterpret_cast<const char*>(whole.row(y) + 3 * x), 3)
                                                     : std::string(3, '\0');
                ASSERT_EQ(std::string(reinterpret_cast<const char*>(cut.picture.row(y) + 3 * x), 3), expected)
                    << label << x << "," << y;
            }
        }
        PictureStreamer streamer;
        RecordingSink sink([](int32_t y, int32_t) { return y % 9 == 4 || y == 3 || y == 126; });
        ASSERT_TRUE(streamer.stream(dir.file("cut.bmp"), sink, StreamOptions {}).ok());
        EXPECT_EQ(sink.rows, sink.expectedRows(cut.picture));
    }
}

TEST(BmpStreamTest, PixelsStartWhereTheHeaderSaysAndV4MasksGoToThePlatformReader)
{
    TempDir dir;
    Layout l;
    std::string bytes = bitmap(l, 3, 2);
    // Eight bytes between the header and the pixels.
    const std::string withGap = bytes.substr(0, 10) + le32(54 + 8) + bytes.substr(14, 40) + std::string(8, '\x77')
                                + bytes.substr(54);
    expectStreamsLikePlatform(dir, withGap, "gap");
    // A V4 header of an uncompressed 16-bit bitmap that still carries masks.
    Layout v4;
    v4.infoSize = 108;
    v4.bits = 16;
    v4.masks[0] = 0xF800;
    v4.masks[1] = 0x07E0;
    v4.masks[2] = 0x001F;
    expectStreamsLikePlatform(dir, bitmap(v4, 5, 3), "v4 masks, no bit fields");
}
