#include "search/line_order.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

namespace {

// Lines that tie in their first 16 bytes, differ only in letter case, end
// inside or right at the 16 bytes, carry bytes above 127 and NULs: every way
// the sort can settle on a prefix and be wrong.
std::vector<std::string> awkwardLines(uint32_t seed, int32_t count)
{
    std::mt19937 rng(seed);
    const auto pick = [&rng](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    static constexpr char kBytes[] = "aAbBzZ_[`{09 ,.\0\x7f\x80\xc3\xff";
    const std::string alphabet(kBytes, sizeof kBytes - 1);
    std::vector<std::string> lines;
    for (int32_t n = 0; n < count; ++n) {
        std::string line;
        switch (pick(0, 3)) {
        case 0: // a result line: score and indices, then names
            line.push_back('0');
            line += std::to_string(pick(100, 105));
            line += ", 0000";
            line += std::to_string(pick(10, 12));
            line += ", 000040, ";
            break;
        case 1:
            line = std::string(static_cast<std::size_t>(pick(14, 17)), 'a'); // ends near the key's end
            break;
        case 2:
            line = "ABCDEFGHIJKLMNOP"; // sixteen letters, folded equal to the lower-case ones
            break;
        default:
            break;
        }
        const int32_t tail = pick(0, 4);
        for (int32_t i = 0; i < tail; ++i)
            line += alphabet[static_cast<std::size_t>(pick(0, static_cast<int32_t>(alphabet.size()) - 1))];
        if (pick(0, 5) == 0)
            std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
        lines.push_back(line);
    }
    lines.push_back("");
    lines.push_back("abcdefghijklmnop");
    return lines;
}

} // namespace

TEST(LineOrderTest, SortLinesGivesTheOrderOfLineLess)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        std::vector<std::string> lines = awkwardLines(seed, 3000);
        std::vector<std::string> expected = lines;
        std::sort(expected.begin(), expected.end(),
                  [](const std::string& a, const std::string& b) { return lineLess(a, b); });
        sortLines(lines);
        EXPECT_EQ(lines, expected) << "seed " << seed;
    }
}

TEST(LineOrderTest, LinesEqualWhenFoldedAreOrderedByTheirBytes)
{
    std::vector<std::string> lines {"abcdefghijklmnopq", "ABCDEFGHIJKLMNOPQ", "abcdefghijklmnop", "ABCDEFGHIJKLMNOPq",
                                    "abc", "ABC", "ab", "abcdefghijklmnop\x01", std::string("abcdefghijklmnop\0", 17)};
    sortLines(lines);
    const std::vector<std::string> expected {"ab",
                                             "ABC",
                                             "abc",
                                             "abcdefghijklmnop",
                                             std::string("abcdefghijklmnop\0", 17),
                                             "abcdefghijklmnop\x01",
                                             "ABCDEFGHIJKLMNOPQ",
                                             "ABCDEFGHIJKLMNOPq",
                                             "abcdefghijklmnopq"};
    EXPECT_EQ(lines, expected);
}
