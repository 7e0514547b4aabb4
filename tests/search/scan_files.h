#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "search/local_stamp_cache.h"
#include "search/scan_line.h"
#include "support/test_pictures.h"

namespace testing_support {

// A file of `size` bytes at `name` below dir (folders made on the way),
// last written at `time`.
inline void makeFile(const TempDir& dir, const std::string& name, std::size_t size, int64_t time = 1'000'000'000)
{
    writeBytes(dir.file(name), std::string(size, 'x'));
    setModificationTime(dir.file(name), time);
}

// The text of a stamp number as a scan line shows it.
inline std::string stampTextOfNumber(int64_t stamp)
{
    return std::string(ScanLine(ScanLine::format({0, 0, stamp}, "")).stamp());
}

// The stamp of a last-write time as a scan line shows it.
inline std::string stampTextOf(std::time_t lastWrite)
{
    return stampTextOfNumber(stampNumberOf(lastWrite));
}

} // namespace testing_support
