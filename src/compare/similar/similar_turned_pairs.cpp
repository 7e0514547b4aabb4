#include "compare/similar/similar_turned_pairs.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_set>

#include "common/parallel_for.h"
#include "picture/orientation.h"

namespace {

uint64_t pairKey(int32_t a, int32_t b)
{
    return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
}

// The two FileTable indices of a result line (characters 7-12 and 15-20).
uint64_t pairKeyOf(const std::string& line)
{
    return pairKey(std::atoi(line.substr(6, 6).c_str()), std::atoi(line.substr(14, 6).c_str()));
}

} // namespace

void addTurnedSimilarPairs(const SimilarPairPassInput& upright, std::span<const PackedSimilarSignature> turned,
                           int64_t progressBefore, std::vector<std::string>& lines, PairOrientations* orientations)
{
    const std::size_t fileCount = upright.files.size();
    constexpr auto kTurnedCount = static_cast<std::size_t>(kOrientationCount - 1);
    std::unordered_set<uint64_t> matched;
    for (const std::string& line : lines)
        matched.insert(pairKeyOf(line));

    // One orientation's signatures unpacked at a time, zeroed by the system
    // as it maps the pages: a file left out (no signature, or not taking
    // part) keeps spreads 0.
    const std::unique_ptr<SimilarSignature[], decltype(&std::free)> store(
        static_cast<SimilarSignature*>(std::calloc(std::max<std::size_t>(fileCount, 1), sizeof(SimilarSignature))),
        &std::free);
    if (!store)
        throw std::bad_alloc();
    const std::span<SimilarSignature> signatures(store.get(), fileCount);

    for (std::size_t o = 1; o <= kTurnedCount; ++o) {
        if (upright.abortFlag.load(std::memory_order_relaxed))
            return;
        parallelFor(static_cast<int64_t>(fileCount), upright.jobs, [&](int64_t f, int32_t) {
            const auto file = static_cast<std::size_t>(f);
            const File_rec& record = upright.files[file];
            if (record.skip == 0 && record.spreadA != 0 && record.spreadB != 0)
                unpackSimilarSignature(turned[file * kTurnedCount + o - 1], signatures[file]);
        }, upright.pool);

        SimilarPairPassInput input = upright;
        input.turned = signatures;
        input.progressBefore = progressBefore;
        input.passesAfter = static_cast<int32_t>(kTurnedCount - o);
        int64_t counted = 0;
        std::vector<std::string> found = runSimilarPairPass(input, &counted);
        progressBefore += counted;
        for (std::string& line : found) {
            const uint64_t key = pairKeyOf(line);
            if (!matched.insert(key).second)
                continue;
            if (orientations != nullptr)
                orientations->set(static_cast<int32_t>(key >> 32), static_cast<int32_t>(key & 0xFFFFFFFFu),
                                  orientationAt(static_cast<int32_t>(o)));
            lines.push_back(std::move(line));
        }
    }
}
