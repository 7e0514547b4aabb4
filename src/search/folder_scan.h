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
    // Shell globs (fnmatch, "*" crossing "/") on whole paths: a file that
    // matches one is left out, a folder that matches one, with or without
    // its trailing "/", is not entered.
    std::vector<std::string> excludes;
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

// The ScanList of several search folders (absolute, normal), each scanned to
// the depth from itself, merged into one sorted list. A path reached through
// two folders (one inside the other) is one file and has one line; a file
// reached by two different paths (a link to a file) keeps a line for each,
// as it does inside one folder.
std::vector<std::string> buildScanList(const std::vector<std::string>& searchFolders, const ScanSettings& settings);

// The folders a search covers: options.folder, then options.moreFolders,
// each once (the first time it is named).
std::vector<std::string> searchFoldersOf(const SearchOptions& options);

// Whether `path` matches one of the exclusion patterns.
bool excludedPath(const std::vector<std::string>& patterns, const std::string& path);
