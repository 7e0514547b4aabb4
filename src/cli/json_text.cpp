#include "cli/json_text.h"

#include <cstdint>

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not valid.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    std::size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return n;
}

} // namespace

std::string utf8Text(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = utf8Length(bytes, i);
        if (n == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text.append(bytes.substr(i, n));
            i += n;
        }
    }
    return text;
}

std::string jsonText(const Json& value)
{
    const std::string dumped = value.dump();
    if (dumped.find('\\') == std::string::npos)
        return dumped;
    // A backslash appears only inside strings, where each one opens an
    // escape: the character after it says which.
    std::string text;
    text.reserve(dumped.size() + 16);
    for (std::size_t i = 0; i < dumped.size(); ++i) {
        if (dumped[i] != '\\' || i + 1 == dumped.size()) {
            text += dumped[i];
            continue;
        }
        const char escape = dumped[++i];
        if (escape == 'b')
            text += "\\u0008";
        else if (escape == 'f')
            text += "\\u000c";
        else
            (text += '\\') += escape;
    }
    return text;
}
