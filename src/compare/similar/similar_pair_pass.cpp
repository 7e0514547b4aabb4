#include "compare/similar/similar_pair_pass.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

#include "common/parallel_for.h"
#include "compare/similar/similar_pair_lanes.h"
#include "compare/similar/similar_scoring.h"

// The pass is quadratic, but the first gate looks at the band codes alone.
// Pictures with equal codes are gathered into buckets, and the gate is
// decided once per pair of buckets; only the pairs of pictures in buckets
// that pass it are scored. That accepts exactly the pairs that trying every
// pair would, at a fraction of the cost.

namespace {

// Rows of a tile: their data stays in the first-level cache while the
// rest of the pictures stream past; the lanes hold them all.
constexpr int32_t kTileRows = kLaneRows;
static_assert(kTileRows <= 64, "a tile's rows are bits of one word");

// Pairs the lanes let through wait in a queue of this many before their
// contrast step: the later picture's map is usually far from every cache
// (it is read for one pair in a hundred), so it is fetched when the pair is
// queued and is at hand when the queue is scored.
constexpr int32_t kQueuedContrastSteps = 8;
// What is fetched ahead of a queued pair: the packed map, which the plain
// map sum reads whole, and the start of the map, from which the processor's
// own prefetching takes over.
constexpr int32_t kMapBytesAhead = 1024;

void fetchMapsAhead(const PairSide& side)
{
    constexpr int32_t kCacheLine = 64;
    if (side.planes != nullptr) {
        const auto* planes = reinterpret_cast<const char*>(side.planes);
        for (int32_t at = 0; at < static_cast<int32_t>(sizeof(ContrastPlanes)); at += kCacheLine)
            __builtin_prefetch(planes + at);
    }
    const auto* map = reinterpret_cast<const char*>(side.signature->contrastMap.data());
    for (int32_t at = 0; at < kMapBytesAhead; at += kCacheLine)
        __builtin_prefetch(map + at);
}

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

// Bits first .. end - 1 of a mask of tile rows.
uint64_t rowBits(int32_t first, int32_t end)
{
    const auto upTo = [](int32_t n) { return n >= 64 ? ~uint64_t {0} : (uint64_t {1} << n) - 1; };
    return upTo(end) & ~upTo(first);
}

// Positions [first, end) of the pass's PairSide array, all in contrast group `group`.
struct Tile {
    int32_t group = 0;
    int32_t first = 0;
    int32_t end = 0;
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
    // Packed maps: the plain map sum of every pair that gets that far reads a
    // quarter of the bytes. A map that cannot be packed keeps the byte sums.
    // Every map is written whole by its packing: no need to clear them first.
    const std::unique_ptr<ContrastPlanes[]> planes(new ContrastPlanes[sides.size()]);
    parallelFor(static_cast<int64_t>(sides.size()), input.jobs, [&](int64_t k, int32_t) {
        PairSide& side = sides[static_cast<std::size_t>(k)];
        ContrastPlanes& packed = planes[static_cast<std::size_t>(k)];
        if (packContrastPlanes(side.signature->contrastMap.data(), kInnerSize * kInnerSize, packed))
            side.planes = &packed;
    });

    // The gate, bucket pair by bucket pair, whole contrast groups first (the
    // contrast ids are dense, so id g names group g).
    const int32_t groupCount = static_cast<int32_t>(groupStart.size()) - 1;
    const auto bucketCount = static_cast<int32_t>(buckets.size());

    // Pairs to score, for the progress counter: those of each bucket with
    // itself and with the buckets after it that pass the gate.
    std::vector<int64_t> bucketPairs(buckets.size(), 0);
    parallelFor(bucketCount, input.jobs, [&](int64_t p, int32_t) {
        const Bucket& bucket = buckets[static_cast<std::size_t>(p)];
        const int64_t size = bucket.size;
        int64_t pairs = 0;
        for (int32_t g2 = bucket.contrastId; g2 < groupCount; ++g2) {
            const int32_t contrast = contrastTable.between(bucket.contrastId, g2);
            if (contrast > level + 3)
                continue;
            for (int32_t q = std::max(static_cast<int32_t>(p), groupStart[g2]); q < groupStart[g2 + 1]; ++q) {
                if (passesCodeGate(CodeDistances {contrast, lumaTable.between(bucket.lumaId, buckets[q].lumaId)}, level))
                    pairs += q == p ? size * (size - 1) / 2 : size * buckets[q].size;
            }
        }
        bucketPairs[static_cast<std::size_t>(p)] = pairs;
    });
    int64_t totalPairs = 0;
    for (int64_t pairs : bucketPairs)
        totalPairs += pairs;

