#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Reads a whole file by its byte path (names need not be UTF-8). Returns
// nothing and sets error (errno text) when the file cannot be read.
std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, std::string& error);
