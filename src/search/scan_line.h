#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One line of the scan list, in fixed columns counted from 1:
//   1-10  ScanKey, ten digits with leading zeros
//  11-20  file size, ten digits
//  21     " "
//  22-40  last-write time, local, "yyyy/mm/dd hh/nn/ss" with even seconds
//  41     " "
//  42-    full path
// ScanLine is the one place that knows these columns: the scan writes and
// orders its lines through it, the file table reads them back.
class ScanLine {
public:
    // The largest number the ten-digit columns hold. The scan passes over files
    // of 10^10 bytes or more, so that the columns stay fixed and the order by
    // size stays true.
    static constexpr int64_t kMaxNumber = 9'999'999'999;

    // What a line holds before its path, as numbers.
    struct Columns {
        int64_t key = 0;
        int64_t size = 0;
        int64_t stamp = 0; // yyyymmddhhnnss, as stampNumberOf gives it
    };

    // The line of a picture. Key and size at most kMaxNumber; a wider number
    // still comes out whole, but the columns no longer line up.
    static std::string format(const Columns& columns, std::string_view path);

    // Reads a line in place; the line must outlive the ScanLine. A number
    // column counts only its digits, and reads 0 where a short line lacks it;
    // the stamp and the path of a line too short to hold them are empty.
    explicit ScanLine(std::string_view line) : m_line(line) {}
    int64_t key() const;
    int64_t size() const;
    int64_t stampNumber() const;
    std::string_view stamp() const;
    std::string_view path() const;

    // The place of a line in the order of lineLess over whole lines, compared
    // faster: the digit columns and the stamp are fixed-width digits that
    // letter case does not touch, so they compare as numbers, and of the
    // paths only what follows the prefix every compared line shares counts.
    // A path that ends sorts before a longer one, as it does under lineLess.
    class Order {
    public:
        bool operator<(const Order& other) const;

    private:
        friend class ScanLine;

        // `pathAfter`: the line's path after the shared prefix, inside the line.
        Order(const Columns& columns, std::string_view pathAfter);

        int64_t m_key;
        int64_t m_size;
        int64_t m_stamp;
        uint64_t m_pathHead; // the first eight bytes of the path, folded, big-endian, 0-padded
        const char* m_path;
        uint32_t m_pathLength;
    };

    // The Order of this line among lines whose paths share their first
    // `sharedPath` bytes; it points into the line.
    Order order(std::size_t sharedPath = 0) const;

private:
    std::string_view m_line;
};

// Picture-size keys. A picture under 10,000 wide has the key Height * 10000 +
// Width. A wider one would spill into the height part and share its key with
// a narrower size (12,000 x 60 and 2,000 x 61 both gave 612000), so it takes
// kWideSizeKeyBase + Height * 100000 + Width: above every narrow key (at most
// 65535 * 10000 + 9999), below 10^10, and sorted by height then width.
inline constexpr int64_t kNarrowSizeLimit = 10000;
inline constexpr int64_t kWideSizeKeyBase = 1'000'000'000;
inline constexpr int64_t kWideSizeFactor = 100000;

inline int64_t pictureSizeKey(int32_t width, int32_t height)
{
    if (width < kNarrowSizeLimit)
        return int64_t {height} * kNarrowSizeLimit + width;
    return kWideSizeKeyBase + int64_t {height} * kWideSizeFactor + width;
}

struct SizeOfKey {
    int32_t width = 0;
    int32_t height = 0;
};

// The width and height a picture-size key was made from.
inline SizeOfKey sizeOfPictureKey(int64_t key)
{
    if (key < kWideSizeKeyBase)
        return SizeOfKey {static_cast<int32_t>(key % kNarrowSizeLimit), static_cast<int32_t>(key / kNarrowSizeLimit)};
    const int64_t wide = key - kWideSizeKeyBase;
    return SizeOfKey {static_cast<int32_t>(wide % kWideSizeFactor), static_cast<int32_t>(wide / kWideSizeFactor)};
}
