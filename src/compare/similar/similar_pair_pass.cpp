#include "compare/similar/similar_pair_pass.h"

#include <algorithm>
#include <cstdint>

#include "common/parallel_for.h"
#include "compare/similar/similar_scoring.h"

// The pass is quadratic, but the first gate looks at the band codes alone.
// Pictures with equal codes are gathered into buckets, and the gate is
// decided once per pair of buckets; only the pairs of pictures in buckets
// that pass it are scored. That accepts exactly the pairs that trying every
// pair would, at a fraction of the cost.

namespace {

// Pairs a task should hold, so that the threads share the work evenly
// without a task per pair.
constexpr int64_t kPairsPerTask = 1 << 17;

// The six codes of one half (contrast: entries 1..6, luminance: 7..12).
using HalfCodes = std::array<int32_t, 6>;

HalfCodes halfCodes(const SimilarSignature& s, int32_t firstEntry)
{
    HalfCodes h {};
    std::copy_n(s.bandCodes.begin() + firstEntry, 6, h.begin());
    return h;
}

// Code distance of two halves (two groups of three codes).
int32_t halfDistance(const HalfCodes& a, const HalfCodes& b)
{
    std::array<int32_t, 13> ca {};
    std::array<int32_t, 13> cb {};
    std::copy(a.begin(), a.end(), ca.begin() + 1);
    std::copy(b.begin(), b.end(), cb.begin() + 1);
    return groupCodeDistance(ca, cb, 0) + groupCodeDistance(ca, cb, 1);
}

// Dense ids for the distinct halves met, and their pairwise code distances
// (-4..12). Codes are 1, 2 or 3, so there are at most 3^6 = 729 halves.
struct HalfTable {
    std::vector<HalfCodes> halves;
    std::vector<int8_t> distance; // [id1 * size + id2]

    int32_t idOf(const HalfCodes& h) const
    {
        return static_cast<int32_t>(std::lower_bound(halves.begin(), halves.end(), h) - halves.begin());
    }
    int32_t between(int32_t id1, int32_t id2) const
    {
        return distance[static_cast<std::size_t>(id1) * halves.size() + static_cast<std::size_t>(id2)];
    }
};

HalfTable makeHalfTable(std::vector<HalfCodes> halves)
{
    std::sort(halves.begin(), halves.end());
    halves.erase(std::unique(halves.begin(), halves.end()), halves.end());
    HalfTable table;
    const std::size_t n = halves.size();
    table.distance.resize(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i; j < n; ++j) {
            const auto d = static_cast<int8_t>(halfDistance(halves[i], halves[j]));
            table.distance[i * n + j] = d;
            table.distance[j * n + i] = d;
        }
    }
    table.halves = std::move(halves);
    return table;
}

// Pictures with equal band codes, in ascending FileTable order; their packed
// scoring data lies at positions first .. first + size - 1 of the pass's
// PairSide array, so that a run over a bucket reads memory in order.
struct Bucket {
    int32_t contrastId = 0;
    int32_t lumaId = 0;
    int32_t first = 0;
    int32_t size = 0;
};

struct Partner {
    int32_t bucket = 0;
    CodeDistances codes;
};

// Bucket p against the buckets it may pair with (q >= p), over the member
// rows [rowBegin, rowEnd) of p.
struct Task {
    int32_t bucket = 0;
    int32_t rowBegin = 0;
    int32_t rowEnd = 0;
};

} // namespace

