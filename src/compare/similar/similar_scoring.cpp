#include "compare/similar/similar_scoring.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "common/file_name.h"

namespace {

// Step bounds that do not depend on the number of files.
constexpr double kLumaStepBound = 28;
constexpr double kChromaStepBound = 35;

// Final bounds (added to 2.5 x CheckLevel; similarity to 5 x CheckLevel).
struct FinalBounds {
    double contrast;
    double luma;
    double chroma;
    double lumaChroma;
    double similarity;
};
constexpr FinalBounds kSmallSearchBounds {87, 28, 27, 47, 204};
constexpr FinalBounds kLargeSearchBounds {77, 24, 23, 42, 188};

// A map score is a mean of byte differences.
constexpr int32_t kMaxMapScore = 255;

// Rounded-up reciprocals 2^32 / d for the divisions of the alignment
// mapping; spreads of real pictures stay below 90.
constexpr int32_t kMaxReciprocalDivisor = 256;
constexpr std::array<uint64_t, kMaxReciprocalDivisor> kReciprocals = [] {
    std::array<uint64_t, kMaxReciprocalDivisor> r {};
    for (uint64_t d = 1; d < kMaxReciprocalDivisor; ++d)
        r[d] = ((uint64_t {1} << 32) + d - 1) / d;
    return r;
}();

const std::vector<int8_t> g_offsetTable = [] {
    std::vector<int8_t> t(static_cast<std::size_t>(alignmentOffsetRow(kTabledSpread + 1, 1) + 1) * kOffsetRowBytes);
    for (int32_t spreadR = 1; spreadR <= kTabledSpread; ++spreadR) {
        for (int32_t spreadO = 1; spreadO <= spreadR; ++spreadO) {
            int8_t* row = t.data() + static_cast<std::ptrdiff_t>(alignmentOffsetRow(spreadR, spreadO)) * kOffsetRowBytes;
            for (int32_t d = -kOffsetZero; d < kOffsetRowBytes - kOffsetZero; ++d)
                row[d + kOffsetZero] = static_cast<int8_t>(spreadO * d / spreadR);
        }
    }
    return t;
}();

// n / d, truncated, by the rounded-up reciprocal where that is exact
// (n * d < 2^32), else by the division.
int32_t smallQuotient(int32_t n, int32_t d)
{
    if (n >= 0 && n < (1 << 23) && d >= 1 && d < kMaxReciprocalDivisor)
        return static_cast<int32_t>((static_cast<uint64_t>(n) * kReciprocals[static_cast<std::size_t>(d)]) >> 32);
    return n / d;
}

// Fills every field of axis in place: the pair pass makes two of these for
// most pairs, and a copy of a freshly written one stalls on the stores.
inline void alignAxis(int32_t centreA, int32_t spreadA, int32_t centreB, int32_t spreadB, AxisAlignment& axis)
{
    const bool referenceIsA = spreadA >= spreadB;
    const int32_t centreR = referenceIsA ? centreA : centreB;
    const int32_t spreadR = referenceIsA ? spreadA : spreadB;
    const int32_t centreO = referenceIsA ? centreB : centreA;
    const int32_t spreadO = referenceIsA ? spreadB : spreadA;
    const int32_t lo =
        centreR - std::min(centreR - kInnerFirst, smallQuotient((centreO - kInnerFirst) * spreadR, spreadO));
    const int32_t hi =
        centreR + std::min(kInnerLast - centreR, smallQuotient(spreadR * (kInnerLast - centreO), spreadO));
    axis.referenceIsA = referenceIsA;
    axis.centreR = centreR;
    axis.centreO = centreO;
    axis.spreadR = spreadR;
    axis.spreadO = spreadO;
    axis.lo = lo;
    axis.hi = hi;
    axis.reciprocal = spreadR < kMaxReciprocalDivisor && spreadO <= spreadR && spreadO > 0
        ? kReciprocals[static_cast<std::size_t>(spreadR)]
        : 0;
    axis.offsets = nullptr;
    // The table serves windows that lie inside the inner cells and map into
    // them (the mapping only grows with k, so both ends tell).
    if (spreadR <= kTabledSpread && spreadO >= 1 && spreadO <= spreadR && centreR >= kInnerFirst
        && centreR <= kInnerLast && lo >= kInnerFirst && hi <= kInnerLast && lo <= hi) {
        const int8_t* offsets =
            g_offsetTable.data() + static_cast<std::ptrdiff_t>(alignmentOffsetRow(spreadR, spreadO)) * kOffsetRowBytes
            + kOffsetZero;
        if (centreO + offsets[lo - centreR] >= kInnerFirst && centreO + offsets[hi - centreR] <= kInnerLast)
            axis.offsets = offsets;
    }
}

} // namespace

