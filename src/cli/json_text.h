#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// zelvic-cli's JSON values: objects keep their keys in the order they were set.
using Json = nlohmann::ordered_json;

// bytes as a JSON string value may hold them: valid UTF-8 stays as it is and
// each byte that is not part of a valid sequence becomes U+FFFD. The library
// gives one U+FFFD for a whole broken sequence instead, and refuses to write
// strings that were not cleaned, so every string goes through here.
std::string utf8Text(std::string_view bytes);

// The compact text of value. The library's except for backspace and form
// feed, which are written \u0008 and \u000c like every other control
// character rather than \b and \f.
std::string jsonText(const Json& value);
