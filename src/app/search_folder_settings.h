#pragma once

#include <string>
#include <vector>

// The folders searched with the one picked in the tree, and the exclusion
// patterns, as the window keeps them: in a file of their own beside
// Zelvic.ini, whose layout stays as it is.
struct SearchFolderSettings {
    std::vector<std::string> moreFolders; // absolute, normal
    std::vector<std::string> excludes;    // shell globs on whole paths

    static constexpr const char* kFileName = "search_folders.ini";

    // The file in the user's configuration folder ($XDG_CONFIG_HOME/zelvic).
    static std::string defaultPath();

    // What the file holds; nothing for a missing or unreadable file. Entries
    // that are empty, and folders that are not absolute, are left out.
    static SearchFolderSettings read(const std::string& path);

    // Writes the file, making its folder; false when that fails.
    bool write(const std::string& path) const;
};
