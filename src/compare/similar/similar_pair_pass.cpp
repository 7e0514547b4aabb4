#include "compare/similar/similar_pair_pass.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
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
//
// A pass over turned signatures pairs two sets: the upright signatures in
// the tiles' rows, the turned ones in the buckets they meet. Every bucket
// pair is then met (not only those on and after the diagonal), and of each
// pair of pictures only the one whose upright picture comes first in the
// FileTable is scored.

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

// The ids of the halves of both sides of a pass.
struct CodeTables {
    HalfTable contrastTable;
    HalfTable lumaTable;
};

// The eligible pictures in bucket order, and what the steps after the
// bucketing look up about them.
struct BucketLayout {
    std::vector<Bucket> buckets;
    std::vector<int32_t> groupStart;    // first bucket of each contrast id met, then the bucket count
    std::vector<int32_t> groupContrast; // the contrast id of each group
    std::vector<int32_t> fileAt;        // FileTable index of each position
    std::vector<int32_t> bucketAt;      // bucket of each position
    std::vector<PairSide> sides;
    std::unique_ptr<ContrastPlanes[]> planes;

    int32_t groupCount() const { return static_cast<int32_t>(groupStart.size()) - 1; }
};

// The bucket layouts of a pass: one for a plain pass, whose rows and
// buckets met are the same pictures; two for a pass over turned signatures.
struct PassLayout {
    CodeTables tables;
    BucketLayout rows;
    BucketLayout turnedColumns;
    bool turned = false;

    const BucketLayout& columns() const { return turned ? turnedColumns : rows; }
    int32_t contrastBetween(int32_t rowGroup, int32_t columnGroup) const
    {
        return tables.contrastTable.between(rows.groupContrast[rowGroup], columns().groupContrast[columnGroup]);
    }
    CodeDistances codesBetween(int32_t contrast, int32_t rowBucket, int32_t columnBucket) const
    {
        return CodeDistances {contrast, tables.lumaTable.between(rows.buckets[rowBucket].lumaId,
                                                                 columns().buckets[columnBucket].lumaId)};
    }
};

std::vector<int32_t> eligibleFiles(const FileTable& files)
{
    std::vector<int32_t> eligible;
    for (int32_t i = 0; i < static_cast<int32_t>(files.size()); ++i) {
        if (files[i].skip == 0 && files[i].spreadA != 0 && files[i].spreadB != 0)
            eligible.push_back(i);
    }
    return eligible;
}

// Of those, the ones whose turned signature is there.
std::vector<int32_t> withSignature(const std::vector<int32_t>& eligible, std::span<const SimilarSignature> signatures)
{
    std::vector<int32_t> kept;
    for (int32_t i : eligible) {
        if (signatures[static_cast<std::size_t>(i)].spreadA != 0 && signatures[static_cast<std::size_t>(i)].spreadB != 0)
            kept.push_back(i);
    }
    return kept;
}

void addHalves(const std::vector<int32_t>& eligible, std::span<const SimilarSignature> signatures,
               std::vector<HalfCodes>& contrastHalves, std::vector<HalfCodes>& lumaHalves)
{
    for (int32_t i : eligible) {
        contrastHalves.push_back(halfCodes(signatures[i], 1));
        lumaHalves.push_back(halfCodes(signatures[i], 7));
    }
}

// Buckets ordered by (contrast id, luma id); members stay in index order
// because the sort is stable.
BucketLayout makeBuckets(const std::vector<int32_t>& eligible, std::span<const SimilarSignature> signatures,
                         const CodeTables& tables)
{
    BucketLayout layout;
    std::vector<std::array<int32_t, 3>> keyed; // contrast id, luma id, file index
    keyed.reserve(eligible.size());
    for (int32_t i : eligible) {
        keyed.push_back({tables.contrastTable.idOf(halfCodes(signatures[i], 1)),
                         tables.lumaTable.idOf(halfCodes(signatures[i], 7)), i});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a[0] != b[0] ? a[0] < b[0] : a[1] < b[1];
    });
    std::vector<Bucket>& buckets = layout.buckets;
    layout.fileAt.reserve(keyed.size());
    layout.sides.reserve(keyed.size());
    for (const auto& entry : keyed) {
        if (buckets.empty() || buckets.back().contrastId != entry[0] || buckets.back().lumaId != entry[1]) {
            if (buckets.empty() || buckets.back().contrastId != entry[0]) {
                layout.groupStart.push_back(static_cast<int32_t>(buckets.size()));
                layout.groupContrast.push_back(entry[0]);
            }
            buckets.push_back(Bucket {entry[0], entry[1], static_cast<int32_t>(layout.sides.size()), 0});
        }
        ++buckets.back().size;
        layout.fileAt.push_back(entry[2]);
        layout.bucketAt.push_back(static_cast<int32_t>(buckets.size()) - 1);
        layout.sides.push_back(makePairSide(signatures[static_cast<std::size_t>(entry[2])]));
    }
    layout.groupStart.push_back(static_cast<int32_t>(buckets.size()));
    return layout;
}

