#include "search/folder_scan.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iterator>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "common/parallel_for.h"
#include "picture/picture_size.h"
#include "search/line_order.h"
#include "search/scan_line.h"
#include "search/search_error.h"

namespace {

class DirCloser {
public:
    explicit DirCloser(DIR* dir) : m_dir(dir) {}
    ~DirCloser() { ::closedir(m_dir); }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

private:
    DIR* m_dir;
};

// The extension from the last "." on, upper-cased, is ".JPG" or ".BMP". Since
// neither holds a second dot, that is: the name ends in one of them.
bool isPictureName(std::string_view name)
{
    if (name.size() < 4 || name[name.size() - 4] != '.')
        return false;
    char ext[3];
    for (int i = 0; i < 3; ++i) {
        const char c = name[name.size() - 3 + static_cast<std::size_t>(i)];
        ext[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return std::string_view(ext, 3) == "JPG" || std::string_view(ext, 3) == "BMP";
}

bool abortSeen(const ScanSettings& settings)
{
    return settings.abortFlag && settings.abortFlag->load(std::memory_order_relaxed);
}

} // namespace

std::string scanFolderArgument(const std::string& searchFolder)
{
    std::string folder = searchFolder;
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    folder += '/';
    return folder;
}

namespace {

// The files of one folder, and its sub-folders to enter next. Returns false
// when the abort flag was seen.
bool scanFolderFiles(const std::string& folder, int32_t depth, const ScanSettings& settings,
                     std::vector<std::string>& lines, std::vector<std::string>& subFolders,
                     std::atomic<int64_t>& found)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return true; // a folder that cannot be enumerated contributes nothing
    DirCloser closer(dir);
    const int dirFd = ::dirfd(dir);
    const bool descend = depth < settings.subDirDepth;

    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_DIR) {
            // Hidden folders are not entered; links to folders are never
            // followed (they are not DT_DIR), so no loop can hold the scan.
            if (descend && name[0] != '.')
                subFolders.push_back(folder + name + "/");
            continue;
        }
        if (!isPictureName(name))
            continue;
        if (abortSeen(settings))
            return false;
        // A link to a file stands for its target; a dangling link, a link to a
        // folder, or anything that is not a plain file is passed over.
        struct stat st {};
        if (::fstatat(dirFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        const int64_t size = st.st_size;
        if (size > kMaxScanNumber)
            continue;
        std::string path = folder + name;
        int64_t key = size;
        if (settings.mode == CheckMode::PictureSize) {
            const auto pictureSize = ReadPictureSize(path);
            if (!pictureSize)
                throw SearchError("ファイル " + path + " は開けません");
            key = pictureSizeKey(pictureSize->width, pictureSize->height);
        }
        lines.push_back(makeScanLine(key, size, formatStamp(st.st_mtim.tv_sec), path));
        const int64_t total = found.fetch_add(1, std::memory_order_relaxed) + 1;
        if (settings.progress)
            settings.progress->report(SearchProgress::Phase::Scan, total, 0);
    }
    return true;
}

} // namespace

bool ScanFolder(const std::string& folder, int32_t depth, const ScanSettings& settings,
                std::vector<std::string>& lines)
{
    std::vector<std::string> subFolders;
    std::atomic<int64_t> found {static_cast<int64_t>(lines.size())};
    if (!scanFolderFiles(folder, depth, settings, lines, subFolders, found))
        return false;
    for (const std::string& sub : subFolders) {
        if (abortSeen(settings))
            return false;
        if (!ScanFolder(sub, depth + 1, settings, lines))
            return false;
    }
    return true;
}

std::vector<std::string> buildScanList(const std::string& searchFolder, const ScanSettings& settings)
{
    struct FolderScan {
        std::vector<std::string> lines;
        std::vector<std::string> subFolders;
        std::string error;
        bool aborted = false;
    };
    std::vector<std::string> lines;
    std::vector<std::string> level {scanFolderArgument(searchFolder)};
    std::atomic<int64_t> found {0};
    for (int32_t depth = 0; !level.empty(); ++depth) {
        std::vector<FolderScan> scans(level.size());
        parallelFor(static_cast<int64_t>(level.size()), settings.jobs, [&](int64_t i, int32_t) {
            FolderScan& scan = scans[static_cast<std::size_t>(i)];
            if (abortSeen(settings)) {
                scan.aborted = true;
                return;
            }
            try {
                scan.aborted = !scanFolderFiles(level[static_cast<std::size_t>(i)], depth, settings,
                                                scan.lines, scan.subFolders, found);
            } catch (const std::exception& error) {
                scan.error = error.what();
            }
        });
        std::vector<std::string> next;
        bool aborted = false;
        for (FolderScan& scan : scans) {
            if (!scan.error.empty())
                throw SearchError(scan.error);
            aborted = aborted || scan.aborted;
            std::move(scan.lines.begin(), scan.lines.end(), std::back_inserter(lines));
            std::move(scan.subFolders.begin(), scan.subFolders.end(), std::back_inserter(next));
        }
        if (aborted)
            break;
        level = std::move(next);
    }
    sortScanLines(lines, settings.jobs);
    return lines;
}

void sortScanLines(std::vector<std::string>& lines, int32_t jobs)
{
    // The first twenty characters are digits of fixed width, which letter
    // case does not touch: comparing them as two numbers, then the rest with
    // lineLess, is the order of lineLess over the whole line.
    struct Entry {
        int64_t key;
        int64_t size;
        std::string* line;
    };
    const auto number = [](const std::string& line, std::size_t from) {
        int64_t value = 0;
        for (std::size_t i = from; i < from + 10 && i < line.size(); ++i)
            value = value * 10 + (line[i] - '0');
        return value;
    };
    std::vector<Entry> entries;
    entries.reserve(lines.size());
    for (std::string& line : lines)
        entries.push_back(Entry {number(line, kScanKeyColumn), number(line, kScanSizeColumn), &line});
    const auto less = [](const Entry& a, const Entry& b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.size != b.size)
            return a.size < b.size;
        return lineLess(std::string_view(*a.line).substr(kScanSizeColumn + 10),
                        std::string_view(*b.line).substr(kScanSizeColumn + 10));
    };
    // Sorting once gives the order of a list kept sorted line by line,
    // without the cost of inserting each line at its place; two halves
    // sorted side by side and merged give the same order.
    constexpr std::size_t kSplitAbove = 20000;
    const auto middle = entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2);
    if (resolveJobs(jobs) >= 2 && entries.size() > kSplitAbove) {
        parallelFor(2, 2, [&](int64_t half, int32_t) {
            if (half == 0)
                std::sort(entries.begin(), middle, less);
            else
                std::sort(middle, entries.end(), less);
        });
        std::inplace_merge(entries.begin(), middle, entries.end(), less);
    } else {
        std::sort(entries.begin(), entries.end(), less);
    }
    std::vector<std::string> sorted;
    sorted.reserve(lines.size());
    for (const Entry& entry : entries)
        sorted.push_back(std::move(*entry.line));
    lines = std::move(sorted);
}