const int8_t* alignmentOffsets()
{
    return g_offsetTable.data();
}

int32_t contrastTotalsScore(const PairSide& a, const PairSide& b)
{
    return std::abs(a.planeTotals[0] - b.planeTotals[0]) / kContrastTotalDivisor;
}

bool alignmentWindowExists(const PairSide& a, const PairSide& b)
{
    return std::abs(a.warmX - b.warmX) < kAlignmentReach && std::abs(a.warmY - b.warmY) < kAlignmentReach;
}

namespace {

// The alignment window of one pair, worked out only as far as the scores
// need it: many pairs are decided before the y axis or any index pairing is
// looked at.
class PairWindow {
public:
    // Two pictures with the same warm centroid and spreads on both axes (every
    // picture without warm cells, for one) meet index for index over the whole
    // of 5..64: lo = c - (c - 5) = 5, hi = c + (64 - c) = 64 and m(k) = k,
    // since s * d / s = d exactly. Their aligned sums are then the plain ones
    // over the same 60 indices (3600 cells), never below them, so the scores
    // are the plain scores and the window can be passed over.
    PairWindow(const PairSide& a, const PairSide& b)
        : m_a(&a), m_b(&b),
          m_exists(alignmentWindowExists(a, b)
                   && (a.warmX != b.warmX || a.warmY != b.warmY || a.spreadA != b.spreadA || a.spreadB != b.spreadB))
    {
    }

    bool exists() const { return m_exists; }
    const AxisAlignment& axisX()
    {
        if (!m_hasAxisX) {
            alignAxis(m_a->warmX, m_a->spreadA, m_b->warmX, m_b->spreadA, m_x);
            m_hasAxisX = true;
        }
        return m_x;
    }
    const AxisAlignment& axisY()
    {
        if (!m_hasAxisY) {
            alignAxis(m_a->warmY, m_a->spreadB, m_b->warmY, m_b->spreadB, m_y);
            m_hasAxisY = true;
        }
        return m_y;
    }
    const IndexPairing& pairingX()
    {
        if (!m_hasPairingX) {
            fillAxisPairing(axisX(), m_pairingX);
            m_hasPairingX = true;
        }
        return m_pairingX;
    }
    // The x or y axis as a run of the offsets table, when the table serves it.
    static bool hasRun(const AxisAlignment& axis) { return axis.offsets != nullptr; }
    static AxisRun runOf(const AxisAlignment& axis)
    {
        return AxisRun {axis.hi - axis.lo + 1, axis.lo - kInnerFirst, axis.centreO - kInnerFirst,
                        axis.offsets + (axis.lo - axis.centreR), axis.referenceIsA};
    }
    const IndexPairing& pairingY()
    {
        if (!m_hasPairingY) {
            fillAxisPairing(axisY(), m_pairingY);
            m_hasPairingY = true;
        }
        return m_pairingY;
    }

private:
    const PairSide* m_a = nullptr;
    const PairSide* m_b = nullptr;
    bool m_exists = false;
    AxisAlignment m_x;
    AxisAlignment m_y;
    bool m_hasAxisX = false;
    bool m_hasAxisY = false;
    bool m_hasPairingX = false;
    bool m_hasPairingY = false;
    IndexPairing m_pairingX;
    IndexPairing m_pairingY;
};



double levelAllowance(int32_t level)
{
    return 2.5 * level;
}

int32_t codeAt(const std::array<int32_t, 13>& codes, int32_t first)
{
    return codes[first] * 100000 + codes[first + 1] * 10000 + codes[first + 2] * 1000 + codes[first + 3] * 100
        + codes[first + 4] * 10 + codes[first + 5];
}

int32_t plainRowDistance(const std::array<uint8_t, 64>& a, const std::array<uint8_t, 64>& b)
{
    // Elements 60..63 are 0 on both sides; summing all 64 lets the loop vectorise.
    int32_t sum = 0;
    for (int32_t i = 0; i < 64; ++i)
        sum += std::abs(static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]));
    return sum;
}

