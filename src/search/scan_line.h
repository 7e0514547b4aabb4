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

// The key of a picture size: Height * 10000 + Width.
inline int64_t pictureSizeKey(int32_t width, int32_t height)
{
    return int64_t {height} * 10000 + width;
}
