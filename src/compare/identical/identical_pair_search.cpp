#include "compare/identical/identical_pair_search.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "common/parallel_for.h"
#include "compare/identical/identical_pair_bound.h"

namespace {

// How many candidates are looked at between two looks at the abort flag.
constexpr int32_t kAbortPollInterval = 1024;

constexpr int32_t kShifts = 2 * kMaxHalfShift + 1;

// The signatures ordered by their four centroid values (then by position),
// so that the pairs within the centroid limit are found as a few short
// stretches of it and the pairs the centroid gate rejects are never looked
// at. Each entry carries the tone spans, read in memory order along a
// stretch; the block sums at each shift, for the fewer pairs the spans do
// not rule out, are kept in the same order beside them.
class CentroidIndex {
public:
    struct Entry {
        ToneSpan tone;
        std::array<int32_t, 4> c;
        int32_t position;
    };

    explicit CentroidIndex(std::span<const PairSignature> signatures)
    {
        m_entries.reserve(signatures.size());
        for (std::size_t i = 0; i < signatures.size(); ++i) {
            m_entries.push_back(
                Entry {ToneSpan::of(signatures[i]), signatures[i].centroids, static_cast<int32_t>(i)});
        }
        std::sort(m_entries.begin(), m_entries.end(),
                  [](const Entry& x, const Entry& y) { return x.c != y.c ? x.c < y.c : x.position < y.position; });
        // Every shift the offset comparison can give either side (|h1|, |h2| <= 2).
        m_sums.resize(m_entries.size() * kShifts);
        m_signatures.reserve(m_entries.size());
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            const PairSignature& sig = signatures[static_cast<std::size_t>(m_entries[i].position)];
            m_signatures.push_back(sig);
            for (int32_t s = 0; s < kShifts; ++s)
                m_sums[i * kShifts + static_cast<std::size_t>(s)] = ProfileBlockSums::of(sig, s - kMaxHalfShift);
        }
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            const auto& c = m_entries[i].c;
            if (m_cells.empty() || m_cells.back().c0 != c[0] || m_cells.back().c1 != c[1])
                m_cells.push_back(Cell {c[0], c[1], i, i});
            m_cells.back().end = i + 1;
        }
        for (int32_t k = 0; k < 2; ++k) {
            const auto [lo, hi] = std::minmax_element(m_entries.begin(), m_entries.end(),
                                                      [k](const Entry& x, const Entry& y) { return x.c[k] < y.c[k]; });
            m_min[k] = lo->c[k];
            m_max[k] = hi->c[k];
        }
    }

    std::size_t size() const { return m_entries.size(); }
    const Entry& operator[](std::size_t i) const { return m_entries[i]; }

    const PairSignature& signature(const Entry& e) const
    {
        return m_signatures[static_cast<std::size_t>(&e - m_entries.data())];
    }

    // The block sums of entry e with its positions moved by `shift`.
    const ProfileBlockSums& sums(const Entry& e, int32_t shift) const
    {
        const auto i = static_cast<std::size_t>(&e - m_entries.data());
        return m_sums[i * kShifts + static_cast<std::size_t>(shift + kMaxHalfShift)];
    }

    // The entries with centroids 0 and 1 equal to c0 and c1 and centroid 2 in
    // [lo2, hi2]. The (c0, c1) cells are few and looked up first, so that the
    // search of the whole index touches little memory.
    std::pair<const Entry*, const Entry*> stretch(int32_t c0, int32_t c1, int32_t lo2, int32_t hi2) const
    {
        const auto cell = std::lower_bound(m_cells.begin(), m_cells.end(), std::pair {c0, c1},
                                           [](const Cell& x, const std::pair<int32_t, int32_t>& k) {
                                               return std::pair {x.c0, x.c1} < k;
                                           });
        if (cell == m_cells.end() || cell->c0 != c0 || cell->c1 != c1)
            return {nullptr, nullptr};
        const Entry* begin = m_entries.data() + cell->begin;
        const Entry* end = m_entries.data() + cell->end;
        const Entry* first = std::lower_bound(begin, end, lo2, [](const Entry& e, int32_t v) { return e.c[2] < v; });
        const Entry* last = std::upper_bound(first, end, hi2, [](int32_t v, const Entry& e) { return v < e.c[2]; });
        return {first, last};
    }

    // Calls visit(from, to) for each (c0, c1) cell with c1 in [lo1, hi1], on
    // the entries with centroid 2 in [lo2, hi2]: one lookup for the row of
    // cells, then a walk along it.
    template <typename Visit>
    bool forEachStretch(int32_t c0, int32_t lo1, int32_t hi1, int32_t lo2, int32_t hi2, Visit&& visit) const
    {
        auto cell = std::lower_bound(m_cells.begin(), m_cells.end(), std::pair {c0, lo1},
                                     [](const Cell& x, const std::pair<int32_t, int32_t>& k) {
                                         return std::pair {x.c0, x.c1} < k;
                                     });
        for (; cell != m_cells.end() && cell->c0 == c0 && cell->c1 <= hi1; ++cell) {
            const Entry* begin = m_entries.data() + cell->begin;
            const Entry* end = m_entries.data() + cell->end;
            const Entry* first = std::lower_bound(begin, end, lo2, [](const Entry& e, int32_t v) { return e.c[2] < v; });
            const Entry* last = std::upper_bound(first, end, hi2, [](int32_t v, const Entry& e) { return v < e.c[2]; });
            if (first != last && !visit(first, last))
                return false;
        }
        return true;
    }

    // The range [c - limit, c + limit] of centroid k, cut to the values present.
    std::pair<int32_t, int32_t> reach(int32_t k, int32_t c, int32_t limit) const
    {
        return {static_cast<int32_t>(std::max<int64_t>(m_min[k], int64_t {c} - limit)),
                static_cast<int32_t>(std::min<int64_t>(m_max[k], int64_t {c} + limit))};
    }