// Inner index (less 5) of the other picture at index k of the reference. The
// clamp never acts for real signatures (centroids lie in 5..64); it only
// keeps the arrays safe.
int32_t otherIndex(const AxisAlignment& axis, int32_t k)
{
    return std::clamp(axis.mappedFast(k), kInnerFirst, kInnerLast) - kInnerFirst;
}

// Sum of |reference[k] - other[m(k)]| over the window of one axis, stopping
// as soon as it reaches stopAt (the result is then at least stopAt).
int32_t alignedRowSum(const std::array<uint8_t, 64>& a, const std::array<uint8_t, 64>& b, const AxisAlignment& axis,
                      int32_t stopAt)
{
    const auto& reference = axis.referenceIsA ? a : b;
    const auto& other = axis.referenceIsA ? b : a;
    const int32_t lo = std::max(axis.lo, kInnerFirst);
    const int32_t hi = std::min(axis.hi, kInnerLast);
    int32_t sum = 0;
    // The mapping only grows with k, so checking both ends checks it all.
    const bool inside = lo > hi
        || (axis.reciprocal != 0 && axis.mappedFast(lo) >= kInnerFirst && axis.mappedFast(hi) <= kInnerLast);
    if (!inside) {
        for (int32_t k = lo; k <= hi && sum < stopAt; ++k)
            sum += std::abs(static_cast<int32_t>(reference[k - kInnerFirst]) - static_cast<int32_t>(other[otherIndex(axis, k)]));
        return sum;
    }
    // Below and above the reference centroid apart, so that the loops need
    // no sign test; the common case, reciprocal multiply and no clamps.
    const uint64_t spreadO = static_cast<uint64_t>(axis.spreadO);
    const int32_t base = axis.centreO - kInnerFirst;
    const int32_t split = std::clamp(axis.centreR, lo, hi + 1);
    for (int32_t k = lo; k < split; ++k) {
        const auto q = static_cast<int32_t>((spreadO * static_cast<uint64_t>(axis.centreR - k) * axis.reciprocal) >> 32);
        sum += std::abs(static_cast<int32_t>(reference[k - kInnerFirst]) - static_cast<int32_t>(other[base - q]));
        if (((k - lo) & 7) == 7 && sum >= stopAt)
            return sum;
    }
    for (int32_t k = split; k <= hi; ++k) {
        const auto q = static_cast<int32_t>((spreadO * static_cast<uint64_t>(k - axis.centreR) * axis.reciprocal) >> 32);
        sum += std::abs(static_cast<int32_t>(reference[k - kInnerFirst]) - static_cast<int32_t>(other[base + q]));
        if (((k - lo) & 7) == 7 && sum >= stopAt)
            return sum;
    }
    return sum;
}

