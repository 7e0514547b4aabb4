#include "search/scan_line.h"

#include <cstdio>

std::string makeScanLine(int64_t key, int64_t size, std::string_view stamp, std::string_view path)
{
    char head[32];
    std::snprintf(head, sizeof head, "%.10lld%.10lld ", static_cast<long long>(key),
                  static_cast<long long>(size));
    std::string line;
    line.reserve(kScanPathColumn + path.size());
    line += head;
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
    int year = local.tm_year + 1900;
    if (year < 0)
        return "0000/01/01 00/00/00";
    if (year > 9999)
        return "9999/12/31 23/59/58";
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d/%02d/%02d", year, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec & ~1);
    return text;
}