private:
    // The entries [begin, end) with centroids 0 and 1 equal to c0 and c1.
    struct Cell {
        int32_t c0, c1;
        std::size_t begin, end;
    };

    std::vector<Entry> m_entries;
    std::vector<ProfileBlockSums> m_sums; // kShifts per entry, in entry order
    std::vector<PairSignature> m_signatures; // in entry order too: the pairs decided lie near each other
    std::vector<Cell> m_cells;
    std::array<int32_t, 2> m_min {}, m_max {};
};

// The pair phase seen from one index entry: every later entry within the
// centroid limit, each pair decided once, the member met first as A.
class RowSearch {
public:
    RowSearch(const CentroidIndex& index, const MatchLimits& limits, const PairBound& bound,
              const std::atomic<bool>& abortFlag)
        : m_index(index)
        , m_limits(limits)
        , m_bound(bound)
        , m_limit(std::max(0, limits.centroid))
        , m_abortFlag(abortFlag)
    {
    }

    // False when the abort flag was seen.
    bool run(std::size_t row, std::vector<PairMatch>& out)
    {
        const CentroidIndex::Entry& x = m_index[row];
        const auto& c = x.c;
        const auto lo2 = static_cast<int32_t>(std::max<int64_t>(INT32_MIN, int64_t {c[2]} - m_limit));
        const auto hi2 = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t {c[2]} + m_limit));
        // The entries after x in the order (c0, c1, c2, c3, position) that
        // pass the centroid gate with x lie in: x's own (c0, c1) cell past x
        // (where c2 is at least x's), up to c2 + limit; the cells (c0, c1 + 1
        // .. c1 + limit); and the cells (c0 + 1 .. c0 + limit, c1 - limit ..
        // c1 + limit), each with c2 within the limit; c3 is tested one by one.
        // No entry before x lies there, so every pair within the centroid
        // limit is tried exactly once, from its earlier entry.
        if (!scan(x, &m_index[row] + 1, m_index.stretch(c[0], c[1], c[2], hi2).second, out))
            return false;
        const auto [lo1, hi1] = m_index.reach(1, c[1], m_limit);
        const auto [lo0, hi0] = m_index.reach(0, c[0], m_limit);
        for (int64_t c1 = int64_t {c[1]} + 1; c1 <= hi1; ++c1) {
            const auto [from, to] = m_index.stretch(c[0], static_cast<int32_t>(c1), lo2, hi2);
            if (!scan(x, from, to, out))
                return false;
        }
        for (int64_t c0 = int64_t {c[0]} + 1; c0 <= hi0; ++c0) {
            for (int64_t c1 = lo1; c1 <= hi1; ++c1) {
                const auto [from, to] = m_index.stretch(static_cast<int32_t>(c0), static_cast<int32_t>(c1), lo2, hi2);
                if (!scan(x, from, to, out))
                    return false;
            }
        }
        return true;
    }

