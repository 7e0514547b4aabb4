#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// A decimal integer as the user types it: optional leading blanks, an
// optional sign, then digits only, within signed 32 bits. Anything else
// (trailing blanks, hex, an empty text) is not an integer.
std::optional<int32_t> parseDecimalInt32(std::string_view text);
