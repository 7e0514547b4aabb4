#include "search/line_order.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

bool lineLess(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    // Lines of a sorted list share long prefixes (keys, folders): pass over
    // equal stretches eight bytes at a time, since equal bytes fold equal.
    std::size_t i = 0;
    while (i + 8 <= n && std::memcmp(a.data() + i, b.data() + i, 8) == 0)
        i += 8;
    for (; i < n; ++i) {
        const unsigned char ca = foldLetter(static_cast<unsigned char>(a[i]));
        const unsigned char cb = foldLetter(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    // Equal when folded: plain bytes decide (std::string_view compares as unsigned char).
    return a < b;
}

namespace {

// The first 16 bytes of a line, folded, as two big-endian numbers, zeros past
// its end. Two lines whose keys differ are in the order of their keys under
// lineLess: at the first byte that differs either both lines have it (and it
// decides) or the shorter line has ended (and the shorter comes first).
struct PrefixKey {
    uint64_t high = 0;
    uint64_t low = 0;
    std::size_t index = 0;
};

PrefixKey prefixKeyOf(std::string_view line, std::size_t index)
{
    PrefixKey key;
    key.index = index;
    for (std::size_t i = 0; i < 16; ++i) {
        const uint64_t byte = i < line.size() ? foldLetter(static_cast<unsigned char>(line[i])) : 0;
        (i < 8 ? key.high : key.low) |= byte << (8 * (7 - i % 8));
    }
    return key;
}

} // namespace

void sortLines(std::vector<std::string>& lines)
{
    // Positions are sorted, not lines: most comparisons end at the keys, and
    // each line is moved once at the end, never copied (result lists of a
    // large search hold millions of lines).
    std::vector<PrefixKey> keys;
    keys.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        keys.push_back(prefixKeyOf(lines[i], i));
    std::sort(keys.begin(), keys.end(), [&lines](const PrefixKey& a, const PrefixKey& b) {
        if (a.high != b.high)
            return a.high < b.high;
        if (a.low != b.low)
            return a.low < b.low;
        return lineLess(lines[a.index], lines[b.index]);
    });
    std::vector<std::string> sorted;
    sorted.reserve(lines.size());
    for (const PrefixKey& key : keys)
        sorted.push_back(std::move(lines[key.index]));
    lines = std::move(sorted);
}