std::vector<std::string> runSimilarPairPass(const SimilarPairPassInput& input)
{
    const FileTable& files = input.files;
    const auto& signatures = input.signatures;
    const int32_t fileCount = static_cast<int32_t>(files.size());
    const int32_t level = input.level;
    const SimilarScoreLimits limits = similarScoreLimits(level, fileCount);

    std::vector<int32_t> eligible;
    for (int32_t i = 0; i < fileCount; ++i) {
        if (files[i].skip == 0 && files[i].spreadA != 0 && files[i].spreadB != 0)
            eligible.push_back(i);
    }
    if (eligible.size() < 2 || input.abortFlag.load(std::memory_order_relaxed))
        return {};

    std::vector<HalfCodes> contrastHalves;
    std::vector<HalfCodes> lumaHalves;
    for (int32_t i : eligible) {
        contrastHalves.push_back(halfCodes(signatures[i], 1));
        lumaHalves.push_back(halfCodes(signatures[i], 7));
    }
    const HalfTable contrastTable = makeHalfTable(contrastHalves);
    const HalfTable lumaTable = makeHalfTable(lumaHalves);

    // Buckets ordered by (contrast id, luma id); members stay in index order
    // because the sort is stable.
    std::vector<std::array<int32_t, 3>> keyed; // contrast id, luma id, file index
    keyed.reserve(eligible.size());
    for (std::size_t k = 0; k < eligible.size(); ++k)
        keyed.push_back({contrastTable.idOf(contrastHalves[k]), lumaTable.idOf(lumaHalves[k]), eligible[k]});
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a[0] != b[0] ? a[0] < b[0] : a[1] < b[1];
    });
    std::vector<Bucket> buckets;
    std::vector<int32_t> groupStart; // first bucket of each contrast id met
    std::vector<int32_t> fileAt;      // FileTable index of each position
    std::vector<PairSide> sides;
    fileAt.reserve(keyed.size());
    sides.reserve(keyed.size());
    for (const auto& entry : keyed) {
        if (buckets.empty() || buckets.back().contrastId != entry[0] || buckets.back().lumaId != entry[1]) {
            if (buckets.empty() || buckets.back().contrastId != entry[0])
                groupStart.push_back(static_cast<int32_t>(buckets.size()));
            buckets.push_back(Bucket {entry[0], entry[1], static_cast<int32_t>(sides.size()), 0});
        }
        ++buckets.back().size;
        fileAt.push_back(entry[2]);
        sides.push_back(makePairSide(signatures[static_cast<std::size_t>(entry[2])]));
    }
    groupStart.push_back(static_cast<int32_t>(buckets.size()));

    // The gate, bucket pair by bucket pair, whole contrast groups first (the
    // contrast ids are dense, so id g names group g). The partners of a
    // bucket are worked out where they are needed rather than kept for all
    // buckets at once: their number grows with the square of the distinct codes.
    const int32_t groupCount = static_cast<int32_t>(groupStart.size()) - 1;
    const auto forEachPartner = [&](int32_t p, const auto& visit) {
        const int32_t g1 = buckets[p].contrastId;
        for (int32_t g2 = g1; g2 < groupCount; ++g2) {
            const int32_t contrast = contrastTable.between(g1, g2);
            if (contrast > level + 3)
                continue;
            for (int32_t q = std::max(p, groupStart[g2]); q < groupStart[g2 + 1]; ++q) {
                const CodeDistances codes {contrast, lumaTable.between(buckets[p].lumaId, buckets[q].lumaId)};
                if (passesCodeGate(codes, level))
                    visit(Partner {q, codes});
            }
        }
    };

    // Pairs per row of each bucket, to split the rows into tasks of about
    // kPairsPerTask pairs.
    const auto bucketCount = static_cast<int32_t>(buckets.size());
    std::vector<int64_t> otherMembers(buckets.size(), 0);
    std::vector<uint8_t> pairsWithItself(buckets.size(), 0);
    parallelFor(bucketCount, input.jobs, [&](int64_t p, int32_t) {
        const auto bucket = static_cast<int32_t>(p);
        forEachPartner(bucket, [&](const Partner& partner) {
            if (partner.bucket == bucket)
                pairsWithItself[static_cast<std::size_t>(p)] = 1;
            else
                otherMembers[static_cast<std::size_t>(p)] += buckets[partner.bucket].size;
        });
    });
    std::vector<Task> tasks;
    int64_t totalPairs = 0;
    for (int32_t p = 0; p < bucketCount; ++p) {
        const int64_t rows = buckets[p].size;
        const int64_t others = otherMembers[static_cast<std::size_t>(p)];
        const bool self = pairsWithItself[static_cast<std::size_t>(p)] != 0;
        Task task {p, 0, 0};
        int64_t taskPairs = 0;
        for (int64_t row = 0; row < rows; ++row) {
            const int64_t rowPairs = others + (self ? rows - row - 1 : 0);
            taskPairs += rowPairs;
            totalPairs += rowPairs;
            task.rowEnd = static_cast<int32_t>(row + 1);
            if (taskPairs >= kPairsPerTask || row + 1 == rows) {
                if (taskPairs > 0)
                    tasks.push_back(task);
                task = Task {p, task.rowEnd, task.rowEnd};
                taskPairs = 0;
            }
        }
    }

    // Tasks of one bucket follow each other, so a worker mostly reuses the
    // partner list it made last.
    struct PartnerCache {
        int32_t bucket = -1;
        std::vector<Partner> partners;
    };
    std::vector<PartnerCache> caches(static_cast<std::size_t>(resolveJobs(input.jobs)));
    std::vector<std::vector<std::string>> taskLines(tasks.size());
    std::atomic<int64_t> donePairs {0};
    input.report(SearchProgress::Phase::Pairs, 0, totalPairs, true);
    parallelFor(static_cast<int64_t>(tasks.size()), input.jobs, [&](int64_t t, int32_t worker) {
        const Task& task = tasks[static_cast<std::size_t>(t)];
        PartnerCache& cache = caches[static_cast<std::size_t>(worker)];
        if (cache.bucket != task.bucket) {
            cache.bucket = task.bucket;
            cache.partners.clear();
            forEachPartner(task.bucket, [&](const Partner& partner) { cache.partners.push_back(partner); });
        }
        const Bucket& bucket = buckets[task.bucket];
        std::vector<std::string>& lines = taskLines[static_cast<std::size_t>(t)];
        int64_t examined = 0;
        // Partners outside, the task's rows inside: each partner's data is
        // fetched once for all the rows rather than once per row (the
        // partners of a row span most of the pass's data).
        const int32_t rowsFirst = bucket.first + task.rowBegin;
        const int32_t rowsEnd = bucket.first + task.rowEnd;
        for (const Partner& partner : cache.partners) {
            const Bucket& other = buckets[partner.bucket];
            const bool itself = partner.bucket == task.bucket;
            for (int32_t j = itself ? rowsFirst + 1 : other.first; j < other.first + other.size; ++j) {
                // Within its own bucket a row pairs only with the members after it.
                const int32_t rowsTo = itself ? std::min(rowsEnd, j) : rowsEnd;
                for (int32_t i = rowsFirst; i < rowsTo; ++i) {
                    if (input.abortFlag.load(std::memory_order_relaxed))
                        return;
                    ++examined;
                    // Scores are taken with A the lower FileTable index.
                    const bool inOrder = fileAt[i] < fileAt[j];
                    const int32_t pa = inOrder ? i : j;
                    const int32_t pb = inOrder ? j : i;
                    const auto scores = scoreGatedPair(sides[pa], sides[pb], partner.codes, limits);
                    if (scores) {
                        const int32_t a = fileAt[pa];
                        const int32_t b = fileAt[pb];
                        lines.push_back(similarResultLine(*scores, a, b, signatures[a], signatures[b], files[a].path,
                                                          files[b].path));
                    }
                }
            }
        }
        const int64_t done = donePairs.fetch_add(examined) + examined;
        input.report(SearchProgress::Phase::Pairs, done, totalPairs);
    });
    input.report(SearchProgress::Phase::Pairs, donePairs.load(), totalPairs, true);

    std::vector<std::string> lines;
    for (auto& chunk : taskLines) {
        for (auto& line : chunk)
            lines.push_back(std::move(line));
    }
    return lines;
}
