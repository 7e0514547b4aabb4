#include "compare/identical/identical_pair_search.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "common/parallel_for.h"

namespace {

// How many candidates are looked at between two looks at the abort flag.
constexpr int32_t kAbortPollInterval = 1024;

constexpr int32_t kToneFirst = 2 * kDivCount;
constexpr int32_t kToneProfiles = 2 * kDivCount;
constexpr int32_t kShifts = 2 * kMaxHalfShift + 1;

// The sums of each tone profile over the compared positions, moved by each
// possible half shift. They bound a distance from below: the sum over p of
// |a - b| div 5 is at least (|sum a - sum b| - 4 * 48) / 5.
struct ToneSums {
    // At most 48 * 255 = 12240: 16 bits keep an index entry small.
    std::array<std::array<int16_t, kShifts>, kToneProfiles> sums {};

    explicit ToneSums(const PairSignature& sig)
    {
        constexpr int32_t base = kComparedFirst - PairSignature::kFirstKept;
        for (int32_t k = 0; k < kToneProfiles; ++k) {
            for (int32_t s = -kMaxHalfShift; s <= kMaxHalfShift; ++s) {
                int32_t total = 0;
                for (int32_t i = 0; i < kComparedCount; ++i)
                    total += sig.profiles[kToneFirst + k][base + s + i];
                sums[k][s + kMaxHalfShift] = static_cast<int16_t>(total);
            }
        }
    }
};

// The signatures ordered by three of their centroid values, so that the
// candidates of A within the centroid limit are a few short stretches: the
// pairs the centroid gate rejects are mostly never looked at. Each entry
// carries the tone sums, so that the candidates of a stretch are tested
// against the sum bound in memory order.
class CentroidIndex {
public:
    struct Entry {
        int32_t c0, c1, c2, c3;
        int32_t position;
        ToneSums tone;
    };

    explicit CentroidIndex(std::span<const PairSignature> signatures)
    {
        m_entries.reserve(signatures.size());
        for (std::size_t i = 0; i < signatures.size(); ++i) {
            const auto& c = signatures[i].centroids;
            m_entries.push_back(Entry {c[0], c[1], c[2], c[3], static_cast<int32_t>(i), ToneSums(signatures[i])});
        }
        std::sort(m_entries.begin(), m_entries.end(), [](const Entry& x, const Entry& y) {
            return key(x) < key(y) || (key(x) == key(y) && x.position < y.position);
        });
    }

    // The entries with centroids 0 and 1 equal to c0 and c1 and centroid 2 in [lo2, hi2].
    std::pair<const Entry*, const Entry*> stretch(int32_t c0, int32_t c1, int32_t lo2, int32_t hi2) const
    {
        const Entry* begin = m_entries.data();
        const Entry* end = begin + m_entries.size();
        const Key lo {c0, c1, lo2}, hi {c0, c1, hi2};
        const Entry* first = std::lower_bound(begin, end, lo, [](const Entry& e, const Key& k) { return key(e) < k; });
        const Entry* last = std::upper_bound(first, end, hi, [](const Key& k, const Entry& e) { return k < key(e); });
        return {first, last};
    }

private:
    using Key = std::array<int32_t, 3>;
    static Key key(const Entry& e) { return Key {e.c0, e.c1, e.c2}; }

    std::vector<Entry> m_entries;
};

// True when some tone profile compared with A shifted by shiftA and B by
// shiftB is certain to lie beyond the tone limit.
bool someToneBeyond(const ToneSums& a, const ToneSums& b, int32_t shiftA, int32_t shiftB, int32_t bound)
{
    for (int32_t k = 0; k < kToneProfiles; ++k) {
        if (std::abs(a.sums[k][shiftA + kMaxHalfShift] - b.sums[k][shiftB + kMaxHalfShift]) > bound)
            return true;
    }
    return false;
}

// The tone gate can only be passed by the direct distances or by those at the
// offset, whichever MatchSignatures keeps; when both have a profile beyond
// the limit the pair cannot match, and MatchSignatures need not run.
bool toneGateFails(const std::array<int32_t, 4>& a, const std::array<int32_t, 4>& b, const ToneSums& sa,
                   const ToneSums& sb, int32_t bound)
{
    if (!someToneBeyond(sa, sb, 0, 0, bound))
        return false;
    const MatchOffset offset = matchOffset(a, b);
    if (offset.dx == 0)
        return true; // the offset comparison is the direct one again
    return someToneBeyond(sa, sb, offset.h1, -offset.h2, bound);
}

} // namespace

std::vector<PairMatch> findIdenticalPairs(std::span<const PairSignature> signatures, const MatchLimits& limits,
                                          int32_t jobs, const std::atomic<bool>& abortFlag, const PairProgress& progress)
{
    const int64_t count = static_cast<int64_t>(signatures.size());
    if (count < 2 || abortFlag.load(std::memory_order_relaxed))
        return {};
    const CentroidIndex index(signatures);
    const int32_t limit = std::max(0, limits.centroid);
    // |sum a - sum b| beyond this makes a distance greater than the tone limit.
    const int32_t toneBound = 5 * std::max(0, limits.tone) + 4 * kComparedCount;
    jobs = static_cast<int32_t>(std::min<int64_t>(resolveJobs(jobs), count));

    std::vector<std::vector<PairMatch>> found(static_cast<std::size_t>(jobs));
    std::atomic<int64_t> done {0};
    parallelFor(count, jobs, [&](int64_t row, int32_t worker) {
        if (abortFlag.load(std::memory_order_relaxed))
            return;
        const int32_t a = static_cast<int32_t>(row);
        const PairSignature& sa = signatures[static_cast<std::size_t>(a)];
        const ToneSums ta(sa);
        const auto& ca = sa.centroids;
        std::vector<PairMatch>& out = found[static_cast<std::size_t>(worker)];
        const std::size_t firstOfRow = out.size();
        int32_t sincePoll = 0;
        // The range ends are taken in 64 bits: centroids are small, but nothing here relies on it.
        auto range = [limit](int32_t c) {
            return std::pair {static_cast<int32_t>(std::max<int64_t>(INT32_MIN, int64_t {c} - limit)),
                              static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t {c} + limit))};
        };
        const auto [lo0, hi0] = range(ca[0]);
        const auto [lo1, hi1] = range(ca[1]);
        const auto [lo2, hi2] = range(ca[2]);
        for (int64_t c0 = lo0; c0 <= hi0; ++c0) {
            for (int64_t c1 = lo1; c1 <= hi1; ++c1) {
                const auto [first, last] = index.stretch(static_cast<int32_t>(c0), static_cast<int32_t>(c1), lo2, hi2);
                for (const auto* e = first; e != last; ++e) {
                    if (e->position <= a)
                        continue;
                    const int64_t d3 = int64_t {e->c3} - ca[3];
                    if (d3 > limit || d3 < -limit)
                        continue;
                    if (++sincePoll == kAbortPollInterval) {
                        sincePoll = 0;
                        if (abortFlag.load(std::memory_order_relaxed))
                            return;
                    }
                    const std::array<int32_t, 4> cb {e->c0, e->c1, e->c2, e->c3};
                    if (toneGateFails(ca, cb, ta, e->tone, toneBound))
                        continue;
                    const std::size_t b = static_cast<std::size_t>(e->position);
                    PairMatch match;
                    if (MatchSignatures(sa, signatures[b], limits, match.result)) {
                        match.a = a;
                        match.b = e->position;
                        out.push_back(match);
                    }
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
