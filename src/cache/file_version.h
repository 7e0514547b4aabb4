#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <sys/stat.h>

// What identifies one version of a file's content without reading it. The
// change time cannot be set by any tool, so a file rewritten with its size
// and modification time put back still gets a new version.
struct FileVersion {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    // When the file was looked at (realtime clock, ns): a change in the same
    // clock tick as the look would not move the times.
    int64_t seenNs = 0;

    bool sameFile(const FileVersion& other) const
    {
        return device == other.device && inode == other.inode && size == other.size && mtimeNs == other.mtimeNs
               && ctimeNs == other.ctimeNs;
    }
};

// The file's version, following a symbolic link as the scan does; nothing
// when it cannot be looked at or is not a regular file.
std::optional<FileVersion> readFileVersion(const std::string& path);
// The version of a regular file whose status was just taken.
FileVersion fileVersionOf(const struct stat& st);

// Whether the file changed so shortly before it was looked at that a second
// change could still come within the same file-system clock tick (and keep
// every field): such a version is not safe to remember.
bool changedTooRecently(const FileVersion& version);
