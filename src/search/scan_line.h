#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// One line of the scan list, in fixed columns counted from 1:
//   1-10  ScanKey, ten digits with leading zeros
//  11-20  file size, ten digits
//  21     " "
//  22-40  last-write time, local, "yyyy/mm/dd hh/nn/ss" with even seconds
//  41     " "
//  42-    full path
inline constexpr std::size_t kScanKeyColumn = 0;
inline constexpr std::size_t kScanSizeColumn = 10;
inline constexpr std::size_t kScanStampColumn = 21;
inline constexpr std::size_t kScanStampWidth = 19;
inline constexpr std::size_t kScanPathColumn = 41;

// The largest number the ten-digit columns hold. The scan passes over files
// of 10^10 bytes or more, so that the columns stay fixed and the order by
// size stays true.
inline constexpr int64_t kMaxScanNumber = 9'999'999'999;

std::string makeScanLine(int64_t key, int64_t size, std::string_view stamp, std::string_view path);

// The stamp of a last-write time: local time (TZ applies), the seconds
// rounded down to even as a DOS time keeps them. Times outside the DOS range
// (1980-2107) keep their real date; years beyond 0-9999 are clamped so that
// the stamp keeps its 19 characters.
std::string formatStamp(std::time_t lastWrite);

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
