#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "picture/picture_size.h"
#include "search/search_options.h"
#include "search/search_progress.h"

class WorkerPool;

struct ScanSettings {
    CheckMode mode = CheckMode::FileSize;
    int32_t subDirDepth = 0; // 0 to 3 levels of sub-folders
    const std::atomic<bool>* abortFlag = nullptr;
    PictureFormats formats = PictureFormats::defaults(); // the files taken, by their names
    ProgressThrottle* progress = nullptr; // may be null
    int32_t jobs = 1; // threads for buildScanList; 0 = every core
    WorkerPool* pool = nullptr; // the search's threads (then its size is the job count); null: a pool of its own
    // Reads a picture's size in CheckMode 1 in place of ReadPictureSize (for
    // one kept from an earlier search); `st` is the file's status as the
    // scan took it. Called from every scan thread.
    std::function<std::optional<PictureSize>(const std::string& path, const struct stat& st)> pictureSize;
};

// The scan's folder argument: the search folder with exactly one trailing
// "/" (the root stays "/").
std::string scanFolderArgument(const std::string& searchFolder);

// Whether the search folder can be listed and its entries reached: false for
// a missing folder, a file, or a folder without read or search permission.
bool canReadSearchFolder(const std::string& searchFolder);

// ScanList of a search: every picture line below searchFolder, sorted. The
// folders are taken from one shared queue by the pool's threads; the sort
// makes the result independent of which thread met which folder. In
// CheckMode 1 the scan goes on past a picture that cannot be opened and the
// SearchError names the first such path in list order, whatever the threads.
std::vector<std::string> buildScanList(const std::string& searchFolder, const ScanSettings& settings);
