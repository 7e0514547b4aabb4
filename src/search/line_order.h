#pragma once

#include <string>
#include <string_view>
#include <vector>

// The order of the sorted lists (scan lines, result lines): bytes compared
// after folding ASCII A-Z to a-z; lines equal under the folding are ordered by
// their plain bytes. No locale, so every machine gives the same order.
bool lineLess(std::string_view a, std::string_view b);

void sortLines(std::vector<std::string>& lines);
