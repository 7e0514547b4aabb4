#include "search/scan_line.h"

#include <algorithm>
#include <cstring>

#include "search/line_order.h"

namespace {

constexpr std::size_t kKeyColumn = 0;
constexpr std::size_t kSizeColumn = 10;
constexpr std::size_t kNumberWidth = 10;
constexpr std::size_t kStampColumn = 21;
constexpr std::size_t kStampWidth = 19;
constexpr std::size_t kPathColumn = 41;

// The width of a number column: ten digits, more for a wider number.
std::size_t numberWidth(int64_t value)
{
    std::size_t width = kNumberWidth;
    for (int64_t rest = value / 10'000'000'000; rest > 0; rest /= 10)
        ++width;
    return width;
}

// `value` in `width` digits with leading zeros; a negative number as 0.
char* writeNumber(char* out, int64_t value, std::size_t width)
{
    uint64_t rest = value < 0 ? 0 : static_cast<uint64_t>(value);
    for (std::size_t i = width; i-- > 0;) {
        out[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    return out + width;
}

// The 19 characters "yyyy/mm/dd hh/nn/ss" of a stamp number yyyymmddhhnnss.
void writeStamp(int64_t stamp, char* out)
{
    // Digit positions, last digit first.
    static constexpr int kDigitAt[14] = {18, 17, 15, 14, 12, 11, 9, 8, 6, 5, 3, 2, 1, 0};
    out[4] = out[7] = '/';
    out[10] = ' ';
    out[13] = out[16] = '/';
    uint64_t rest = static_cast<uint64_t>(stamp);
    for (int at : kDigitAt) {
        out[at] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
}

// The value of the digits of line[from, from + width); what the line lacks reads as nothing.
int64_t digitsValue(std::string_view line, std::size_t from, std::size_t width)
{
    int64_t value = 0;
    for (std::size_t i = from; i < from + width && i < line.size(); ++i) {
        const char c = line[i];
        if (c >= '0' && c <= '9')
            value = value * 10 + (c - '0');
    }
    return value;
}

uint64_t foldedHead(std::string_view path)
{
    uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = head << 8 | (i < path.size() ? foldLetter(static_cast<unsigned char>(path[i])) : 0u);
    return head;
}

} // namespace

std::string ScanLine::format(const Columns& columns, std::string_view path)
{
    const std::size_t keyWidth = numberWidth(columns.key);
    const std::size_t sizeWidth = numberWidth(columns.size);
    std::string line(keyWidth + sizeWidth + 1 + kStampWidth + 1 + path.size(), ' ');
    char* out = writeNumber(writeNumber(line.data(), columns.key, keyWidth), columns.size, sizeWidth);
    writeStamp(columns.stamp, out + 1);
    std::memcpy(out + 1 + kStampWidth + 1, path.data(), path.size());
    return line;
}

int64_t ScanLine::key() const
{
    return digitsValue(m_line, kKeyColumn, kNumberWidth);
}

int64_t ScanLine::size() const
{
    return digitsValue(m_line, kSizeColumn, kNumberWidth);
}

int64_t ScanLine::stampNumber() const
{
    return digitsValue(m_line, kStampColumn, kStampWidth);
}

std::string_view ScanLine::stamp() const
{
    return m_line.size() >= kStampColumn + kStampWidth ? m_line.substr(kStampColumn, kStampWidth) : std::string_view();
}

std::string_view ScanLine::path() const
{
    return m_line.size() > kPathColumn ? m_line.substr(kPathColumn) : std::string_view();
}

ScanLine::Order ScanLine::order(std::size_t sharedPath) const
{
    const std::string_view whole = path();
    return Order(Columns {key(), size(), stampNumber()}, whole.substr(std::min(sharedPath, whole.size())));
}

ScanLine::Order::Order(const Columns& columns, std::string_view pathAfter)
    : m_key(columns.key),
      m_size(columns.size),
      m_stamp(columns.stamp),
      m_pathHead(foldedHead(pathAfter)),
      m_path(pathAfter.data()),
      m_pathLength(static_cast<uint32_t>(pathAfter.size()))
{
}

bool ScanLine::Order::operator<(const Order& other) const
{
    if (m_key != other.m_key)
        return m_key < other.m_key;
    if (m_size != other.m_size)
        return m_size < other.m_size;
    if (m_stamp != other.m_stamp)
        return m_stamp < other.m_stamp;
    if (m_pathHead != other.m_pathHead)
        return m_pathHead < other.m_pathHead;
    return lineLess({m_path, m_pathLength}, {other.m_path, other.m_pathLength});
}