// The profile part of LumaScore or ChromaScore (rowX: the index into
// PairSide::rows of the x row; the y row follows it) where only a value
// below cap matters: the result is exact when the score is below cap, and at
// least cap otherwise. Most pairs are rejected here, so the aligned sums stop
// as soon as they cannot decide.
int32_t profileScore(const PairSide& a, const PairSide& b, int32_t rowX, PairWindow& window,
                     bool vectorised, int32_t cap = std::numeric_limits<int32_t>::max())
{
    static_assert(sizeof(PairSide::rows) == 4 * 64, "the rows lie one after another");
    const int32_t rowY = rowX + 1;
    const int32_t plain = plainRowDistance(a.rows[rowX], b.rows[rowX]) / kInnerSize
        + plainRowDistance(a.rows[rowY], b.rows[rowY]) / kInnerSize;
    if (!window.exists())
        return plain;
    // The aligned value only counts when it comes out below this.
    const int32_t limit = std::min(plain, cap);
    if (limit <= 1)
        return plain; // an aligned value counts only when both axes give at least 1
    if (vectorised && PairWindow::hasRun(window.axisX()) && PairWindow::hasRun(window.axisY())) {
        // Both sums whole and no branch between them: with vectorised sums
        // a second sum costs less than a mispredicted decision.
        const AxisSums sums = alignedRowDistances(a.rows[rowX].data(), b.rows[rowX].data(),
                                                  PairWindow::runOf(window.axisX()), PairWindow::runOf(window.axisY()));
        const int32_t ax = smallQuotient(sums.x, std::max(1, window.axisX().length()));
        const int32_t ay = smallQuotient(sums.y, std::max(1, window.axisY().length()));
        const int32_t aligned = ax >= 1 && ay >= 1 ? ax + ay : 0;
        return aligned > 0 && aligned < limit ? aligned : plain;
    }
    const int32_t lengthX = std::max(1, window.axisX().length());
    // The y axis adds at least 1 to a valid aligned value, so x may stop at limit - 1.
    // The vectorised sum is cheap enough to take whole.
    const auto alignedSum = [&](const AxisAlignment& axis, const std::array<uint8_t, 64>& rowA,
                                const std::array<uint8_t, 64>& rowB, int32_t stopAt, bool alongX) {
        if (!vectorised)
            return alignedRowSum(rowA, rowB, axis, stopAt);
        if (PairWindow::hasRun(axis))
            return alignedRowDistance(rowA.data(), rowB.data(), PairWindow::runOf(axis));
        return pairedRowDistance(rowA.data(), rowB.data(), alongX ? window.pairingX() : window.pairingY());
    };
    const int32_t sumX = alignedSum(window.axisX(), a.rows[rowX], b.rows[rowX], (limit - 1) * lengthX, true);
    // A division instruction would cost more than the sum.
    const int32_t ax = smallQuotient(sumX, lengthX);
    if (ax < 1 || ax >= limit - 1)
        return plain; // aligned value 0, or not below the limit
    const int32_t lengthY = std::max(1, window.axisY().length());
    const int32_t sumY = alignedSum(window.axisY(), a.rows[rowY], b.rows[rowY], (limit - ax) * lengthY, false);
    const int32_t ay = smallQuotient(sumY, lengthY);
    if (ay < 1 || ax + ay >= limit)
        return plain;
    return ax + ay;
}

// The map part of ContrastScore, exact when below cap and at least cap
// otherwise (as profileScore).
int32_t contrastScore(const PairSide& a, const PairSide& b, PairWindow& window,
                      int32_t cap = std::numeric_limits<int32_t>::max())
{
    constexpr int32_t kCells = kInnerSize * kInnerSize;
    const uint8_t* mapA = a.signature->contrastMap.data();
    const uint8_t* mapB = b.signature->contrastMap.data();
    // A plain value of cap or more only needs to be known as such.
    const int32_t plainStop = cap < kMaxMapScore + 1 ? cap * kCells : std::numeric_limits<int32_t>::max();
    const int32_t plainSum = a.planes != nullptr && b.planes != nullptr ? planeDistance(*a.planes, *b.planes)
                                                                        : byteDistance(mapA, mapB, kCells, plainStop);
    const int32_t plain = plainSum / kCells;
    if (!window.exists())
        return plain;
    const int32_t limit = std::min(plain, cap);
    if (limit <= 1)
        return plain; // the aligned value counts only from 1 up
    const IndexPairing& px = window.pairingX();
    const IndexPairing& py = window.pairingY();
    const int32_t cells = std::max(1, px.length * py.length);
    const int32_t sum = pairedMapDistance(mapA, mapB, px, py, limit * cells);
    const int32_t aligned = sum / cells;
    return aligned > 0 && aligned < limit ? aligned : plain;
}

} // namespace

int32_t groupCodeDistance(const std::array<int32_t, 13>& a, const std::array<int32_t, 13>& b, int32_t group)
{
    int32_t distance = 0;
    bool bothStrong = false;
    bool bothWeak = false;
    for (int32_t e = 3 * group + 1; e <= 3 * group + 3; ++e) {
        distance += std::abs(a[e] - b[e]);
        bothStrong = bothStrong || (a[e] == 3 && b[e] == 3);
        bothWeak = bothWeak || (a[e] == 1 && b[e] == 1);
    }
    return distance - (bothStrong ? 1 : 0) - (bothWeak ? 1 : 0);
}

CodeDistances codeDistances(const SimilarSignature& a, const SimilarSignature& b)
{
    return CodeDistances {groupCodeDistance(a.bandCodes, b.bandCodes, 0) + groupCodeDistance(a.bandCodes, b.bandCodes, 1),
                          groupCodeDistance(a.bandCodes, b.bandCodes, 2) + groupCodeDistance(a.bandCodes, b.bandCodes, 3)};
}

