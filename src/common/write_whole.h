#pragma once

#include <cstddef>

// write(2) until all is written, retrying interrupted and short writes; false
// with errno set on failure.
bool writeWhole(int fd, const char* data, std::size_t size);
