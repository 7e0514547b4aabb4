#include "search/pair_list.h"

namespace {

// More digits than this could overflow an int32; no FileTable gets near it.
constexpr std::size_t kMaxIndexDigits = 9;

struct DigitField {
    int32_t value = 0;
    std::size_t end = 0; // one past the last digit
};

std::optional<DigitField> readDigits(std::string_view line, std::size_t from)
{
    DigitField field;
    std::size_t i = from;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        if (i - from == kMaxIndexDigits)
            return std::nullopt;
        field.value = field.value * 10 + (line[i] - '0');
        ++i;
    }
    if (i == from)
        return std::nullopt;
    field.end = i;
    return field;
}

} // namespace

std::optional<ResultIndices> parseResultIndices(std::string_view line)
{
    constexpr std::string_view kSeparator = ", ";
    const std::size_t scoreEnd = line.find(kSeparator);
    if (scoreEnd == std::string_view::npos)
        return std::nullopt;
    const auto a = readDigits(line, scoreEnd + kSeparator.size());
    if (!a || line.substr(a->end, kSeparator.size()) != kSeparator)
        return std::nullopt;
    const auto b = readDigits(line, a->end + kSeparator.size());
    if (!b || (b->end < line.size() && line[b->end] != ','))
        return std::nullopt;
    return ResultIndices {a->value, b->value};
}

std::vector<PairRec> buildPairList(const std::vector<std::string>& resultLines)
{
    std::vector<PairRec> pairs;
    pairs.reserve(resultLines.size());
    for (const std::string& line : resultLines) {
        if (const auto indices = parseResultIndices(line))
            pairs.push_back(PairRec {PairState::Waiting, indices->indexA, indices->indexB});
    }
    return pairs;
}

std::vector<PairRec> rebuildPairList(const std::vector<std::string>& resultLines, const FileTable& files)
{
    std::vector<PairRec> pairs;
    pairs.reserve(resultLines.size());
    const auto isLive = [&files](int32_t index) {
        return index >= 0 && static_cast<std::size_t>(index) < files.size() && files[index].skip == 0;
    };
    for (const std::string& line : resultLines) {
        const auto indices = parseResultIndices(line);
        if (indices && isLive(indices->indexA) && isLive(indices->indexB))
            pairs.push_back(PairRec {PairState::Waiting, indices->indexA, indices->indexB});
    }
    return pairs;
}