// Packed maps: the plain map sum of every pair that gets that far reads a
// quarter of the bytes. A map that cannot be packed keeps the byte sums.
// Every map is written whole by its packing: no need to clear them first.
void packMaps(BucketLayout& layout, int32_t jobs, WorkerPool* pool)
{
    layout.planes.reset(new ContrastPlanes[layout.sides.size()]);
    parallelFor(static_cast<int64_t>(layout.sides.size()), jobs, [&](int64_t k, int32_t) {
        PairSide& side = layout.sides[static_cast<std::size_t>(k)];
        ContrastPlanes& packed = layout.planes[static_cast<std::size_t>(k)];
        if (packContrastPlanes(side.signature->contrastMap.data(), kInnerSize * kInnerSize, packed))
            side.planes = &packed;
    }, pool);
}

// Pairs to score, for the progress counter: those of each bucket with
// itself and with the buckets after it that pass the gate. A pass over
// turned signatures meets every bucket pair and scores about half of the
// pictures met, those in FileTable order: half its count stands for it.
int64_t countGatedPairs(const PassLayout& layout, int32_t level, int32_t jobs, WorkerPool* pool)
{
    const std::vector<Bucket>& buckets = layout.rows.buckets;
    const BucketLayout& columns = layout.columns();
    std::vector<int64_t> bucketPairs(buckets.size(), 0);
    parallelFor(static_cast<int64_t>(buckets.size()), jobs, [&](int64_t p, int32_t) {
        const Bucket& bucket = buckets[static_cast<std::size_t>(p)];
        const int64_t size = bucket.size;
        const int32_t group = static_cast<int32_t>(
            std::upper_bound(layout.rows.groupStart.begin(), layout.rows.groupStart.end(), static_cast<int32_t>(p))
            - layout.rows.groupStart.begin() - 1);
        int64_t pairs = 0;
        for (int32_t g2 = layout.turned ? 0 : group; g2 < columns.groupCount(); ++g2) {
            const int32_t contrast = layout.contrastBetween(group, g2);
            if (contrast > level + 3)
                continue;
            const int32_t groupEnd = columns.groupStart[g2 + 1];
            const int32_t firstQ = layout.turned ? columns.groupStart[g2]
                                                 : std::max(static_cast<int32_t>(p), columns.groupStart[g2]);
            for (int32_t q = firstQ; q < groupEnd; ++q) {
                if (!passesCodeGate(layout.codesBetween(contrast, static_cast<int32_t>(p), q), level))
                    continue;
                if (layout.turned)
                    pairs += size * columns.buckets[q].size / 2;
                else
                    pairs += q == p ? size * (size - 1) / 2 : size * buckets[q].size;
            }
        }
        bucketPairs[static_cast<std::size_t>(p)] = pairs;
    }, pool);
    int64_t totalPairs = 0;
    for (int64_t pairs : bucketPairs)
        totalPairs += pairs;
    return totalPairs;
}

// Tiles: runs of up to kTileRows positions inside one contrast group. A
// tile is scored against each later picture in turn, so every picture's
// data is fetched once per tile rather than once per row.
std::vector<Tile> makeTiles(const BucketLayout& layout)
{
    std::vector<Tile> tiles;
    for (int32_t g = 0; g < layout.groupCount(); ++g) {
        const Bucket& last = layout.buckets[layout.groupStart[g + 1] - 1];
        const int32_t first = layout.buckets[layout.groupStart[g]].first;
        const int32_t end = last.first + last.size;
        for (int32_t t = first; t < end; t += kTileRows)
            tiles.push_back(Tile {g, t, std::min(end, t + kTileRows)});
    }
    return tiles;
}

