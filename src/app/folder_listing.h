#pragma once

#include <string>
#include <vector>

// Folder paths of the tree, as raw bytes: absolute, "/"-separated, never a
// trailing "/" except the root itself.
namespace folder_listing {

// The names of the folders directly inside `path` that the tree shows:
// directories only (symbolic links to folders are passed over, as the scan
// passes over them), no "." or "..", no hidden (dot) folders. Ordered by
// name with ASCII letters folded, then by plain bytes. An unreadable folder
// has none.
std::vector<std::string> visibleSubfolders(const std::string& path);

// The folder path of a node from its top node's path and the names below it.
std::string nodePath(const std::string& root, const std::vector<std::string>& names);

// `folder` itself when it is a folder (symbolic links followed), else its
// nearest ancestor that is; "/" at worst. `folder` is absolute and normal.
std::string nearestExistingFolder(const std::string& folder);

// The names leading from `root` down to `folder`; false when `folder` does
// not lie under `root` (both absolute and normal).
bool namesBelow(const std::string& root, const std::string& folder, std::vector<std::string>& names);

} // namespace folder_listing
