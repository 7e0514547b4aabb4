#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "crosscheck/reference_identical.h"
#include "picture/orientation.h"
#include "picture/picture.h"
#include "search/file_table.h"

// A plain, single-threaded second implementation of the similar-picture engine,
// written apart from the real one so that the two can check each other.
namespace crosscheck {

inline constexpr int32_t kRefSimilarGrid = 70;

struct RefSimilarSignature {
    std::array<std::array<uint8_t, kRefSimilarGrid>, kRefSimilarGrid> contrastMap {}; // [x][y]
    std::array<std::array<uint8_t, kRefSimilarGrid>, 13> profiles {};
    std::array<int32_t, 11> centroidX {};
    std::array<int32_t, 11> centroidY {};
    std::array<int32_t, 3> planeTotals {};
    std::array<int32_t, 13> bandCodes {};
    int32_t spreadA = 0;
    int32_t spreadB = 0;
    std::array<int32_t, 4> frame {}; // Left, Right, Top, Bottom after the first stretch
};

RefSimilarSignature refSimilarSignature(const Picture& picture);

// The orientation of each pair (A, B) that matched only turned.
using RefTurnedPairs = std::map<std::pair<int32_t, int32_t>, Orientation>;

// The whole engine: signature pass and pair pass over the table. Writes Skip
// and the spreads into the table. With `turned`, a pair that does not match
// upright is tried with B's picture turned to each orientation in order
// (each signature taken from the picture turned in memory), and its first
// matching orientation goes there.
RefOutcome refCompareSimilar(FileTable& files, int32_t level, RefTurnedPairs* turned = nullptr);

} // namespace crosscheck
