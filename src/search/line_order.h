#pragma once

#include <string>
#include <string_view>
#include <vector>

// The order of the sorted lists (scan lines, result lines): bytes compared
// after folding ASCII A-Z to a-z; lines equal under the folding are ordered by
// their plain bytes. No locale, so every machine gives the same order.
bool lineLess(std::string_view a, std::string_view b);

// The folding of lineLess: ASCII A-Z to a-z, every other byte as it is.
inline unsigned char foldLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

void sortLines(std::vector<std::string>& lines);
