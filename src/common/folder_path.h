#pragma once

#include <optional>
#include <string>

// Folder and file paths as the raw bytes the file system gave: "/"-separated,
// a folder never ending in "/" except the root itself.

// `folder` made absolute against `base` and lexically normal: no ".", "..",
// doubled or trailing "/" (except the root). Nothing is looked up on disk,
// and bytes that are not UTF-8 pass through as they are.
std::string absoluteFolder(const std::string& folder, const std::string& base);

// The folder of a path: up to its last "/", "/" for the root, "." for a
// bare name.
std::string parentFolder(const std::string& path);

// `folder` + "/" + `name`, without doubling the root's "/".
std::string childPath(const std::string& folder, const std::string& name);

// The process's current folder; nothing, with errno set, when it cannot be
// had (removed, or not reachable).
std::optional<std::string> currentFolder();
