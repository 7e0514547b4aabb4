#pragma once

#include <optional>
#include <string>

// The window's own choices that Zelvic.ini does not hold, each a file of one
// line in the configuration folder.
namespace choice_file {

// The first line of file `name` in `folder`; nothing when it cannot be read.
std::optional<std::string> readLine(const std::string& folder, const char* name);

// Makes `line` the whole file, making the folder when needed. False when the
// file cannot be written.
bool writeLine(const std::string& folder, const char* name, const std::string& line);

} // namespace choice_file
