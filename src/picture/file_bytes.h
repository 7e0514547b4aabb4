#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Reads a whole file by its byte path (names need not be UTF-8), opened as
// PictureFile opens pictures. Returns nothing and sets error when the file
// cannot be read, is not a regular file, or is larger than
// kPictureMemoryBudget. The decoders read files through small buffers
// instead; this is for small files.
std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, std::string& error);
