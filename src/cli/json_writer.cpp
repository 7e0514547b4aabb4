#include "cli/json_writer.h"

#include <cstdio>

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

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t n = utf8Length(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
}

void JsonWriter::separate()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (!m_first.back())
            m_out += ',';
        m_first.back() = false;
    }
}

void JsonWriter::beginObject()
{
    separate();
    m_out += '{';
    m_first.push_back(true);
}

void JsonWriter::endObject()
{
    m_first.pop_back();
    m_out += '}';
}

void JsonWriter::beginArray()
{
    separate();
    m_out += '[';
    m_first.push_back(true);
}

void JsonWriter::endArray()
{
    m_first.pop_back();
    m_out += ']';
}

void JsonWriter::key(std::string_view name)
{
    separate();
    appendJsonString(m_out, name);
    m_out += ':';
    m_afterKey = true;
}

void JsonWriter::value(std::string_view text)
{
    separate();
    appendJsonString(m_out, text);
}

void JsonWriter::value(int64_t number)
{
    separate();
    m_out += std::to_string(number);
}

void JsonWriter::value(double number)
{
    separate();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", number);
    m_out += buf;
}

void JsonWriter::value(bool flag)
{
    separate();
    m_out += flag ? "true" : "false";
}

void JsonWriter::intArray(const std::vector<int32_t>& numbers)
{
    beginArray();
    for (int32_t n : numbers)
        value(n);
    endArray();
}
