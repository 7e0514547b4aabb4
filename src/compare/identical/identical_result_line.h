#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "compare/identical/identical_match.h"

// The result line of one identical-picture match: the score and both
// FileTable indices in fixed width (the review reads them by position), the
// group means and maxima, the centroids of A and B side by side, and the two
// file names.
std::string identicalResultLine(int32_t indexA, int32_t indexB, const MatchResult& match,
                                const std::array<int32_t, 4>& centroidsA, const std::array<int32_t, 4>& centroidsB,
                                std::string_view pathA, std::string_view pathB);