AxisAlignment axisAlignment(int32_t centreA, int32_t spreadA, int32_t centreB, int32_t spreadB)
{
    AxisAlignment axis;
    alignAxis(centreA, spreadA, centreB, spreadB, axis);
    return axis;
}

PairSide makePairSide(const SimilarSignature& signature)
{
    PairSide side;
    for (int32_t r = 0; r < 4; ++r) {
        const auto& profile = signature.profiles[kLumaRowX + r];
        std::copy(profile.begin() + kInnerFirst, profile.begin() + kInnerLast + 1, side.rows[r].begin());
    }
    side.warmX = signature.centroidX[kWarmCentroid];
    side.warmY = signature.centroidY[kWarmCentroid];
    side.spreadA = signature.spreadA;
    side.spreadB = signature.spreadB;
    side.planeTotals = signature.planeTotals;
    side.signature = &signature;
    return side;
}

void fillAxisPairing(const AxisAlignment& axis, IndexPairing& pairing)
{
    if (axis.offsets != nullptr) {
        // All 64 entries are filled (those from the length up are never
        // used as indices), which lets the loop vectorise.
        pairing.length = axis.hi - axis.lo + 1;
        const int8_t* offsets = axis.offsets + (axis.lo - axis.centreR);
        const int32_t own = axis.lo - kInnerFirst;
        const int32_t base = axis.centreO - kInnerFirst;
        auto& ownIndices = axis.referenceIsA ? pairing.a : pairing.b;
        auto& otherIndices = axis.referenceIsA ? pairing.b : pairing.a;
        for (int32_t i = 0; i < 64; ++i) {
            ownIndices[static_cast<std::size_t>(i)] = static_cast<uint8_t>(own + i);
            otherIndices[static_cast<std::size_t>(i)] = static_cast<uint8_t>(base + offsets[i]);
        }
        return;
    }
    const int32_t lo = std::max(axis.lo, kInnerFirst);
    const int32_t hi = std::min(axis.hi, kInnerLast);
    pairing.length = std::max(0, hi - lo + 1);
    for (int32_t i = 0; i < pairing.length; ++i) {
        const auto own = static_cast<uint8_t>(lo + i - kInnerFirst);
        const auto other = static_cast<uint8_t>(otherIndex(axis, lo + i));
        pairing.a[i] = axis.referenceIsA ? own : other;
        pairing.b[i] = axis.referenceIsA ? other : own;
    }
    // The vectorised sums load whole blocks; what lies past the length is masked.
    for (auto i = static_cast<std::size_t>(pairing.length); i < pairing.a.size(); ++i) {
        pairing.a[i] = 0;
        pairing.b[i] = 0;
    }
}

namespace {

// The contrast step on a window the earlier steps may have begun.
[[gnu::flatten]] std::optional<SimilarPairScores> scoreContrastStep(const PairSide& a, const PairSide& b, const SimilarPairScores& steps,
                                                   const SimilarScoreLimits& limits, PairWindow& window)
{
    // Larger contrast only makes every remaining bound harder to meet (the
    // reduction of ChromaScore shrinks as ContrastScore grows), so there is a
    // smallest map score that fails; the map comparison stops when it gets there.
    const int32_t totals = contrastTotalsScore(a, b);
    int32_t failing = kMaxMapScore + 1; // smallest failing map score: binary search
    for (int32_t passing = -1; failing - passing > 1;) {
        const int32_t middle = (passing + failing) / 2;
        (passesFinalBounds(withContrast(steps, middle + totals), limits) ? passing : failing) = middle;
    }
    if (failing == 0)
        return std::nullopt;
    const SimilarPairScores s = withContrast(steps, contrastScore(a, b, window, failing) + totals);
    if (!passesFinalBounds(s, limits))
        return std::nullopt;
    return s;
}

} // namespace

