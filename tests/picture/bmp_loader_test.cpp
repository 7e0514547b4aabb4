#include "picture/bmp_loader.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/byte_text.h"
#include "support/test_pictures.h"

using testing_support::le16;
using testing_support::le32;

namespace {

// A bitmap with a 40-byte info header, a palette of (b, g, r) entries and pixel data.
std::string bitmap(int width, int height, int bits, int compression, const std::vector<std::string>& palette,
                   const std::string& pixels)
{
    std::string paletteBytes;
    for (const std::string& entry : palette)
        paletteBytes += entry + '\0';
    const int64_t offset = 14 + 40 + static_cast<int64_t>(paletteBytes.size());
    std::string bytes = "BM" + le32(offset + static_cast<int64_t>(pixels.size())) + le32(0) + le32(offset);
    bytes += le32(40) + le32(width) + le32(height) + le16(1) + le16(bits) + le32(compression);
    bytes += le32(static_cast<int64_t>(pixels.size())) + le32(2835) + le32(2835) + le32(static_cast<int64_t>(palette.size())) + le32(0);
    return bytes + paletteBytes + pixels;
}

const std::string kRed("\x00\x00\xFF", 3);
const std::string kBlue("\xFF\x00\x00", 3);

LoadedPicture load(const std::string& bytes)
{
    const testing_support::TempDir dir;
    testing_support::writeBytes(dir.file("picture.bmp"), bytes);
    return loadBmpFile(dir.file("picture.bmp"));
}

// "R" or "B" for each pixel, rows from the top.
std::vector<std::string> colours(const Picture& picture)
{
    std::vector<std::string> rows;
    for (int32_t y = 0; y < picture.height(); ++y) {
        std::string row;
        for (int32_t x = 0; x < picture.width(); ++x) {
            const uint8_t* p = picture.row(y) + 3 * x;
            row += p[2] > 200 && p[0] < 50 ? 'R' : p[0] > 200 && p[2] < 50 ? 'B' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

using Rows = std::vector<std::string>;

} // namespace

TEST(BmpLoaderTest, PaletteTopDownAndRle)
{
    // 8-bit palette, top-down (negative height): rows padded to four bytes.
    const LoadedPicture palette = load(bitmap(2, -2, 8, 0, {kRed, kBlue}, std::string("\x00\x01\x00\x00\x01\x00\x00\x00", 8)));
    ASSERT_TRUE(palette.ok()) << palette.error;
    EXPECT_EQ(colours(palette.picture), (Rows {"RB", "BR"}));

    // RLE8, bottom-up: the first encoded line is the bottom row.
    const std::string rle("\x04\x01\x00\x00\x02\x00\x02\x01\x00\x01", 10);
    const LoadedPicture runs = load(bitmap(4, 2, 8, 1, {kRed, kBlue}, rle));
    ASSERT_TRUE(runs.ok()) << runs.error;
    EXPECT_EQ(colours(runs.picture), (Rows {"RRBB", "BBBB"}));

    // 1-bit, bottom-up.
    const LoadedPicture mono = load(bitmap(3, 2, 1, 0, {kRed, kBlue}, std::string("\xA0\0\0\0\x40\0\0\0", 8)));
    ASSERT_TRUE(mono.ok()) << mono.error;
    EXPECT_EQ(colours(mono.picture), (Rows {"RBR", "BRB"}));

    // 24-bit top-down.
    const LoadedPicture direct = load(bitmap(1, -2, 24, 0, {}, kBlue + '\0' + kRed + '\0'));
    ASSERT_TRUE(direct.ok()) << direct.error;
    EXPECT_EQ(colours(direct.picture), (Rows {"B", "R"}));
}
