#include "compare/similar/similar_pair_lanes.h"

#include <algorithm>
#include <bit>

#include "compare/similar/similar_byte_sums.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 header makes its "undefined" vectors by initialising
// them from themselves, which its own flow analysis then reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#define ZELVIC_PAIR_LANES 1
#endif

namespace {

// Plane totals are sums over 3600 cells of bytes; up to this bound their
// differences divide exactly in single precision.
constexpr int32_t kLargestTotal = 1 << 20;

// Whether the lanes can judge pairs with this picture: the offsets table
// covers its spreads, its centroids lie in the inner cells, its totals are
// those of a real signature.
bool judgeable(const PairSide& s)
{
    const auto inside = [](int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; };
    return inside(s.warmX, kInnerFirst, kInnerLast) && inside(s.warmY, kInnerFirst, kInnerLast)
        && inside(s.spreadA, 1, kTabledSpread) && inside(s.spreadB, 1, kTabledSpread)
        && inside(s.planeTotals[0], 0, kLargestTotal) && inside(s.planeTotals[1], 0, kLargestTotal)
        && inside(s.planeTotals[2], 0, kLargestTotal);
}

// Takes the lowest set bits of `pending` (at most kLanes) off it, their
// positions to rowIndex in ascending order; returns how many.
int32_t takeLowestRows(uint64_t& pending, std::array<int32_t, kLanes>& rowIndex)
{
    int32_t count = 0;
    for (; pending != 0 && count < kLanes; pending &= pending - 1)
        rowIndex[static_cast<std::size_t>(count++)] = std::countr_zero(pending);
    return count;
}

} // namespace

void LaneRows::assign(int32_t row, const PairSide& side)
{
    const auto r = static_cast<std::size_t>(row);
    warmX[r] = side.warmX;
    warmY[r] = side.warmY;
    spreadX[r] = side.spreadA;
    spreadY[r] = side.spreadB;
    lumaTotal[r] = side.planeTotals[1];
    chromaTotal[r] = side.planeTotals[2];
    contrastTotal[r] = side.planeTotals[0];
    inRange[r] = judgeable(side) ? 1 : 0;
    sides[r] = &side;
}

bool pairLanesAvailable()
{
    return byteSumKind() == ByteSumKind::Permutes;
}

#ifdef ZELVIC_PAIR_LANES

namespace {

#define ZELVIC_LANES __attribute__((target("avx512f,avx512bw,avx512dq,avx512vbmi,bmi2")))

// Offsets of the rows in PairSide::rows.
constexpr int32_t kRowBytes = 64;
constexpr int32_t kLumaRows = 0;
constexpr int32_t kChromaRows = 2 * kRowBytes;

// Truncated n / d for 0 <= n < 2^20 and 1 <= d, in single precision: the
// quotient is correctly rounded, and a fraction short of the next integer
// (at least 1 / d) is far wider than its rounding, so it truncates exactly.
ZELVIC_LANES inline __m512i quotient(__m512i n, __m512i d)
{
    return _mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(n), _mm512_cvtepi32_ps(d)));
}

// Truncated n / 60 for 0 <= n <= 60 * 120 (a plain profile sum), by the
// rounded-up reciprocal 8739 / 2^19: its excess 52 / 2^19 times n stays
// below 1 / 60 for n < 10082, so the quotient is exact.
ZELVIC_LANES inline __m512i perInnerCell(__m512i n)
{
    static_assert(kInnerSize == 60);
    return _mm512_srli_epi32(_mm512_mullo_epi32(n, _mm512_set1_epi32(8739)), 19);
}

// field[index[k]] for indices 0..63.
ZELVIC_LANES inline __m512i pickRows(const std::array<int32_t, kLaneRows>& field, __m512i index)
{
    static_assert(kLaneRows == 64);
    const __m512i low =
        _mm512_permutex2var_epi32(_mm512_load_si512(field.data()), index, _mm512_load_si512(field.data() + 16));
    const __m512i high =
        _mm512_permutex2var_epi32(_mm512_load_si512(field.data() + 32), index, _mm512_load_si512(field.data() + 48));
    return _mm512_mask_blend_epi32(_mm512_test_epi32_mask(index, _mm512_set1_epi32(32)), low, high);
}

