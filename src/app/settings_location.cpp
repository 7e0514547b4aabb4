#include "app/settings_location.h"

#include <cerrno>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "app/settings_file.h"
#include "common/folder_path.h"
#include "review/error_messages.h"

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The settings are replaced through a new file beside the old one: the
// folder must take new entries.
bool folderWritable(const std::string& folder)
{
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

} // namespace

namespace settings_location {

std::string configFolder(const char* xdgConfigHome, const std::string& home)
{
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        return childPath(xdgConfigHome, "zelvic");
    return childPath(childPath(home.empty() ? std::string("/") : home, ".config"), "zelvic");
}

SettingsLocation locate(const std::string& startDir, const std::string& configFolder)
{
    const std::string inStart = childPath(startDir, SettingsFile::kFileName);
    const std::string inConfig = childPath(configFolder, SettingsFile::kFileName);
    if (exists(inStart) && folderWritable(startDir))
        return {inStart, inStart, {}};
    SettingsLocation location {inConfig, inConfig, configFolder};
    if (exists(inStart) && !exists(inConfig))
        location.readPath = inStart;
    return location;
}

void makeFolders(const std::string& folder)
{
    if (folder.empty() || folder == "/" || exists(folder))
        return;
    makeFolders(parentFolder(folder));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error(runtimeFileErrorText(errno) + "\n" + folder);
}

} // namespace settings_location
