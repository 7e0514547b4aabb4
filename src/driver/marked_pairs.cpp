#include "driver/marked_pairs.h"

#include <cstdint>
#include <map>
#include <memory>

#include "marks/mark_store.h"
#include "search/pair_list.h"

MarkedPairs applyNotSameMarks(const std::string& cacheFile, const FileTable& files,
                              std::vector<std::string>& resultLines, bool keepMarked)
{
    MarkedPairs outcome;
    if (resultLines.empty())
        return outcome;
    std::string problem;
    const auto setAside = [&](const std::string& why) {
        outcome.warning = "the not-same marks in " + cacheFile + " cannot be used (" + why + "); going on without them";
        return outcome;
    };
    const std::unique_ptr<MarkStore> marks = MarkStore::open(cacheFile, problem);
    if (!marks)
        return setAside(problem);
    const std::optional<int64_t> markCount = marks->markCount();
    if (!markCount)
        return setAside(marks->problem());
    if (*markCount == 0)
        return outcome;

    // A file met in several pairs is hashed once; one that cannot be read
    // (gone meanwhile) keeps its pairs.
    std::map<int32_t, std::optional<ContentHash>> hashes;
    const auto hashOf = [&](int32_t index) -> const std::optional<ContentHash>& {
        auto [at, fresh] = hashes.try_emplace(index);
        if (fresh && index >= 0 && static_cast<std::size_t>(index) < files.size())
            at->second = marks->contentHashOf(files[static_cast<std::size_t>(index)].path);
        return at->second;
    };
    // Decided for every line before any is dropped: a fault halfway leaves
    // the list whole.
    std::vector<uint8_t> marked(resultLines.size(), 0);
    int32_t count = 0;
    for (std::size_t i = 0; i < resultLines.size(); ++i) {
        const std::optional<ResultIndices> pair = parseResultIndices(resultLines[i]);
        if (!pair)
            continue;
        const std::optional<ContentHash>& a = hashOf(pair->indexA);
        const std::optional<ContentHash>& b = hashOf(pair->indexB);
        if (!marks->problem().empty())
            return setAside(marks->problem());
        if (!a || !b)
            continue;
        const std::optional<bool> found = marks->isMarked(*a, *b);
        if (!found)
            return setAside(marks->problem());
        marked[i] = *found ? 1 : 0;
        count += marked[i];
    }
    outcome.count = count;
    if (!keepMarked && count > 0) {
        std::vector<std::string> kept;
        kept.reserve(resultLines.size() - static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < resultLines.size(); ++i) {
            if (!marked[i])
                kept.push_back(std::move(resultLines[i]));
        }
        outcome.dropped = count;
        resultLines = std::move(kept);
    }
    return outcome;
}
