#include "search/folder_scan.h"

#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "picture/picture_loader.h"
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

bool isPictureName(std::string_view name)
{
    const std::string ext = upperExtension(name);
    return ext == ".JPG" || ext == ".BMP";
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

bool ScanFolder(const std::string& folder, int32_t depth, const ScanSettings& settings,
                std::vector<std::string>& lines)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return true; // a folder that cannot be enumerated contributes nothing
    DirCloser closer(dir);
    const int dirFd = ::dirfd(dir);
    const bool descend = depth < settings.subDirDepth;
    std::vector<std::string> subFolders;

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
                subFolders.emplace_back(name);
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
        if (settings.progress)
            settings.progress->report(SearchProgress::Phase::Scan, static_cast<int64_t>(lines.size()), 0);
    }

    for (const std::string& sub : subFolders) {
        if (abortSeen(settings))
            return false;
        if (!ScanFolder(folder + sub + "/", depth + 1, settings, lines))
            return false;
    }
    return true;
}

std::vector<std::string> buildScanList(const std::string& searchFolder, const ScanSettings& settings)
{
    std::vector<std::string> lines;
    ScanFolder(scanFolderArgument(searchFolder), 0, settings, lines);
    // Sorting once gives the order of a list kept sorted line by line,
    // without the cost of inserting each line at its place.
    sortLines(lines);
    return lines;
}
