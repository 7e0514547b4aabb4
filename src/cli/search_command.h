#pragma once

#include <string>
#include <vector>

// `zelvic-cli search FOLDER [options]`; args are the words after "search".
// Returns the exit status: 0 after a search, 1 on an error, 2 on bad arguments.
int runSearchCommand(const std::vector<std::string>& args);

// FOLDER as the search takes it: absolute (relative to cwd), lexically normal,
// no trailing "/" except the root.
std::string normalFolder(const std::string& folder, const std::string& cwd);
