#include "search/file_table.h"

#include <algorithm>
#include <string_view>

#include "common/parallel_for.h"

#include "search/scan_line.h"

namespace {

// The value of a column of decimal digits; a line too short reads as 0.
int64_t columnValue(std::string_view line, std::size_t from, std::size_t width)
{
    int64_t value = 0;
    for (std::size_t i = from; i < from + width && i < line.size(); ++i) {
        const char c = line[i];
        if (c >= '0' && c <= '9')
            value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

FileTable BuildFileTable(const std::vector<std::string>& scanList, CheckMode mode, int32_t jobs)
{
    FileTable files(scanList.size());
    // Two allocations an entry (path, stamp) are most of the cost: spread them.
    constexpr std::size_t kEntriesPerPart = 8192;
    const std::size_t parts = (scanList.size() + kEntriesPerPart - 1) / kEntriesPerPart;
    parallelFor(static_cast<int64_t>(parts), jobs, [&](int64_t part, int32_t) {
        const std::size_t from = static_cast<std::size_t>(part) * kEntriesPerPart;
        const std::size_t to = std::min(scanList.size(), from + kEntriesPerPart);
        for (std::size_t i = from; i < to; ++i) {
            const std::string_view line = scanList[i];
            File_rec& file = files[i];
            if (line.size() > kScanPathColumn)
                file.path = line.substr(kScanPathColumn);
            if (line.size() >= kScanStampColumn + kScanStampWidth)
                file.stamp = line.substr(kScanStampColumn, kScanStampWidth);
            file.size = columnValue(line, kScanSizeColumn, 10);
            file.skip = 0;
            if (mode == CheckMode::PictureSize) {
                const SizeOfKey picture = sizeOfPictureKey(columnValue(line, kScanKeyColumn, 10));
                file.height = picture.height;
                file.width = picture.width;
            }
        }
    });
    return files;
}

int64_t runKey(const File_rec& file, CheckMode mode)
{
    if (mode == CheckMode::PictureSize)
        return pictureSizeKey(file.width, file.height);
    return file.size;
}
