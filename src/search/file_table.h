#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "search/search_options.h"

class WorkerPool;

// One picture file of a search. A file is named everywhere by its index in
// the FileTable, which is its position in the sorted scan list.
struct File_rec {
    std::string path;   // full path, bytes as the file system gave them
    std::string stamp;  // "yyyy/mm/dd hh/nn/ss", local time, even seconds
    int64_t size = 0;   // bytes; 64-bit so that files of 2 GiB and more keep their order
    int32_t width = 0;  // set in CheckMode 1 by the scan, and by the review when it loads
    int32_t height = 0;
    int32_t spreadA = 0; // similar engine: horizontal spread of the warm region
    int32_t spreadB = 0; // similar engine: vertical spread of the warm region
    int32_t skip = 0;    // 1: unreadable, or deleted in the review
};

using FileTable = std::vector<File_rec>;

// The capacity of a run and of a review group.
inline constexpr int32_t kMaxGroup = 300;

// FileTable from the sorted scan list: entry i from line i. Path, stamp and
// size from their columns; in CheckMode 1 the key gives Height and Width
// (sizeOfPictureKey). The entries are filled on `jobs`
// threads (0 = every core), those of `pool` when given.
FileTable BuildFileTable(const std::vector<std::string>& scanList, CheckMode mode, int32_t jobs = 1,
                         WorkerPool* pool = nullptr);

// The key that orders a file in the run loop: Size in CheckMode 0, the
// picture-size key (pictureSizeKey) in CheckMode 1.
int64_t runKey(const File_rec& file, CheckMode mode);
