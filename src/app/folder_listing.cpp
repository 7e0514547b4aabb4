#include "app/folder_listing.h"

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

#include "common/folder_path.h"
#include "search/line_order.h"

namespace folder_listing {

namespace {

bool isDirectoryEntry(const std::string& path, const dirent* entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false; // DT_LNK among them: links to folders are not entered
    struct stat info {};
    return ::lstat(childPath(path, entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::vector<std::string> visibleSubfolders(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue; // ".", ".." and hidden folders
        if (isDirectoryEntry(path, entry))
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return lineLess(a, b); });
    return names;
}

std::string nodePath(const std::string& root, const std::vector<std::string>& names)
{
    std::string path = root;
    for (const std::string& name : names)
        path = childPath(path, name);
    return path;
}

std::string nearestExistingFolder(const std::string& folder)
{
    std::string path = folder.empty() ? std::string("/") : folder;
    struct stat info {};
    while (path != "/" && !(::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
        const std::size_t slash = path.rfind('/');
        path = (slash == 0 || slash == std::string::npos) ? std::string("/") : path.substr(0, slash);
    }
    return path;
}

bool namesBelow(const std::string& root, const std::string& folder, std::vector<std::string>& names)
{
    names.clear();
    std::string rest;
    if (root == "/") {
        if (folder.empty() || folder[0] != '/')
            return false;
        rest = folder.substr(1);
    } else {
        if (folder == root)
            return true;
        if (folder.compare(0, root.size(), root) != 0 || folder.size() <= root.size() || folder[root.size()] != '/')
            return false;
        rest = folder.substr(root.size() + 1);
    }
    std::size_t at = 0;
    while (at < rest.size()) {
        std::size_t end = rest.find('/', at);
        if (end == std::string::npos)
            end = rest.size();
        if (end > at)
            names.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

} // namespace folder_listing
