#pragma once

#include <string>
#include <string_view>

// The file name: the part of the path after its last "/".
std::string_view fileNameOf(std::string_view path);

// The extension of the file name (from its last "." on, dot included), ASCII
// upper case; empty when the name has no dot.
std::string upperExtension(std::string_view path);
