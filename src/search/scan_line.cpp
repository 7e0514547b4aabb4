#include "search/scan_line.h"


namespace {

// "%.10d": at least ten digits, leading zeros. The scan never passes more
// than ten digits; a wider number still comes out whole.
void appendNumber(std::string& line, int64_t value)
{
    char digits[24];
    int n = 0;
    uint64_t rest = value < 0 ? 0 : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest > 0);
    for (int pad = n; pad < 10; ++pad)
        line += '0';
    while (n > 0)
        line += digits[--n];
}

} // namespace

std::string makeScanLine(int64_t key, int64_t size, std::string_view stamp, std::string_view path)
{
    std::string line;
    line.reserve(kScanPathColumn + path.size());
    appendNumber(line, key);
    appendNumber(line, size);
    line += ' ';
    line += stamp;
    line += ' ';
    line += path;
    return line;
}

std::string formatStamp(std::time_t lastWrite)
{
    std::tm local {};
    if (!localtime_r(&lastWrite, &local))
        return "0000/01/01 00/00/00";
    // tm_year may be close to INT_MAX for a time stamp far in the future.
    const int64_t year = int64_t {local.tm_year} + 1900;
    if (year < 0)
        return "0000/01/01 00/00/00";
    if (year > 9999)
        return "9999/12/31 23/59/58";
    std::string text = "0000/00/00 00/00/00";
    const auto put = [&](std::size_t at, int value) {
        text[at] = static_cast<char>('0' + value / 10 % 10);
        text[at + 1] = static_cast<char>('0' + value % 10);
    };
    put(0, static_cast<int>(year / 100));
    put(2, static_cast<int>(year % 100));
    put(5, local.tm_mon + 1);
    put(8, local.tm_mday);
    put(11, local.tm_hour);
    put(14, local.tm_min);
    put(17, local.tm_sec & ~1);
    return text;
}
