#include "cli/name_text.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at the start of `bytes` (shortest
// form, no surrogates, at most U+10FFFF); 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view bytes)
{
    const auto byte = [&bytes](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byte(0);
    std::size_t length = 0;
    uint8_t low = 0x80; // the second byte's range, which rules out overlong forms and surrogates
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

void appendHex(std::string& text, uint8_t byte)
{
    constexpr const char* kDigits = "0123456789ABCDEF";
    text += "\\x";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
}

} // namespace

std::string escapedName(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t byte = static_cast<uint8_t>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '\\')
                text += '\\';
            text += static_cast<char>(byte);
            ++i;
            continue;
        }
        const std::size_t length = byte >= 0x80 ? utf8SequenceLength(bytes.substr(i)) : 0;
        // U+0080..U+009F (C2 80..C2 9F) are controls some terminals obey.
        const bool c1Control = length == 2 && byte == 0xC2 && static_cast<uint8_t>(bytes[i + 1]) <= 0x9F;
        if (length > 0 && !c1Control) {
            text.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        const std::size_t escaped = c1Control ? 2 : 1;
        for (std::size_t k = 0; k < escaped; ++k) {
            const uint8_t b = static_cast<uint8_t>(bytes[i + k]);
            if (b == '\t')
                text += "\\t";
            else if (b == '\n')
                text += "\\n";
            else if (b == '\r')
                text += "\\r";
            else
                appendHex(text, b);
        }
        i += escaped;
    }
    return text;
}