// One axis of the alignment window in every lane, stored for the per-pair
// byte work: which side is the reference, where its run starts (inner
// index less 5), the other side's centroid (less 5), the run's length and
// where its offsets start in the offsets table.
struct LaneAxis {
    alignas(64) int32_t referenceIsLane[kLanes];
    alignas(64) int32_t own[kLanes];
    alignas(64) int32_t base[kLanes];
    alignas(64) int32_t length[kLanes];
    alignas(64) int32_t offsets[kLanes];
};

ZELVIC_LANES inline void alignLanes(__m512i centreL, __m512i spreadL, __m512i centreB, __m512i spreadB, LaneAxis& out)
{
    const __mmask16 laneIsReference = _mm512_cmpge_epi32_mask(spreadL, spreadB);
    const __m512i centreR = _mm512_mask_blend_epi32(laneIsReference, centreB, centreL);
    const __m512i spreadR = _mm512_mask_blend_epi32(laneIsReference, spreadB, spreadL);
    const __m512i centreO = _mm512_mask_blend_epi32(laneIsReference, centreL, centreB);
    const __m512i spreadO = _mm512_mask_blend_epi32(laneIsReference, spreadL, spreadB);
    const __m512i first = _mm512_set1_epi32(kInnerFirst);
    const __m512i last = _mm512_set1_epi32(kInnerLast);
    const __m512i below = quotient(_mm512_mullo_epi32(_mm512_sub_epi32(centreO, first), spreadR), spreadO);
    const __m512i above = quotient(_mm512_mullo_epi32(_mm512_sub_epi32(last, centreO), spreadR), spreadO);
    const __m512i lo = _mm512_sub_epi32(centreR, _mm512_min_epi32(_mm512_sub_epi32(centreR, first), below));
    const __m512i hi = _mm512_add_epi32(centreR, _mm512_min_epi32(_mm512_sub_epi32(last, centreR), above));
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i row = _mm512_add_epi32(_mm512_srli_epi32(_mm512_mullo_epi32(spreadR, _mm512_sub_epi32(spreadR, one)), 1),
                                         _mm512_sub_epi32(spreadO, one));
    _mm512_store_si512(out.referenceIsLane, _mm512_maskz_set1_epi32(laneIsReference, 1));
    _mm512_store_si512(out.own, _mm512_sub_epi32(lo, first));
    _mm512_store_si512(out.base, _mm512_sub_epi32(centreO, first));
    _mm512_store_si512(out.length, _mm512_add_epi32(_mm512_sub_epi32(hi, lo), one));
    _mm512_store_si512(out.offsets,
                       _mm512_add_epi32(_mm512_slli_epi32(row, 7),
                                        _mm512_add_epi32(_mm512_set1_epi32(kOffsetZero), _mm512_sub_epi32(lo, centreR))));
    static_assert(kOffsetRowBytes == 1 << 7);
}

// Per lane, the x and the y sum of one kind of profile.
struct LaneSums {
    __m512i x;
    __m512i y;
};

const uint8_t* rowsOf(const PairSide& side, int32_t rowOffset)
{
    return side.rows[0].data() + rowOffset;
}

// |reference[own + i] - other[base + offsets[i]]| for i below the length,
// as eight partial sums. The run and the offsets are those of the lane.
ZELVIC_LANES inline __m512i alignedSad(const uint8_t* reference, const uint8_t* other, const LaneAxis& axis,
                                       int32_t lane, const int8_t* offsets)
{
    const __mmask64 run = _bzhi_u64(~uint64_t {0}, static_cast<uint32_t>(axis.length[lane]));
    const __m512i fromReference = _mm512_maskz_loadu_epi8(run, reference + axis.own[lane]);
    const __m512i index = _mm512_add_epi8(_mm512_loadu_si512(offsets + axis.offsets[lane]),
                                          _mm512_set1_epi8(static_cast<char>(axis.base[lane])));
    const __m512i fromOther = _mm512_maskz_permutexvar_epi8(run, index, _mm512_loadu_si512(other));
    return _mm512_sad_epu8(fromReference, fromOther);
}

