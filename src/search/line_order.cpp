#include "search/line_order.h"

#include <algorithm>

namespace {

unsigned char fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

} // namespace

bool lineLess(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = fold(static_cast<unsigned char>(a[i]));
        const unsigned char cb = fold(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    // Equal when folded: plain bytes decide (std::string_view compares as unsigned char).
    return a < b;
}

void sortLines(std::vector<std::string>& lines)
{
    std::sort(lines.begin(), lines.end(),
              [](const std::string& a, const std::string& b) { return lineLess(a, b); });
}
