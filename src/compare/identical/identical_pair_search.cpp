#include "compare/identical/identical_pair_search.h"

#include <algorithm>
#include <cstdint>

#include "common/parallel_for.h"

namespace {

// How many candidates are looked at between two looks at the abort flag.
constexpr int32_t kAbortPollInterval = 1024;

// The signatures ordered by their first two centroid values, so that the
// candidates of A within the centroid limit are a few short stretches.
struct CentroidIndex {
    struct Entry {
        int32_t c0, c1, c2, c3;
        int32_t position;
    };
    std::vector<Entry> entries;

    explicit CentroidIndex(std::span<const PairSignature> signatures)
    {
        entries.reserve(signatures.size());
        for (std::size_t i = 0; i < signatures.size(); ++i) {
            const auto& c = signatures[i].centroids;
            entries.push_back(Entry {c[0], c[1], c[2], c[3], static_cast<int32_t>(i)});
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
            if (x.c0 != y.c0)
                return x.c0 < y.c0;
            if (x.c1 != y.c1)
                return x.c1 < y.c1;
            return x.position < y.position;
        });
    }

    // The stretch of entries with centroid 0 equal to c0 and centroid 1 in [lo1, hi1].
    std::pair<const Entry*, const Entry*> stretch(int32_t c0, int32_t lo1, int32_t hi1) const
    {
        auto below = [](const Entry& e, std::pair<int32_t, int32_t> key) {
            return e.c0 < key.first || (e.c0 == key.first && e.c1 < key.second);
        };
        auto above = [](std::pair<int32_t, int32_t> key, const Entry& e) {
            return key.first < e.c0 || (key.first == e.c0 && key.second < e.c1);
        };
        const Entry* begin = entries.data();
        const Entry* end = begin + entries.size();
        const Entry* first = std::lower_bound(begin, end, std::pair {c0, lo1}, below);
        return {first, std::upper_bound(first, end, std::pair {c0, hi1}, above)};
    }
};

} // namespace

std::vector<PairMatch> findIdenticalPairs(std::span<const PairSignature> signatures, const MatchLimits& limits,
                                          int32_t jobs, const std::atomic<bool>& abortFlag, const PairProgress& progress)
{
    const int64_t count = static_cast<int64_t>(signatures.size());
    if (count < 2 || abortFlag.load(std::memory_order_relaxed))
        return {};
    const CentroidIndex index(signatures);
    const int32_t limit = std::max(0, limits.centroid);
    jobs = static_cast<int32_t>(std::min<int64_t>(resolveJobs(jobs), count));

    std::vector<std::vector<PairMatch>> found(static_cast<std::size_t>(jobs));
    std::atomic<int64_t> done {0};
    parallelFor(count, jobs, [&](int64_t row, int32_t worker) {
        if (abortFlag.load(std::memory_order_relaxed))
            return;
        const int32_t a = static_cast<int32_t>(row);
        const PairSignature& sa = signatures[static_cast<std::size_t>(a)];
        const auto& ca = sa.centroids;
        std::vector<PairMatch>& out = found[static_cast<std::size_t>(worker)];
        const std::size_t firstOfRow = out.size();
        int32_t sincePoll = 0;
        // Offsets are taken in 64 bits: centroids are small, but nothing here relies on it.
        for (int64_t c0 = int64_t {ca[0]} - limit; c0 <= int64_t {ca[0]} + limit; ++c0) {
            if (c0 < INT32_MIN || c0 > INT32_MAX)
                continue;
            const int32_t lo1 = static_cast<int32_t>(std::max<int64_t>(INT32_MIN, int64_t {ca[1]} - limit));
            const int32_t hi1 = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t {ca[1]} + limit));
            const auto [first, last] = index.stretch(static_cast<int32_t>(c0), lo1, hi1);
            for (const auto* e = first; e != last; ++e) {
                if (e->position <= a)
                    continue;
                const int64_t d2 = int64_t {e->c2} - ca[2], d3 = int64_t {e->c3} - ca[3];
                if (d2 > limit || d2 < -limit || d3 > limit || d3 < -limit)
                    continue;
                if (++sincePoll == kAbortPollInterval) {
                    sincePoll = 0;
                    if (abortFlag.load(std::memory_order_relaxed))
                        return;
                }
                PairMatch match;
                if (MatchSignatures(sa, signatures[static_cast<std::size_t>(e->position)], limits, match.result)) {
                    match.a = a;
                    match.b = e->position;
                    out.push_back(match);
                }
            }
        }
        // Within a row the stretches come in centroid order; put them in member order.
        std::sort(out.begin() + static_cast<std::ptrdiff_t>(firstOfRow), out.end(),
                  [](const PairMatch& x, const PairMatch& y) { return x.b < y.b; });
        const int64_t finished = done.fetch_add(1, std::memory_order_relaxed) + 1;
        if (progress)
            progress(finished, count);
    });

    std::vector<PairMatch> all;
    for (auto& part : found)
        all.insert(all.end(), part.begin(), part.end());
    std::sort(all.begin(), all.end(), [](const PairMatch& x, const PairMatch& y) {
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    return all;
}
