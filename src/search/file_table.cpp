#include "search/file_table.h"

#include <algorithm>

#include "common/parallel_for.h"
#include "search/scan_line.h"

FileTable BuildFileTable(const std::vector<std::string>& scanList, CheckMode mode, int32_t jobs, WorkerPool* pool)
{
    FileTable files(scanList.size());
    // Two allocations an entry (path, stamp) are most of the cost: spread them.
    constexpr std::size_t kEntriesPerPart = 8192;
    const std::size_t parts = (scanList.size() + kEntriesPerPart - 1) / kEntriesPerPart;
    parallelFor(static_cast<int64_t>(parts), jobs, [&](int64_t part, int32_t) {
        const std::size_t from = static_cast<std::size_t>(part) * kEntriesPerPart;
        const std::size_t to = std::min(scanList.size(), from + kEntriesPerPart);
        for (std::size_t i = from; i < to; ++i) {
            const ScanLine line(scanList[i]);
            File_rec& file = files[i];
            file.path = line.path();
            file.stamp = line.stamp();
            file.size = line.size();
            file.skip = 0;
            if (mode == CheckMode::PictureSize) {
                const SizeOfKey picture = sizeOfPictureKey(line.key());
                file.height = picture.height;
                file.width = picture.width;
            }
        }
    }, pool);
    return files;
}

int64_t runKey(const File_rec& file, CheckMode mode)
{
    if (mode == CheckMode::PictureSize)
        return pictureSizeKey(file.width, file.height);
    return file.size;
}
