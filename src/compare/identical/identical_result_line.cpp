#include "compare/identical/identical_result_line.h"

#include <cstdio>

#include "common/file_name.h"

std::string identicalResultLine(int32_t indexA, int32_t indexB, const MatchResult& match,
                                const std::array<int32_t, 4>& centroidsA, const std::array<int32_t, 4>& centroidsB,
                                std::string_view pathA, std::string_view pathB)
{
    char buffer[256];
    int length = std::snprintf(buffer, sizeof buffer, "%.4d, %.6d, %.6d", match.totalScore, indexA, indexB);
    for (int32_t g = 0; g < kGroupCount; ++g)
        length += std::snprintf(buffer + length, sizeof buffer - static_cast<std::size_t>(length), ", %.4d,%.4d",
                                match.mean[g], match.max[g]);
    for (int32_t k = 0; k < 4; ++k)
        length += std::snprintf(buffer + length, sizeof buffer - static_cast<std::size_t>(length), ", %.2d,%.2d",
                                centroidsA[k], centroidsB[k]);
    std::string line(buffer, static_cast<std::size_t>(length));
    line += ", ";
    line += fileNameOf(pathA);
    line += ',';
    line += fileNameOf(pathB);
    return line;
}