// Scores one tile against every later picture whose bucket passes the gate
// with some of the tile's buckets, and keeps the lines of the accepted
// pairs. With the lanes, sixteen rows are judged at once and only the pairs
// they let through are scored; without them, row by row.
class TileScorer {
public:
    TileScorer(const PassLayout& layout, const SimilarPairPassInput& input, const SimilarScoreLimits& limits,
               bool useLanes, const Tile& tile, std::vector<std::string>& lines)
        : m_layout(layout), m_rows(layout.rows), m_columns(layout.columns()), m_input(input), m_limits(limits),
          m_useLanes(useLanes), m_tile(tile), m_lines(lines)
    {
        for (int32_t p = m_rows.bucketAt[tile.first]; p <= m_rows.bucketAt[tile.end - 1]; ++p) {
            const Bucket& bucket = m_rows.buckets[p];
            const int32_t bucketEnd = bucket.first + bucket.size;
            m_own.push_back(TileBucket {p, std::max(tile.first, bucket.first), std::min(tile.end, bucketEnd), {}});
        }
        if (useLanes) {
            for (int32_t i = tile.first; i < tile.end; ++i)
                m_laneRows.assign(i - tile.first, m_rows.sides[i]);
        }
        if (layout.turned) {
            // The tile's rows by FileTable index, each with the bits of the
            // rows up to it: the rows before a column's file in a look-up.
            for (int32_t i = tile.first; i < tile.end; ++i)
                m_rowFiles.push_back(RowFile {m_rows.fileAt[i], i - tile.first, 0});
            std::sort(m_rowFiles.begin(), m_rowFiles.end(),
                      [](const RowFile& x, const RowFile& y) { return x.file < y.file; });
            uint64_t bits = 0;
            for (RowFile& row : m_rowFiles) {
                bits |= uint64_t {1} << row.bit;
                row.bitsUpTo = bits;
            }
        }
    }

    // Pairs examined; the lines go to `lines`. An abort leaves the tile
    // early, its queued pairs unscored, as every pair after the abort is.
    int64_t run()
    {
        const int32_t firstBucket = m_own.front().bucket;
        for (int32_t g2 = m_layout.turned ? 0 : m_tile.group; g2 < m_columns.groupCount(); ++g2) {
            const int32_t contrast = m_layout.contrastBetween(m_tile.group, g2);
            if (contrast > m_input.level + 3)
                continue;
            const int32_t firstQ = m_layout.turned ? m_columns.groupStart[g2]
                                                   : std::max(firstBucket, m_columns.groupStart[g2]);
            for (int32_t q = firstQ; q < m_columns.groupStart[g2 + 1]; ++q) {
                if (!scoreBucket(contrast, q))
                    return m_examined;
            }
        }
        scoreQueue();
        return m_examined;
    }

private:
    struct TileBucket {
        int32_t bucket = 0;
        int32_t rowsFirst = 0; // positions of its members inside the tile
        int32_t rowsEnd = 0;
        CodeDistances codes;
    };
    struct RowFile {
        int32_t file = 0;
        int32_t bit = 0;       // the row's bit in the tile
        uint64_t bitsUpTo = 0; // its bit and those of the rows of lower files
    };
    struct QueuedContrastStep {
        int32_t a = 0; // positions, a the lower FileTable index (in a turned pass a row's, b a column's)
        int32_t b = 0;
        SimilarPairScores steps;
    };

    bool aborted() const { return m_input.abortFlag.load(std::memory_order_relaxed); }

    // The tile's buckets that pass the gate with bucket q, against each of
    // q's pictures. False once aborted.
    bool scoreBucket(int32_t contrast, int32_t q)
    {
        m_passing.clear();
        uint64_t passingRows = 0;
        for (const TileBucket& p : m_own) {
            const CodeDistances codes = m_layout.codesBetween(contrast, p.bucket, q);
            if ((m_layout.turned || p.bucket <= q) && passesCodeGate(codes, m_input.level)) {
                if (m_useLanes)
                    passingRows |= rowBits(p.rowsFirst - m_tile.first, p.rowsEnd - m_tile.first);
                else
                    m_passing.push_back(TileBucket {p.bucket, p.rowsFirst, p.rowsEnd, codes});
            }
        }
        if (m_passing.empty() && passingRows == 0)
            return true;
        const Bucket& other = m_columns.buckets[q];
        const int32_t endJ = other.first + other.size;
        int32_t firstJ = std::max(other.first, m_tile.first + 1);
        if (m_layout.turned) {
            // The bucket's members ascend in the FileTable: those up to the
            // tile's lowest file meet no row.
            const auto files = m_columns.fileAt.begin();
            firstJ = static_cast<int32_t>(
                std::upper_bound(files + other.first, files + endJ, m_rowFiles.front().file) - files);
        }
        for (int32_t j = firstJ; j < endJ; ++j) {
            if (!(m_useLanes ? judgeRows(j, passingRows, contrast, q) : scoreRows(j)))
                return false;
        }
        return true;
    }

