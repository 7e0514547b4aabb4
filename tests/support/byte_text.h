#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

// The low 16 or 32 bits of v as bytes, little-endian (le) or big-endian (be),
// for writing file headers by hand.
inline std::string le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
inline std::string le32(int64_t v) { return le16(static_cast<int>(v & 0xFFFF)) + le16(static_cast<int>((v >> 16) & 0xFFFF)); }
inline std::string be16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

} // namespace testing_support
