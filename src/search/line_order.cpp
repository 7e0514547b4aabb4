#include "search/line_order.h"

#include <algorithm>
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

void sortLines(std::vector<std::string>& lines)
{
    // Folding each line once and comparing the folded copies as plain bytes
    // gives the same order as lineLess at a fraction of the cost per compare.
    struct Entry {
        std::string folded;
        std::string line;
    };
    std::vector<Entry> entries;
    entries.reserve(lines.size());
    for (std::string& line : lines) {
        std::string folded = line;
        for (char& c : folded)
            c = static_cast<char>(foldLetter(static_cast<unsigned char>(c)));
        entries.push_back(Entry {std::move(folded), std::move(line)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int byFolded = a.folded.compare(b.folded);
        return byFolded != 0 ? byFolded < 0 : a.line < b.line;
    });
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i] = std::move(entries[i].line);
}