private:
    bool scan(const CentroidIndex::Entry& x, const CentroidIndex::Entry* from, const CentroidIndex::Entry* to,
              std::vector<PairMatch>& out)
    {
        for (const auto* y = from; y < to; ++y) {
            const int64_t d3 = int64_t {y->c[3]} - x.c[3];
            if (d3 > m_limit || d3 < -m_limit)
                continue;
            if (++m_sincePoll == kAbortPollInterval) {
                m_sincePoll = 0;
                if (m_abortFlag.load(std::memory_order_relaxed))
                    return false;
            }
            if (m_bound.surelyFailsAtAnyShift(x.tone, y->tone))
                continue;
            const bool xFirst = x.position < y->position;
            const CentroidIndex::Entry& a = xFirst ? x : *y;
            const CentroidIndex::Entry& b = xFirst ? *y : x;
            const MatchOffset offset = matchOffset(a.c, b.c);
            if (m_bound.surelyFails(offset, m_index.sums(a, 0), m_index.sums(b, 0), m_index.sums(a, offset.h1),
                                    m_index.sums(b, -offset.h2)))
                continue;
            PairMatch match;
            if (MatchSignatures(m_index.signature(a), m_index.signature(b), m_limits, match.result)) {
                match.a = a.position;
                match.b = b.position;
                out.push_back(match);
            }
        }
        return true;
    }

    const CentroidIndex& m_index;
    const MatchLimits& m_limits;
    const PairBound& m_bound;
    const int32_t m_limit;
    const std::atomic<bool>& m_abortFlag;
    int32_t m_sincePoll = 0;
};

// One orientation of a search for turned copies: every A of the upright
// index against the B entries of another index (the signatures of one
// orientation) that come later in member order, A always the upright one.
// Unlike RowSearch the two sides differ, so the whole centroid neighbourhood
// is searched.
class CrossSearch {
public:
    CrossSearch(const CentroidIndex& upright, const CentroidIndex& turned, Orientation orientation,
                const MatchLimits& limits, const PairBound& bound, const std::atomic<bool>& abortFlag)
        : m_upright(upright)
        , m_turned(turned)
        , m_orientation(orientation)
        , m_limits(limits)
        , m_bound(bound)
        , m_limit(std::max(0, limits.centroid))
        , m_abortFlag(abortFlag)
    {
    }

    // False when the abort flag was seen.
    bool run(std::size_t row, std::vector<PairMatch>& out)
    {
        if (m_turned.size() == 0)
            return true;
        const CentroidIndex::Entry& a = m_upright[row];
        const auto& c = a.c;
        const auto lo2 = static_cast<int32_t>(std::max<int64_t>(INT32_MIN, int64_t {c[2]} - m_limit));
        const auto hi2 = static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t {c[2]} + m_limit));
        const auto [lo1, hi1] = m_turned.reach(1, c[1], m_limit);
        const auto [lo0, hi0] = m_turned.reach(0, c[0], m_limit);
        for (int64_t c0 = lo0; c0 <= hi0; ++c0) {
            const bool going = m_turned.forEachStretch(
                static_cast<int32_t>(c0), lo1, hi1, lo2, hi2,
                [&](const CentroidIndex::Entry* from, const CentroidIndex::Entry* to) { return scan(a, from, to, out); });
            if (!going)
                return false;
        }
        return true;
    }

private:
    bool scan(const CentroidIndex::Entry& a, const CentroidIndex::Entry* from, const CentroidIndex::Entry* to,
              std::vector<PairMatch>& out)
    {
        for (const auto* b = from; b < to; ++b) {
            if (b->position <= a.position)
                continue;
            const int64_t d3 = int64_t {b->c[3]} - a.c[3];
            if (d3 > m_limit || d3 < -m_limit)
                continue;
            if (++m_sincePoll == kAbortPollInterval) {
                m_sincePoll = 0;
                if (m_abortFlag.load(std::memory_order_relaxed))
                    return false;
            }
            if (m_bound.surelyFailsAtAnyShift(a.tone, b->tone))
                continue;
            const MatchOffset offset = matchOffset(a.c, b->c);
            if (m_bound.surelyFails(offset, m_upright.sums(a, 0), m_turned.sums(*b, 0), m_upright.sums(a, offset.h1),
                                    m_turned.sums(*b, -offset.h2)))
                continue;
            PairMatch match;
            if (MatchSignatures(m_upright.signature(a), m_turned.signature(*b), m_limits, match.result)) {
                match.a = a.position;
                match.b = b->position;
                match.orientation = m_orientation;
                out.push_back(match);
            }
        }
        return true;
    }

    const CentroidIndex& m_upright;
    const CentroidIndex& m_turned;
    const Orientation m_orientation;
    const MatchLimits& m_limits;
    const PairBound& m_bound;
    const int32_t m_limit;
    const std::atomic<bool>& m_abortFlag;
    int32_t m_sincePoll = 0;
};

// Each worker's matches moved into one list in pair order (then by
// orientation); each worker's list is let go once moved, so the matches are
// held about once, not twice.
std::vector<PairMatch> joined(std::vector<std::vector<PairMatch>>& found, std::vector<PairMatch> all = {})
{
    std::size_t total = all.size();
    for (const auto& part : found)
        total += part.size();
    all.reserve(total);
    for (auto& part : found) {
        all.insert(all.end(), part.begin(), part.end());
        std::vector<PairMatch>().swap(part);
    }
    std::sort(all.begin(), all.end(), [](const PairMatch& x, const PairMatch& y) {
        if (x.a != y.a)
            return x.a < y.a;
        return x.b != y.b ? x.b < y.b : x.orientation < y.orientation;
    });
    return all;
}