// Adds the eight quadwords of a and of b pairwise: quadword 2c holds a's
// sum of its quadwords 2c and 2c + 1, quadword 2c + 1 b's.
ZELVIC_LANES inline __m512i addPairs(__m512i a, __m512i b)
{
    return _mm512_add_epi64(_mm512_unpacklo_epi64(a, b), _mm512_unpackhi_epi64(a, b));
}

// Adds the 128-bit blocks of a and of b pairwise: block 0 of the result is
// a's blocks 0 + 1, block 1 a's 2 + 3, blocks 2 and 3 the same of b.
ZELVIC_LANES inline __m512i addBlocks(__m512i a, __m512i b)
{
    return _mm512_add_epi64(_mm512_shuffle_i64x2(a, b, 0x88), _mm512_shuffle_i64x2(a, b, 0xdd));
}

// Plain sums of both rows of a lane against the other picture's, and the
// aligned sums along both axes of the window where it exists, as eight
// partial sums. The four sums are added up together, each in 16 bits of
// the 64-bit lanes: the eight partial sums of one are at most 8 x 255 each,
// their total at most 60 x 255, so none spills into the next.
ZELVIC_LANES inline __m512i laneSums(const uint8_t* own, const uint8_t* otherRows, __m512i otherX, __m512i otherY,
                                     bool window, const LaneAxis& x, const LaneAxis& y, int32_t lane,
                                     const int8_t* offsets)
{
    __m512i sums = _mm512_add_epi64(_mm512_sad_epu8(_mm512_loadu_si512(own), otherX),
                                    _mm512_slli_epi64(_mm512_sad_epu8(_mm512_loadu_si512(own + kRowBytes), otherY), 16));
    if (window) {
        // Which side is the reference is a coin toss from pair to pair:
        // picked by index, not by a branch.
        const uint8_t* const sides[2] = {otherRows, own};
        const int32_t referenceX = x.referenceIsLane[lane];
        const int32_t referenceY = y.referenceIsLane[lane];
        const __m512i sadX = alignedSad(sides[referenceX], sides[1 - referenceX], x, lane, offsets);
        const __m512i sadY = alignedSad(sides[referenceY] + kRowBytes, sides[1 - referenceY] + kRowBytes, y, lane, offsets);
        sums = _mm512_add_epi64(sums, _mm512_add_epi64(_mm512_slli_epi64(sadX, 32), _mm512_slli_epi64(sadY, 48)));
    }
    return sums;
}

// The sums of every lane set in `lanes` (0 elsewhere). Each lane's partial
// sums are added up with seven others' in a tree of vector additions rather
// than one lane at a time: quadword k of a group holds lane k's four sums.
ZELVIC_LANES void profileSums(const LaneRows& rows, const int32_t* rowIndex, uint32_t lanes, uint32_t window,
                              const PairSide& other, int32_t rowOffset, const LaneAxis& x, const LaneAxis& y,
                              const int8_t* offsets, LaneSums& plain, LaneSums& aligned)
{
    const uint8_t* otherRows = rowsOf(other, rowOffset);
    const __m512i otherX = _mm512_loadu_si512(otherRows);
    const __m512i otherY = _mm512_loadu_si512(otherRows + kRowBytes);
    const auto sumsOf = [&](int32_t lane) ZELVIC_LANES {
        if ((lanes >> lane & 1) == 0)
            return _mm512_setzero_si512();
        const uint8_t* own = rowsOf(*rows.sides[static_cast<std::size_t>(rowIndex[lane])], rowOffset);
        return laneSums(own, otherRows, otherX, otherY, (window >> lane & 1) != 0, x, y, lane, offsets);
    };
    __m512i groups[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int32_t g = 0; g < 2; ++g) {
        const int32_t first = 8 * g;
        if ((lanes >> first & 0xff) == 0)
            continue;
        const __m512i low = addBlocks(addPairs(sumsOf(first), sumsOf(first + 1)), addPairs(sumsOf(first + 2), sumsOf(first + 3)));
        const __m512i high =
            addBlocks(addPairs(sumsOf(first + 4), sumsOf(first + 5)), addPairs(sumsOf(first + 6), sumsOf(first + 7)));
        groups[g] = addBlocks(low, high);
    }
    // Field f of the sixteen quadwords into the low halves of sixteen
    // doublewords.
    static constexpr auto kPicks = [] {
        std::array<std::array<uint16_t, 32>, 4> picks {};
        for (std::size_t f = 0; f < 4; ++f) {
            for (std::size_t k = 0; k < 32; k += 2)
                picks[f][k] = static_cast<uint16_t>(2 * k + f);
        }
        return picks;
    }();
    const auto field = [&](std::size_t f) ZELVIC_LANES {
        return _mm512_maskz_permutex2var_epi16(0x55555555, groups[0], _mm512_loadu_si512(kPicks[f].data()), groups[1]);
    };
    plain.x = field(0);
    plain.y = field(1);
    aligned.x = field(2);
    aligned.y = field(3);
}

