#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a file holds, whatever its name or place: SHA-256 of its bytes. A
// cryptographic hash rather than a faster one because a mark made on one
// pair must never land on two other files by chance, and hashing runs only
// for files of reported pairs.
using ContentHash = std::array<uint8_t, 32>;

// The hash of the file's bytes as read now; nothing when it cannot be read.
std::optional<ContentHash> hashFileContent(const std::string& path);

// 64 lower-case hex digits, and back (nothing for anything else).
std::string contentHashText(const ContentHash& hash);
std::optional<ContentHash> contentHashFromBytes(std::string_view bytes);