    // Tiles: runs of up to kTileRows positions inside one contrast group. A
    // tile is scored against each later picture in turn, so every picture's
    // data is fetched once per tile rather than once per row.
    std::vector<Tile> tiles;
    for (int32_t g = 0; g < groupCount; ++g) {
        const int32_t first = buckets[groupStart[g]].first;
        const int32_t end = buckets[groupStart[g + 1] - 1].first + buckets[groupStart[g + 1] - 1].size;
        for (int32_t t = first; t < end; t += kTileRows)
            tiles.push_back(Tile {g, t, std::min(end, t + kTileRows)});
    }
    std::vector<int32_t> bucketAt(sides.size()); // bucket of each position
    for (int32_t p = 0; p < bucketCount; ++p)
        std::fill_n(bucketAt.begin() + buckets[p].first, buckets[p].size, p);

    struct TileBucket {
        int32_t bucket = 0;
        int32_t rowsFirst = 0; // positions of its members inside the tile
        int32_t rowsEnd = 0;
        CodeDistances codes;
    };
    std::vector<std::vector<std::string>> tileLines(tiles.size());
    const bool useLanes = pairLanesAvailable();
    std::atomic<int64_t> donePairs {0};
    input.report(SearchProgress::Phase::Pairs, 0, totalPairs, true);
    parallelFor(static_cast<int64_t>(tiles.size()), input.jobs, [&](int64_t t, int32_t) {
        const Tile& tile = tiles[static_cast<std::size_t>(t)];
        std::vector<TileBucket> own; // the tile's buckets
        for (int32_t p = bucketAt[tile.first]; p <= bucketAt[tile.end - 1]; ++p) {
            own.push_back(TileBucket {p, std::max(tile.first, buckets[p].first),
                                      std::min(tile.end, buckets[p].first + buckets[p].size), {}});
        }
        std::vector<TileBucket> passing; // the tile's buckets that pass the gate with bucket q
        std::vector<std::string>& lines = tileLines[static_cast<std::size_t>(t)];
        int64_t examined = 0;
        const auto addLine = [&](int32_t pa, int32_t pb, const std::optional<SimilarPairScores>& scores) {
            if (scores) {
                const int32_t a = fileAt[pa];
                const int32_t b = fileAt[pb];
                lines.push_back(similarResultLine(*scores, a, b, signatures[a], signatures[b], files[a].path, files[b].path));
            }
        };
        // Scores are taken with A the lower FileTable index.
        const auto inFileOrder = [&](int32_t i, int32_t j) {
            return fileAt[i] < fileAt[j] ? std::pair {i, j} : std::pair {j, i};
        };
        const auto score = [&](int32_t i, int32_t j, const CodeDistances& codes) {
            const auto [pa, pb] = inFileOrder(i, j);
            addLine(pa, pb, scoreGatedPair(sides[pa], sides[pb], codes, limits));
        };
        LaneRows laneRows;
        LaneScores laneScores;
        if (useLanes) {
            for (int32_t i = tile.first; i < tile.end; ++i)
                laneRows.assign(i - tile.first, sides[i]);
        }
        // The pairs of picture j with the rows of the passing buckets before
        // it: each pair once, the row before its partner. False once aborted.
        const auto scoreRows = [&](int32_t j) {
            for (const TileBucket& p : passing) {
                for (int32_t i = p.rowsFirst; i < std::min(p.rowsEnd, j); ++i) {
                    if (input.abortFlag.load(std::memory_order_relaxed))
                        return false;
                    ++examined;
                    score(i, j, p.codes);
                }
            }
            return true;
        };
        // The same through the lanes, sixteen rows at a time: bit r of `rows`
        // stands for row tile.first + r. Only the pairs the lanes let through
        // are scored.
        std::array<int32_t, kLanes> rowIndex {};
        struct QueuedContrastStep {
            int32_t a = 0; // positions, a the lower FileTable index
            int32_t b = 0;
            SimilarPairScores steps;
        };
        std::array<QueuedContrastStep, kQueuedContrastSteps> contrastQueue;
        int32_t queuedSteps = 0;
        const auto scoreQueue = [&] {
            for (int32_t n = 0; n < queuedSteps; ++n) {
                const QueuedContrastStep& e = contrastQueue[static_cast<std::size_t>(n)];
                addLine(e.a, e.b, scoreContrastStep(sides[e.a], sides[e.b], e.steps, limits));
            }
            queuedSteps = 0;
        };
        const auto judgeRows = [&](int32_t j, uint64_t rows, int32_t contrast, int32_t q) {
            rows &= rowBits(0, j - tile.first); // the rows before j
            while (rows != 0) {
                if (input.abortFlag.load(std::memory_order_relaxed))
                    return false;
                int32_t count = 0;
                uint32_t judged = 0;
                const uint32_t kept = judgeNextLanes(laneRows, rows, rowIndex, count, sides[j], limits, laneScores, judged);
                examined += count;
                for (uint32_t m = kept; m != 0; m &= m - 1) {
                    const auto k = static_cast<std::size_t>(std::countr_zero(m));
                    const int32_t i = tile.first + rowIndex[k];
                    const CodeDistances codes {contrast, lumaTable.between(buckets[bucketAt[i]].lumaId, buckets[q].lumaId)};
                    if ((judged >> k & 1) == 0) {
                        score(i, j, codes);
                        continue;
                    }
                    QueuedContrastStep& queued = contrastQueue[static_cast<std::size_t>(queuedSteps++)];
                    std::tie(queued.a, queued.b) = inFileOrder(i, j);
                    queued.steps.codes = codes;
                    queued.steps.luma = laneScores.luma[k];
                    queued.steps.chroma = laneScores.chroma[k];
                    fetchMapsAhead(sides[j]);
                    if (queuedSteps == kQueuedContrastSteps)
                        scoreQueue();
                }
            }
            return true;
        };
        const int32_t firstBucket = own.front().bucket;
        for (int32_t g2 = tile.group; g2 < groupCount; ++g2) {
            const int32_t contrast = contrastTable.between(tile.group, g2);
            if (contrast > level + 3)
                continue;
            for (int32_t q = std::max(firstBucket, groupStart[g2]); q < groupStart[g2 + 1]; ++q) {
                passing.clear();
                uint64_t passingRows = 0;
                for (const TileBucket& p : own) {
                    const CodeDistances codes {contrast, lumaTable.between(buckets[p.bucket].lumaId, buckets[q].lumaId)};
                    if (p.bucket <= q && passesCodeGate(codes, level)) {
                        if (useLanes)
                            passingRows |= rowBits(p.rowsFirst - tile.first, p.rowsEnd - tile.first);
                        else
                            passing.push_back(TileBucket {p.bucket, p.rowsFirst, p.rowsEnd, codes});
                    }
                }
                if (passing.empty() && passingRows == 0)
                    continue;
                const Bucket& other = buckets[q];
                for (int32_t j = std::max(other.first, tile.first + 1); j < other.first + other.size; ++j) {
                    if (!(useLanes ? judgeRows(j, passingRows, contrast, q) : scoreRows(j)))
                        return;
                }
            }
        }
        // (An abort leaves the tile before this: its queued pairs go
        // unscored, as every pair after the abort does.)
        scoreQueue();
        const int64_t done = donePairs.fetch_add(examined) + examined;
        input.report(SearchProgress::Phase::Pairs, done, totalPairs);
    });
    input.report(SearchProgress::Phase::Pairs, donePairs.load(), totalPairs, true);

    std::vector<std::string> lines;
    for (auto& chunk : tileLines) {
        for (auto& line : chunk)
            lines.push_back(std::move(line));
    }
    return lines;
}
