#include "review/pair_list.h"

namespace {

std::optional<int32_t> parseField(std::string_view line, std::size_t from, std::size_t width)
{
    if (line.size() < from + width)
        return std::nullopt;
    int32_t value = 0;
    for (std::size_t i = from; i < from + width; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<ResultIndices> parseResultIndices(std::string_view line)
{
    const auto a = parseField(line, 6, 6);
    const auto b = parseField(line, 14, 6);
    if (!a || !b)
        return std::nullopt;
    return ResultIndices {*a, *b};
}

std::vector<PairRec> buildPairList(const std::vector<std::string>& resultLines)
{
    std::vector<PairRec> pairs;
    pairs.reserve(resultLines.size());
    for (const std::string& line : resultLines) {
        const auto indices = parseResultIndices(line);
        if (indices)
            pairs.push_back(PairRec {kPairWaiting, indices->indexA, indices->indexB});
    }
    return pairs;
}

std::vector<PairRec> rebuildPairList(const std::vector<std::string>& resultLines, const FileTable& files)
{
    std::vector<PairRec> pairs;
    const auto count = static_cast<int32_t>(files.size());
    for (const std::string& line : resultLines) {
        const auto indices = parseResultIndices(line);
        if (!indices || indices->indexA >= count || indices->indexB >= count)
            continue;
        if (files[indices->indexA].skip == 0 && files[indices->indexB].skip == 0)
            pairs.push_back(PairRec {kPairWaiting, indices->indexA, indices->indexB});
    }
    return pairs;
}
