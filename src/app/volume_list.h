#pragma once

#include <string>
#include <vector>

// The kind of a mounted volume; the numbers are the icons of the folder
// tree (2 removable, 3 fixed, 4 network, 5 optical).
enum class VolumeKind : int { Removable = 2, Fixed = 3, Network = 4, Optical = 5 };

struct Volume {
    std::string root; // mount point, absolute, no trailing "/" except "/"
    VolumeKind kind = VolumeKind::Fixed;
};

namespace volume_list {

// The top nodes of the folder tree: the root file system first, then every
// other mounted volume that holds files a person keeps (block devices and
// network shares; no pseudo or memory file systems), ordered by root.
std::vector<Volume> mountedVolumes();

// The kind of a volume from its device and file-system type. Removable is a
// block device whose disk reports removable media in sysfs (`sysRoot` is
// "/sys" but may be a fixture folder).
VolumeKind volumeKind(const std::string& device, const std::string& fileSystemType,
                      const std::string& sysRoot = "/sys");

// True for file systems of network shares.
bool isNetworkFileSystem(const std::string& fileSystemType);

// `volumes` with the home folder as the first top node (a volume mounted at
// the home folder moves there); unchanged when home is "/" or empty.
std::vector<Volume> homeFirst(std::vector<Volume> volumes, const std::string& home);

// The root of the volume that holds `path` among `volumes` (the longest
// mount point above it); empty when none does.
std::string volumeOf(const std::vector<Volume>& volumes, const std::string& path);

} // namespace volume_list