// Runs searches[worker].run(row, ...) over every row on `jobs` threads until
// one sees the abort flag; the matches, in pair order, joined onto `earlier`.
template <typename Search>
std::vector<PairMatch> searchRows(int64_t count, std::vector<Search>& searches, const std::atomic<bool>& abortFlag,
                                  const std::function<void()>& rowDone, WorkerPool* pool,
                                  std::vector<PairMatch> earlier = {})
{
    const auto jobs = static_cast<int32_t>(searches.size());
    std::vector<std::vector<PairMatch>> found(searches.size());
    std::atomic<bool> stopped {false};
    parallelFor(count, jobs, [&](int64_t row, int32_t worker) {
        if (stopped.load(std::memory_order_relaxed) || abortFlag.load(std::memory_order_relaxed))
            return;
        if (!searches[static_cast<std::size_t>(worker)].run(static_cast<std::size_t>(row),
                                                            found[static_cast<std::size_t>(worker)])) {
            stopped.store(true, std::memory_order_relaxed);
            return;
        }
        rowDone();
    }, pool);
    return joined(found, std::move(earlier));
}

// The self-join of one index: every pair within it once, the earlier member as A.
std::vector<PairMatch> uprightPairs(const CentroidIndex& index, const MatchLimits& limits, const PairBound& bound,
                                    int32_t jobs, const std::atomic<bool>& abortFlag,
                                    const std::function<void()>& rowDone, WorkerPool* pool)
{
    std::vector<RowSearch> searches;
    searches.reserve(static_cast<std::size_t>(jobs));
    for (int32_t w = 0; w < jobs; ++w)
        searches.emplace_back(index, limits, bound, abortFlag);
    return searchRows(static_cast<int64_t>(index.size()), searches, abortFlag, rowDone, pool);
}

} // namespace

std::vector<PairMatch> findIdenticalPairs(std::span<const PairSignature> signatures, const MatchLimits& limits,
                                          int32_t jobs, const std::atomic<bool>& abortFlag, const PairProgress& progress,
                                          WorkerPool* pool)
{
    const int64_t count = static_cast<int64_t>(signatures.size());
    if (count < 2 || abortFlag.load(std::memory_order_relaxed))
        return {};
    const CentroidIndex index(signatures);
    const PairBound bound(limits);
    jobs = static_cast<int32_t>(std::min<int64_t>(resolveJobs(jobs), count));
    std::atomic<int64_t> done {0};
    return uprightPairs(index, limits, bound, jobs, abortFlag, [&] {
        const int64_t finished = done.fetch_add(1, std::memory_order_relaxed) + 1;
        if (progress)
            progress(finished, count);
    }, pool);
}

std::vector<PairMatch> findTurnedIdenticalPairs(std::span<const PairSignature> signatures,
                                                std::span<const PairSignature> turned, const MatchLimits& limits,
                                                int32_t jobs, const std::atomic<bool>& abortFlag,
                                                const PairProgress& progress, WorkerPool* pool)
{
    const std::size_t size = signatures.size();
    const int64_t count = static_cast<int64_t>(size);
    if (count < 2 || abortFlag.load(std::memory_order_relaxed))
        return {};
    const CentroidIndex upright(signatures);
    const PairBound bound(limits);
    jobs = static_cast<int32_t>(std::min<int64_t>(resolveJobs(jobs), count));
    // Progress counts the A rows of every orientation.
    const int64_t rows = count * kOrientationCount;
    std::atomic<int64_t> done {0};
    const auto rowDone = [&] {
        const int64_t finished = done.fetch_add(1, std::memory_order_relaxed) + 1;
        if (progress)
            progress(finished, rows);
    };
    std::vector<PairMatch> all = uprightPairs(upright, limits, bound, jobs, abortFlag, rowDone, pool);

    // One orientation's index at a time, so that only two are held at once.
    for (int32_t o = 1; o < kOrientationCount && !abortFlag.load(std::memory_order_relaxed); ++o) {
        const CentroidIndex index(turned.subspan(static_cast<std::size_t>(o - 1) * size, size));
        std::vector<CrossSearch> searches;
        searches.reserve(static_cast<std::size_t>(jobs));
        for (int32_t w = 0; w < jobs; ++w)
            searches.emplace_back(upright, index, orientationAt(o), limits, bound, abortFlag);
        all = searchRows(count, searches, abortFlag, rowDone, pool, std::move(all));
    }
    // A pair that matched in several orientations keeps the first.
    all.erase(std::unique(all.begin(), all.end(),
                          [](const PairMatch& x, const PairMatch& y) { return x.a == y.a && x.b == y.b; }),
              all.end());
    return all;
}
