#pragma once

#include <cstddef>
#include <string>

// Byte copies of files for moves and trashes that cross file systems.
// Return values are 0 or errno.

// write(2) until all is written; false with errno set on failure.
bool writeWhole(int fd, const char* data, std::size_t size);

// Copies what is left of `in` to `out`, then the source's permissions and
// times, and syncs `out`, so the copy is on disk before anything relies on it.
int copyDescriptor(int in, int out);

// Copies `from` to the new file `to`: EEXIST when `to` exists, and nothing
// left behind on failure.
int copyFileExclusive(const std::string& from, const std::string& to);