    // Whether the pair of row i and column j is scored: in a plain pass each
    // pair once, the row before its partner; in a turned pass the pairs whose
    // row comes first in the FileTable.
    bool scoresPair(int32_t i, int32_t j) const
    {
        return m_layout.turned ? m_rows.fileAt[i] < m_columns.fileAt[j] : i < j;
    }

    // The pairs of picture j with the rows of the passing buckets before
    // it. False once aborted.
    bool scoreRows(int32_t j)
    {
        for (const TileBucket& p : m_passing) {
            for (int32_t i = p.rowsFirst; i < p.rowsEnd; ++i) {
                if (!scoresPair(i, j))
                    continue;
                if (aborted())
                    return false;
                ++m_examined;
                score(i, j, p.codes);
            }
        }
        return true;
    }

    // Bits of the tile's rows that are scored with column j.
    uint64_t rowsScoredWith(int32_t j) const
    {
        if (!m_layout.turned)
            return rowBits(0, j - m_tile.first);
        const int32_t file = m_columns.fileAt[j];
        const auto after = std::lower_bound(m_rowFiles.begin(), m_rowFiles.end(), file,
                                            [](const RowFile& row, int32_t f) { return row.file < f; });
        return after == m_rowFiles.begin() ? 0 : std::prev(after)->bitsUpTo;
    }

    // The same through the lanes: bit r of `rows` stands for row
    // m_tile.first + r. The pairs that still need their contrast step wait in
    // the queue, their maps fetched ahead.
    bool judgeRows(int32_t j, uint64_t rows, int32_t contrast, int32_t q)
    {
        rows &= rowsScoredWith(j);
        while (rows != 0) {
            if (aborted())
                return false;
            int32_t count = 0;
            uint32_t judged = 0;
            const uint32_t kept =
                judgeNextLanes(m_laneRows, rows, m_rowIndex, count, m_columns.sides[j], m_limits, m_laneScores, judged);
            m_examined += count;
            for (uint32_t m = kept; m != 0; m &= m - 1) {
                const auto k = static_cast<std::size_t>(std::countr_zero(m));
                const int32_t i = m_tile.first + m_rowIndex[k];
                const CodeDistances codes = m_layout.codesBetween(contrast, m_rows.bucketAt[i], q);
                if ((judged >> k & 1) == 0) {
                    score(i, j, codes);
                    continue;
                }
                QueuedContrastStep& queued = m_contrastQueue[static_cast<std::size_t>(m_queuedSteps++)];
                std::tie(queued.a, queued.b) = inFileOrder(i, j);
                queued.steps.codes = codes;
                queued.steps.luma = m_laneScores.luma[k];
                queued.steps.chroma = m_laneScores.chroma[k];
                fetchMapsAhead(m_columns.sides[j]);
                if (m_queuedSteps == kQueuedContrastSteps)
                    scoreQueue();
            }
        }
        return true;
    }

    void scoreQueue()
    {
        for (int32_t n = 0; n < m_queuedSteps; ++n) {
            const QueuedContrastStep& e = m_contrastQueue[static_cast<std::size_t>(n)];
            addLine(e.a, e.b, scoreContrastStep(m_rows.sides[e.a], m_columns.sides[e.b], e.steps, m_limits));
        }
        m_queuedSteps = 0;
    }

    // Scores are taken with A the lower FileTable index. In a plain pass the
    // rows and columns are the same pictures, so either may come first; in
    // a turned pass the row always does.
    std::pair<int32_t, int32_t> inFileOrder(int32_t i, int32_t j) const
    {
        return m_layout.turned || m_rows.fileAt[i] < m_rows.fileAt[j] ? std::pair {i, j} : std::pair {j, i};
    }

    void score(int32_t i, int32_t j, const CodeDistances& codes)
    {
        const auto [pa, pb] = inFileOrder(i, j);
        addLine(pa, pb, scoreGatedPair(m_rows.sides[pa], m_columns.sides[pb], codes, m_limits));
    }

    void addLine(int32_t pa, int32_t pb, const std::optional<SimilarPairScores>& scores)
    {
        if (!scores)
            return;
        const int32_t a = m_rows.fileAt[pa];
        const int32_t b = m_columns.fileAt[pb];
        const auto& signatures = m_input.signatures;
        const SimilarSignature& signatureB = m_layout.turned ? m_input.turned[b] : signatures[b];
        const FileTable& files = m_input.files;
        m_lines.push_back(similarResultLine(*scores, a, b, signatures[a], signatureB, files[a].path, files[b].path));
    }