// The profile part of LumaScore or ChromaScore in every lane: the aligned
// value where the window gives one below the plain value, else the plain.
ZELVIC_LANES __m512i profileLanes(const LaneSums& plain, const LaneSums& aligned, __mmask16 window, const LaneAxis& x,
                                  const LaneAxis& y)
{
    const __m512i plainScore = _mm512_add_epi32(perInnerCell(plain.x), perInnerCell(plain.y));
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i alignedX =
        quotient(_mm512_maskz_mov_epi32(window, aligned.x), _mm512_max_epi32(_mm512_maskz_load_epi32(window, x.length), one));
    const __m512i alignedY =
        quotient(_mm512_maskz_mov_epi32(window, aligned.y), _mm512_max_epi32(_mm512_maskz_load_epi32(window, y.length), one));
    const __m512i alignedScore = _mm512_add_epi32(alignedX, alignedY);
    const __mmask16 useAligned = _mm512_mask_cmpge_epi32_mask(window, alignedX, one)
        & _mm512_cmpge_epi32_mask(alignedY, one) & _mm512_cmplt_epi32_mask(alignedScore, plainScore);
    return _mm512_mask_blend_epi32(useAligned, plainScore, alignedScore);
}

// The lanes `given`, of rows `index` (also in memory at rowIndex).
ZELVIC_LANES inline uint32_t judgeIndexed(const LaneRows& rows, const int32_t* rowIndex, __m512i index, __mmask16 given,
                                          const PairSide& other, const SimilarScoreLimits& limits, LaneScores& scores,
                                          uint32_t& judged)
{
    judged = 0;
    if (!judgeable(other))
        return given;
    const __m512i warmX = pickRows(rows.warmX, index);
    const __m512i warmY = pickRows(rows.warmY, index);
    const __m512i spreadX = pickRows(rows.spreadX, index);
    const __m512i spreadY = pickRows(rows.spreadY, index);
    const __m512i lumaTotal = pickRows(rows.lumaTotal, index);
    const __m512i chromaTotal = pickRows(rows.chromaTotal, index);
    const __m512i contrastTotal = pickRows(rows.contrastTotal, index);
    const __m512i judgeableRow = pickRows(rows.inRange, index);
    const __mmask16 inRange = _mm512_test_epi32_mask(judgeableRow, judgeableRow);
    const __mmask16 unjudged = given & static_cast<__mmask16>(~inRange);
    const __mmask16 lanes = given & inRange;

    const __m512i otherWarmX = _mm512_set1_epi32(other.warmX);
    const __m512i otherWarmY = _mm512_set1_epi32(other.warmY);
    const __m512i otherSpreadX = _mm512_set1_epi32(other.spreadA);
    const __m512i otherSpreadY = _mm512_set1_epi32(other.spreadB);
    // The window as PairWindow has it: close warm centroids, and not the
    // same centroids and spreads (whose window meets index for index).
    const __m512i reach = _mm512_set1_epi32(kAlignmentReach);
    const __mmask16 close = _mm512_cmplt_epi32_mask(_mm512_abs_epi32(_mm512_sub_epi32(warmX, otherWarmX)), reach)
        & _mm512_cmplt_epi32_mask(_mm512_abs_epi32(_mm512_sub_epi32(warmY, otherWarmY)), reach);
    const __mmask16 same = _mm512_cmpeq_epi32_mask(warmX, otherWarmX) & _mm512_cmpeq_epi32_mask(warmY, otherWarmY)
        & _mm512_cmpeq_epi32_mask(spreadX, otherSpreadX) & _mm512_cmpeq_epi32_mask(spreadY, otherSpreadY);
    const __mmask16 window = lanes & close & static_cast<__mmask16>(~same);
    LaneAxis x;
    LaneAxis y;
    alignLanes(warmX, spreadX, otherWarmX, otherSpreadX, x);
    alignLanes(warmY, spreadY, otherWarmY, otherSpreadY, y);

    LaneSums plain;
    LaneSums aligned;
    const int8_t* offsets = alignmentOffsets();
    profileSums(rows, rowIndex, lanes, window, other, kLumaRows, x, y, offsets, plain, aligned);
    const __m512i lumaTotals = quotient(
        _mm512_abs_epi32(_mm512_sub_epi32(lumaTotal, _mm512_set1_epi32(other.planeTotals[1]))), _mm512_set1_epi32(kLumaTotalDivisor));
    const __m512i luma = _mm512_add_epi32(profileLanes(plain, aligned, window, x, y), lumaTotals);
    const __mmask16 lumaPasses =
        _mm512_mask_cmple_epi32_mask(lanes, luma, _mm512_set1_epi32(std::min(limits.lumaStep, limits.luma)));
    if (lumaPasses == 0)
        return static_cast<uint32_t>(unjudged);

    profileSums(rows, rowIndex, lumaPasses, window, other, kChromaRows, x, y, offsets, plain, aligned);
    const __m512i chromaTotals = quotient(
        _mm512_abs_epi32(_mm512_sub_epi32(chromaTotal, _mm512_set1_epi32(other.planeTotals[2]))), _mm512_set1_epi32(kChromaTotalDivisor));
    __m512i chroma = _mm512_add_epi32(profileLanes(plain, aligned, window & lumaPasses, x, y), chromaTotals);
    const __m512i reduction = _mm512_min_epi32(
        _mm512_set1_epi32(kLumaReductionMax),
        _mm512_max_epi32(_mm512_setzero_si512(), _mm512_sub_epi32(_mm512_set1_epi32(kLumaReductionBase), luma)));
    chroma = _mm512_mask_sub_epi32(chroma, _mm512_cmpgt_epi32_mask(chroma, _mm512_set1_epi32(kLumaReductionFrom)), chroma,
                                   reduction);
    // The decision with the least ContrastScore there can be, its plane-total
    // term: a larger one only makes every bound harder to meet.
    const __m512i contrast = quotient(
        _mm512_abs_epi32(_mm512_sub_epi32(contrastTotal, _mm512_set1_epi32(other.planeTotals[0]))),
        _mm512_set1_epi32(kContrastTotalDivisor));
    const __m512i contrastReduction = _mm512_min_epi32(
        _mm512_set1_epi32(kContrastReductionMax),
        _mm512_max_epi32(_mm512_setzero_si512(), _mm512_sub_epi32(_mm512_set1_epi32(kContrastReductionBase), contrast)));
    const __m512i finalChroma = _mm512_mask_sub_epi32(
        chroma, _mm512_cmpgt_epi32_mask(chroma, _mm512_set1_epi32(kContrastReductionFrom)), chroma, contrastReduction);
    const __m512i similarity = _mm512_add_epi32(_mm512_add_epi32(contrast, contrast), _mm512_add_epi32(luma, finalChroma));
    const __mmask16 passes = lumaPasses & _mm512_cmple_epi32_mask(chroma, _mm512_set1_epi32(limits.chromaStep))
        & _mm512_cmple_epi32_mask(contrast, _mm512_set1_epi32(limits.contrast))
        & _mm512_cmple_epi32_mask(finalChroma, _mm512_set1_epi32(limits.chroma))
        & _mm512_cmple_epi32_mask(_mm512_add_epi32(luma, finalChroma), _mm512_set1_epi32(limits.lumaChroma))
        & _mm512_cmple_epi32_mask(similarity, _mm512_set1_epi32(limits.similarity));
    _mm512_store_si512(scores.luma.data(), luma);
    _mm512_store_si512(scores.chroma.data(), chroma);
    judged = passes;
    return static_cast<uint32_t>(passes | unjudged);
}

