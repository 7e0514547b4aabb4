#pragma once

#include <string>
#include <vector>

// The usage lines of the search command.
inline constexpr const char* kSearchUsage =
    "usage: zelvic-cli search FOLDER [--mode size|dims|identical|similar] [--level strict|middle|loose]\n"
    "                                [--depth 0..3] [--screen 0..2] [--jobs N] [--json]\n"
    "                                [--cache FILE | --no-cache]\n";

// `zelvic-cli search FOLDER [options]`; args are the words after "search".
// Returns the exit status: 0 after a search, 1 on an error, 2 on bad arguments.
int runSearchCommand(const std::vector<std::string>& args);

// FOLDER as the search takes it: absolute (relative to cwd), lexically normal,
// no trailing "/" except the root.
std::string normalFolder(const std::string& folder, const std::string& cwd);
