#pragma once

#include <string>

// Where Zelvic.ini is read and written. The start folder keeps it when one
// is there (a program folder carried around with its settings); otherwise it
// lives in the user's configuration folder, so that a program started from
// "/" or another folder it cannot write to still keeps its settings.
struct SettingsLocation {
    std::string readPath;
    std::string writePath;
    // The folder to make before writing; empty when writePath's folder is the
    // start folder.
    std::string folderToMake;
};

namespace settings_location {

// $XDG_CONFIG_HOME/zelvic (an absolute XDG_CONFIG_HOME only), else
// ~/.config/zelvic; `home` stands for $HOME.
std::string configFolder(const char* xdgConfigHome, const std::string& home);

// The start folder's Zelvic.ini when it exists: read there, and written there
// while the folder can be written. Otherwise, and for writing when the start
// folder cannot be written, the configuration folder's; a read-only start
// folder's file is read only until the configuration folder has its own.
SettingsLocation locate(const std::string& startDir, const std::string& configFolder);

// Makes `folder` and any missing parents; throws std::runtime_error with the
// Japanese message when one cannot be made.
void makeFolders(const std::string& folder);

} // namespace settings_location