ZELVIC_LANES uint32_t judgePermuted(const LaneRows& rows, const int32_t* rowIndex, int32_t count, const PairSide& other,
                                    const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged)
{
    const auto given = static_cast<__mmask16>(_bzhi_u32(0xffff, static_cast<uint32_t>(count)));
    return judgeIndexed(rows, rowIndex, _mm512_maskz_loadu_epi32(given, rowIndex), given, other, limits, scores, judged);
}

// The rows taken with a byte compress: the indices go to the lanes straight
// from the register. Written one by one, they would have to be read back
// from memory before the store of the last had completed.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vbmi,avx512vbmi2,bmi2"))) uint32_t judgeCompressed(
    const LaneRows& rows, uint64_t& pending, std::array<int32_t, kLanes>& rowIndex, int32_t& count,
    const PairSide& other, const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged)
{
    static constexpr auto kPositions = [] {
        std::array<uint8_t, 64> positions {};
        for (std::size_t k = 0; k < positions.size(); ++k)
            positions[k] = static_cast<uint8_t>(k);
        return positions;
    }();
    static_assert(kLaneRows == 64);
    const __m512i taken = _mm512_maskz_compress_epi8(pending, _mm512_loadu_si512(kPositions.data()));
    const __m512i index = _mm512_cvtepu8_epi32(_mm512_castsi512_si128(taken));
    _mm512_storeu_si512(rowIndex.data(), index);
    count = std::min(kLanes, std::popcount(pending));
    // The lowest `count` set bits, off.
    pending &= ~_pdep_u64(_bzhi_u64(~uint64_t {0}, static_cast<uint32_t>(count)), pending);
    const auto given = static_cast<__mmask16>(_bzhi_u32(0xffff, static_cast<uint32_t>(count)));
    return judgeIndexed(rows, rowIndex.data(), index, given, other, limits, scores, judged);
}

