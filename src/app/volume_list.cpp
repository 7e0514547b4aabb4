#include "app/volume_list.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

#include <QStorageInfo>

#include "app/folder_listing.h"
#include "common/file_name.h"
#include "common/folder_path.h"
#include "common/path_text.h"
#include "search/line_order.h"

namespace volume_list {

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer))
        return buffer;
    return path;
}

bool fileExists(const std::string& path)
{
    std::ifstream in(path);
    return in.good();
}

std::string firstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The disk of a block device name: a partition's parent (sdb1 -> sdb).
std::string diskOf(const std::string& name, const std::string& sysRoot)
{
    const std::string entry = sysRoot + "/class/block/" + name;
    if (!fileExists(entry + "/partition"))
        return name;
    const std::string target = resolved(entry);
    const std::size_t slash = target.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return name;
    return std::string(fileNameOf(target.substr(0, slash)));
}

bool isShownFileSystem(const std::string& device, const std::string& type)
{
    if (type == "squashfs")
        return false; // read-only package images, not a person's files
    return startsWith(device, "/dev/") || isNetworkFileSystem(type);
}

} // namespace

bool isNetworkFileSystem(const std::string& type)
{
    static const char* const kTypes[] = {"nfs", "nfs4", "cifs", "smbfs", "smb3", "fuse.sshfs", "afs", "ncpfs", "9p",
                                         "fuse.rclone", "davfs", "fuse.davfs2"};
    return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) { return type == t; });
}

VolumeKind volumeKind(const std::string& device, const std::string& type, const std::string& sysRoot)
{
    if (isNetworkFileSystem(type))
        return VolumeKind::Network;
    if (type == "iso9660" || type == "udf")
        return VolumeKind::Optical;
    if (!startsWith(device, "/dev/"))
        return VolumeKind::Fixed;
    const std::string name(fileNameOf(resolved(device)));
    if (startsWith(name, "sr"))
        return VolumeKind::Optical;
    const std::string disk = diskOf(name, sysRoot);
    if (firstLine(sysRoot + "/block/" + disk + "/removable") == "1")
        return VolumeKind::Removable;
    return VolumeKind::Fixed;
}

std::vector<Volume> mountedVolumes()
{
    std::vector<Volume> volumes;
    volumes.push_back(Volume {"/", VolumeKind::Fixed});
    for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
        if (!info.isValid() || !info.isReady())
            continue;
        const std::string root = absoluteFolder(pathBytes(info.rootPath()), "/");
        const std::string device = info.device().toStdString();
        const std::string type = info.fileSystemType().toStdString();
        if (root == "/") {
            volumes.front().kind = volumeKind(device, type);
            continue;
        }
        if (!isShownFileSystem(device, type))
            continue;
        if (std::any_of(volumes.begin(), volumes.end(), [&](const Volume& v) { return v.root == root; }))
            continue;
        volumes.push_back(Volume {root, volumeKind(device, type)});
    }
    std::sort(volumes.begin() + 1, volumes.end(),
              [](const Volume& a, const Volume& b) { return lineLess(a.root, b.root); });
    return volumes;
}

std::string volumeOf(const std::vector<Volume>& volumes, const std::string& path)
{
    std::string best;
    std::vector<std::string> names;
    for (const Volume& volume : volumes) {
        if (folder_listing::namesBelow(volume.root, path, names) && volume.root.size() > best.size())
            best = volume.root;
    }
    return best;
}

std::vector<Volume> homeFirst(std::vector<Volume> volumes, const std::string& home)
{
    if (home.empty() || home == "/")
        return volumes;
    Volume first {home, VolumeKind::Fixed};
    const auto mounted = std::find_if(volumes.begin(), volumes.end(), [&home](const Volume& v) { return v.root == home; });
    if (mounted != volumes.end()) {
        first = *mounted;
        volumes.erase(mounted);
    }
    volumes.insert(volumes.begin(), first);
    return volumes;
}

} // namespace volume_list
