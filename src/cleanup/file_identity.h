#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What makes a file the one a search saw: the same inode on the same device,
// not written to since (size, modification and change time).
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0; // 0: not known (a plan written by hand), not compared

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the regular file at `path` (a link is not followed);
// nothing when there is none.
std::optional<FileIdentity> readIdentity(const std::string& path);

// Whether `now` is still the file `seen` describes; a change time of 0 in
// `seen` is not compared.
bool sameFile(const FileIdentity& seen, const FileIdentity& now);