    const PassLayout& m_layout;
    const BucketLayout& m_rows;
    const BucketLayout& m_columns;
    const SimilarPairPassInput& m_input;
    const SimilarScoreLimits& m_limits;
    const bool m_useLanes;
    const Tile& m_tile;
    std::vector<std::string>& m_lines;
    std::vector<TileBucket> m_own;     // the tile's buckets
    std::vector<TileBucket> m_passing; // without the lanes: those that pass the gate with the present bucket
    std::vector<RowFile> m_rowFiles;   // in a turned pass: the tile's rows by file
    int64_t m_examined = 0;
    LaneRows m_laneRows;
    LaneScores m_laneScores;
    std::array<int32_t, kLanes> m_rowIndex {};
    std::array<QueuedContrastStep, kQueuedContrastSteps> m_contrastQueue;
    int32_t m_queuedSteps = 0;
};

// The buckets of a pass, their maps packed.
PassLayout makePassLayout(const SimilarPairPassInput& input, const std::vector<int32_t>& eligible,
                          const std::vector<int32_t>& turnedEligible)
{
    std::vector<HalfCodes> contrastHalves;
    std::vector<HalfCodes> lumaHalves;
    addHalves(eligible, input.signatures, contrastHalves, lumaHalves);
    if (!input.turned.empty())
        addHalves(turnedEligible, input.turned, contrastHalves, lumaHalves);
    PassLayout layout;
    layout.tables.contrastTable = makeHalfTable(contrastHalves);
    layout.tables.lumaTable = makeHalfTable(lumaHalves);
    layout.rows = makeBuckets(eligible, input.signatures, layout.tables);
    packMaps(layout.rows, input.jobs, input.pool);
    if (!input.turned.empty()) {
        layout.turned = true;
        layout.turnedColumns = makeBuckets(turnedEligible, input.turned, layout.tables);
        packMaps(layout.turnedColumns, input.jobs, input.pool);
    }
    return layout;
}

} // namespace

std::vector<std::string> runSimilarPairPass(const SimilarPairPassInput& input, int64_t* pairsToScore)
{
    if (pairsToScore != nullptr)
        *pairsToScore = 0;
    const std::vector<int32_t> eligible = eligibleFiles(input.files);
    const std::vector<int32_t> turnedEligible =
        input.turned.empty() ? std::vector<int32_t> {} : withSignature(eligible, input.turned);
    const bool tooFew = input.turned.empty() ? eligible.size() < 2 : eligible.empty() || turnedEligible.empty();
    if (tooFew || input.abortFlag.load(std::memory_order_relaxed))
        return {};
    const PassLayout layout = makePassLayout(input, eligible, turnedEligible);
    const int64_t totalPairs = countGatedPairs(layout, input.level, input.jobs, input.pool);
    if (pairsToScore != nullptr)
        *pairsToScore = totalPairs;
    const std::vector<Tile> tiles = makeTiles(layout.rows);
    const SimilarScoreLimits limits = similarScoreLimits(input.level, static_cast<int32_t>(input.files.size()));
    const bool useLanes = pairLanesAvailable();
    std::vector<std::vector<std::string>> tileLines(tiles.size());
    std::atomic<int64_t> donePairs {0};
    input.report(SearchProgress::Phase::Pairs, 0, totalPairs, true);
    parallelFor(static_cast<int64_t>(tiles.size()), input.jobs, [&](int64_t t, int32_t) {
        const auto k = static_cast<std::size_t>(t);
        const int64_t examined = TileScorer(layout, input, limits, useLanes, tiles[k], tileLines[k]).run();
        const int64_t done = donePairs.fetch_add(examined) + examined;
        input.report(SearchProgress::Phase::Pairs, done, totalPairs);
    }, input.pool);
    // A turned pass's count is an estimate: when it has run through, it has
    // done all it counted.
    const bool whole = layout.turned && !input.abortFlag.load(std::memory_order_relaxed);
    input.report(SearchProgress::Phase::Pairs, whole ? totalPairs : donePairs.load(), totalPairs, true);

    std::vector<std::string> lines;
    for (auto& chunk : tileLines) {
        for (auto& line : chunk)
            lines.push_back(std::move(line));
    }
    return lines;
}
