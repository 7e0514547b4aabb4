#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "crosscheck/reference_identical.h"
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

// The whole engine: signature pass and pair pass over the table. Writes Skip
// and the spreads into the table.
RefOutcome refCompareSimilar(FileTable& files, int32_t level);

} // namespace crosscheck