SimilarScoreLimits similarScoreLimits(int32_t level, int32_t fileCount)
{
    // An integer score s is below the real bound b exactly when s <= ceil(b) - 1.
    const auto largestBelow = [](double bound) { return static_cast<int32_t>(std::ceil(bound)) - 1; };
    const double lv = levelAllowance(level);
    const FinalBounds& bounds = fileCount > kLargeSearchFiles ? kLargeSearchBounds : kSmallSearchBounds;
    return SimilarScoreLimits {largestBelow(lv + kLumaStepBound),  largestBelow(lv + kChromaStepBound),
                               largestBelow(lv + bounds.contrast), largestBelow(lv + bounds.luma),
                               largestBelow(lv + bounds.chroma),   largestBelow(lv + bounds.lumaChroma),
                               largestBelow(2 * lv + bounds.similarity)};
}

std::optional<SimilarPairScores> scoreGatedPair(const PairSide& a, const PairSide& b, const CodeDistances& codes,
                                                int32_t level, int32_t fileCount)
{
    return scoreGatedPair(a, b, codes, similarScoreLimits(level, fileCount));
}

// Everything a pair runs through is inlined here: most pairs take well under
// a hundred nanoseconds, so calls and spills show.
[[gnu::flatten]] std::optional<SimilarPairScores> scoreGatedPair(const PairSide& a, const PairSide& b,
                                                                 const CodeDistances& codes,
                                                                 const SimilarScoreLimits& limits)
{
    PairWindow window(a, b);
    const bool vectorised = byteSumsVectorised();

    SimilarPairScores s;
    s.codes = codes;
    const int32_t lumaTotals = std::abs(a.planeTotals[1] - b.planeTotals[1]) / kLumaTotalDivisor;
    // Only a profile score that keeps LumaScore below both its bounds matters.
    const int32_t lumaCap = std::min(limits.lumaStep, limits.luma) + 1 - lumaTotals;
    s.luma = profileScore(a, b, 0, window, vectorised, lumaCap) + lumaTotals;
    // LumaScore does not change after this point, so its final bound (never
    // looser than the step bound) can reject the pair right away.
    if (s.luma > limits.lumaStep || s.luma > limits.luma)
        return std::nullopt;

    s.chroma = profileScore(a, b, 2, window, vectorised)
        + std::abs(a.planeTotals[2] - b.planeTotals[2]) / kChromaTotalDivisor;
    if (s.chroma > kLumaReductionFrom)
        s.chroma -= std::min(kLumaReductionMax, std::max(0, kLumaReductionBase - s.luma));
    if (s.chroma > limits.chromaStep)
        return std::nullopt;
    // The contrast reduction takes at most 8 off ChromaScore; a pair that
    // cannot pass even then is spared the costly map comparison.
    if (s.chroma - kContrastReductionMax > limits.chroma
        || s.luma + s.chroma - kContrastReductionMax > limits.lumaChroma)
        return std::nullopt;

    return scoreContrastStep(a, b, s, limits, window);
}

std::optional<SimilarPairScores> scoreContrastStep(const PairSide& a, const PairSide& b, const SimilarPairScores& steps,
                                                   const SimilarScoreLimits& limits)
{
    PairWindow window(a, b);
    return scoreContrastStep(a, b, steps, limits, window);
}

std::optional<SimilarPairScores> scoreSimilarPair(const SimilarSignature& a, const SimilarSignature& b,
                                                  int32_t level, int32_t fileCount)
{
    const CodeDistances codes = codeDistances(a, b);
    if (!passesCodeGate(codes, level))
        return std::nullopt;
    return scoreGatedPair(makePairSide(a), makePairSide(b), codes, level, fileCount);
}

std::string similarResultLine(const SimilarPairScores& scores, int32_t indexA, int32_t indexB,
                              const SimilarSignature& a, const SimilarSignature& b, std::string_view pathA,
                              std::string_view pathB)
{
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%.4d, %.6d, %.6d, %.3d,%.3d,%.3d,%.6d,%.6d,%.6d,%.6d,%.2d,%.6d,%.6d,%.2d,",
                  scores.similarity, indexA, indexB, scores.contrast, scores.luma, scores.chroma,
                  std::abs(a.planeTotals[1] - b.planeTotals[1]), std::abs(a.planeTotals[2] - b.planeTotals[2]),
                  codeAt(a.bandCodes, 1), codeAt(b.bandCodes, 1), scores.codes.contrast, codeAt(a.bandCodes, 7),
                  codeAt(b.bandCodes, 7), scores.codes.luminance);
    std::string line(buffer);
    line.append(fileNameOf(pathA));
    line += ',';
    line.append(fileNameOf(pathB));
    return line;
}