const bool g_byteCompress = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi2") != 0;
}();

} // namespace

uint32_t judgePairLanes(const LaneRows& rows, const int32_t* rowIndex, int32_t count, const PairSide& other,
                        const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged)
{
    return judgePermuted(rows, rowIndex, count, other, limits, scores, judged);
}

uint32_t judgeNextLanes(const LaneRows& rows, uint64_t& pending, std::array<int32_t, kLanes>& rowIndex, int32_t& count,
                        const PairSide& other, const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged)
{
    if (g_byteCompress)
        return judgeCompressed(rows, pending, rowIndex, count, other, limits, scores, judged);
    count = takeLowestRows(pending, rowIndex);
    return judgePermuted(rows, rowIndex.data(), count, other, limits, scores, judged);
}

#else

uint32_t judgePairLanes(const LaneRows&, const int32_t*, int32_t count, const PairSide&, const SimilarScoreLimits&,
                        LaneScores&, uint32_t& judged)
{
    judged = 0;
    return (uint32_t {1} << count) - 1;
}

uint32_t judgeNextLanes(const LaneRows& rows, uint64_t& pending, std::array<int32_t, kLanes>& rowIndex, int32_t& count,
                        const PairSide& other, const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged)
{
    count = takeLowestRows(pending, rowIndex);
    return judgePairLanes(rows, rowIndex.data(), count, other, limits, scores, judged);
}

#endif

#ifdef ZELVIC_PAIR_LANES
#pragma GCC diagnostic pop
#endif
