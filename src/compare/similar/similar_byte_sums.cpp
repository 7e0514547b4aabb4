#include "compare/similar/similar_byte_sums.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZELVIC_BYTE_SHUFFLES 1
#endif

namespace {

// Map columns hold 60 cells; the last 16-byte load of a column starts here
// so that it stays inside the column (and the map).
constexpr int32_t kColumnCells = 60;
constexpr int32_t kLastColumnLoad = kColumnCells - 16;
// Rows have 64 readable bytes: four whole loads.
constexpr int32_t kRowBytes = 64;
constexpr int32_t kLastRowLoad = kRowBytes - 16;

// Map columns summed between two looks at stopAt.
constexpr int32_t kColumnsPerStopCheck = 4;

ByteSumKind processorKind()
{
#ifdef ZELVIC_BYTE_SHUFFLES
    // Runs from static initialisers, which may come before the compiler's own.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vbmi"))
        return ByteSumKind::Permutes;
    if (__builtin_cpu_supports("ssse3"))
        return ByteSumKind::Shuffles;
#endif
    return ByteSumKind::Plain;
}

const ByteSumKind g_best = processorKind();

int32_t pairedRowDistancePlain(const uint8_t* rowA, const uint8_t* rowB, const IndexPairing& p)
{
    int32_t sum = 0;
    for (int32_t i = 0; i < p.length; ++i)
        sum += std::abs(static_cast<int32_t>(rowA[p.a[i]]) - static_cast<int32_t>(rowB[p.b[i]]));
    return sum;
}

int32_t alignedRowDistancePlain(const uint8_t* rowA, const uint8_t* rowB, const AxisRun& run)
{
    const uint8_t* reference = run.referenceIsA ? rowA : rowB;
    const uint8_t* other = run.referenceIsA ? rowB : rowA;
    int32_t sum = 0;
    for (int32_t i = 0; i < run.length; ++i)
        sum += std::abs(static_cast<int32_t>(reference[run.own + i]) - static_cast<int32_t>(other[run.base + run.offsets[i]]));
    return sum;
}

AxisSums alignedRowDistancesPlain(const uint8_t* rowsA, const uint8_t* rowsB, const AxisRun& x, const AxisRun& y)
{
    return AxisSums {alignedRowDistancePlain(rowsA, rowsB, x),
                     alignedRowDistancePlain(rowsA + kRowBytes, rowsB + kRowBytes, y)};
}

int32_t pairedMapDistancePlain(const uint8_t* mapA, const uint8_t* mapB, const IndexPairing& x, const IndexPairing& y,
                               int32_t stopAt)
{
    int32_t sum = 0;
    for (int32_t i = 0; i < x.length && sum < stopAt; ++i) {
        const uint8_t* columnA = mapA + x.a[i] * kColumnCells;
        const uint8_t* columnB = mapB + x.b[i] * kColumnCells;
        for (int32_t j = 0; j < y.length; ++j)
            sum += std::abs(static_cast<int32_t>(columnA[y.a[j]]) - static_cast<int32_t>(columnB[y.b[j]]));
    }
    return sum;
}

// Weights of a differing bit in each plane of ContrastPlanes.
constexpr int32_t kMarkedWeight = 128;
constexpr int32_t kStrongWeight = 127;

int32_t planeDistancePlain(const ContrastPlanes& a, const ContrastPlanes& b)
{
    int32_t marked = 0;
    int32_t strong = 0;
    for (int32_t w = 0; w < ContrastPlanes::kWords; ++w) {
        marked += std::popcount(a.words[w] ^ b.words[w]);
        strong += std::popcount(a.words[w + ContrastPlanes::kWords] ^ b.words[w + ContrastPlanes::kWords]);
    }
    return kMarkedWeight * marked + kStrongWeight * strong;
}

#ifdef ZELVIC_BYTE_SHUFFLES

// A gather of 16 bytes from 64 (four loads) by byte shuffles: each load
// answers the indices that fall inside it and gives 0 for the rest, because
// adding 0x70 with saturation sets the top bit (shuffle to 0) exactly for
// indices outside 0..15. Where two loads overlap they give the same byte.
struct ShuffleIndices {
    __m128i part[4];
};

__attribute__((target("ssse3"))) inline ShuffleIndices shuffleIndices(__m128i index, int32_t lastLoad)
{
    const __m128i topBit = _mm_set1_epi8(0x70);
    return ShuffleIndices {{_mm_adds_epu8(index, topBit),
                            _mm_adds_epu8(_mm_sub_epi8(index, _mm_set1_epi8(16)), topBit),
                            _mm_adds_epu8(_mm_sub_epi8(index, _mm_set1_epi8(32)), topBit),
                            _mm_adds_epu8(_mm_sub_epi8(index, _mm_set1_epi8(static_cast<char>(lastLoad))), topBit)}};
}

__attribute__((target("ssse3"))) inline __m128i gather(const __m128i loads[4], const ShuffleIndices& s)
{
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(loads[0], s.part[0]), _mm_shuffle_epi8(loads[1], s.part[1])),
                        _mm_or_si128(_mm_shuffle_epi8(loads[2], s.part[2]), _mm_shuffle_epi8(loads[3], s.part[3])));
}

// Lanes of block `block` (16 positions each) that lie below length.
__attribute__((target("ssse3"))) inline __m128i laneMask(int32_t length, int32_t block)
{
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(length - 16 * block)), lanes);
}

__attribute__((target("ssse3"))) inline int32_t horizontalSum(__m128i sums)
{
    return static_cast<int32_t>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
}

__attribute__((target("ssse3"))) int32_t pairedRowDistanceShuffled(const uint8_t* rowA, const uint8_t* rowB,
                                                                   const IndexPairing& p)
{
    __m128i loadsA[4];
    __m128i loadsB[4];
    for (int32_t c = 0; c < 4; ++c) {
        const int32_t at = c < 3 ? 16 * c : kLastRowLoad;
        loadsA[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rowA + at));
        loadsB[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rowB + at));
    }
    __m128i sums = _mm_setzero_si128();
    for (int32_t block = 0; 16 * block < p.length; ++block) {
        const __m128i mask = laneMask(p.length, block);
        const __m128i indexA = _mm_load_si128(reinterpret_cast<const __m128i*>(p.a.data() + 16 * block));
        const __m128i indexB = _mm_load_si128(reinterpret_cast<const __m128i*>(p.b.data() + 16 * block));
        const __m128i bytesA = _mm_and_si128(gather(loadsA, shuffleIndices(indexA, kLastRowLoad)), mask);
        const __m128i bytesB = _mm_and_si128(gather(loadsB, shuffleIndices(indexB, kLastRowLoad)), mask);
        sums = _mm_add_epi64(sums, _mm_sad_epu8(bytesA, bytesB));
    }
    return horizontalSum(sums);
}

__attribute__((target("ssse3"))) int32_t alignedRowDistanceShuffled(const uint8_t* rowA, const uint8_t* rowB,
                                                                    const AxisRun& run)
{
    const uint8_t* reference = run.referenceIsA ? rowA : rowB;
    const uint8_t* other = run.referenceIsA ? rowB : rowA;
    __m128i loadsR[4];
    __m128i loadsO[4];
    for (int32_t c = 0; c < 4; ++c) {
        const int32_t at = c < 3 ? 16 * c : kLastRowLoad;
        loadsR[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reference + at));
        loadsO[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + at));
    }
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i own = _mm_set1_epi8(static_cast<char>(run.own));
    const __m128i base = _mm_set1_epi8(static_cast<char>(run.base));
    __m128i sums = _mm_setzero_si128();
    for (int32_t block = 0; 16 * block < run.length; ++block) {
        const __m128i mask = laneMask(run.length, block);
        const __m128i indexR = _mm_add_epi8(_mm_add_epi8(lanes, _mm_set1_epi8(static_cast<char>(16 * block))), own);
        const __m128i indexO =
            _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(run.offsets + 16 * block)), base);
        const __m128i bytesR = _mm_and_si128(gather(loadsR, shuffleIndices(indexR, kLastRowLoad)), mask);
        const __m128i bytesO = _mm_and_si128(gather(loadsO, shuffleIndices(indexO, kLastRowLoad)), mask);
        sums = _mm_add_epi64(sums, _mm_sad_epu8(bytesR, bytesO));
    }
    return horizontalSum(sums);
}

__attribute__((target("ssse3"))) AxisSums alignedRowDistancesShuffled(const uint8_t* rowsA, const uint8_t* rowsB,
                                                                    const AxisRun& x, const AxisRun& y)
{
    return AxisSums {alignedRowDistanceShuffled(rowsA, rowsB, x),
                     alignedRowDistanceShuffled(rowsA + kRowBytes, rowsB + kRowBytes, y)};
}

__attribute__((target("ssse3"))) int32_t pairedMapDistanceShuffled(const uint8_t* mapA, const uint8_t* mapB,
                                                                   const IndexPairing& x, const IndexPairing& y,
                                                                   int32_t stopAt)
{
    // The y indices are the same in every column: prepared once.
    const int32_t blocks = (y.length + 15) / 16;
    ShuffleIndices indicesA[4];
    ShuffleIndices indicesB[4];
    __m128i masks[4];
    for (int32_t block = 0; block < blocks; ++block) {
        masks[block] = laneMask(y.length, block);
        indicesA[block] = shuffleIndices(_mm_load_si128(reinterpret_cast<const __m128i*>(y.a.data() + 16 * block)),
                                         kLastColumnLoad);
        indicesB[block] = shuffleIndices(_mm_load_si128(reinterpret_cast<const __m128i*>(y.b.data() + 16 * block)),
                                         kLastColumnLoad);
    }
    __m128i sums = _mm_setzero_si128();
    for (int32_t i = 0; i < x.length; ++i) {
        const uint8_t* columnA = mapA + x.a[i] * kColumnCells;
        const uint8_t* columnB = mapB + x.b[i] * kColumnCells;
        __m128i loadsA[4];
        __m128i loadsB[4];
        for (int32_t c = 0; c < 4; ++c) {
            const int32_t at = c < 3 ? 16 * c : kLastColumnLoad;
            loadsA[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columnA + at));
            loadsB[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columnB + at));
        }
        for (int32_t block = 0; block < blocks; ++block) {
            const __m128i bytesA = _mm_and_si128(gather(loadsA, indicesA[block]), masks[block]);
            const __m128i bytesB = _mm_and_si128(gather(loadsB, indicesB[block]), masks[block]);
            sums = _mm_add_epi64(sums, _mm_sad_epu8(bytesA, bytesB));
        }
        if (i % kColumnsPerStopCheck == kColumnsPerStopCheck - 1 && horizontalSum(sums) >= stopAt)
            break;
    }
    return horizontalSum(sums);
}

// Set bits of each byte, by a shuffle of a 16-entry table per nibble.
__attribute__((target("ssse3"))) inline __m128i bitsPerByte(__m128i v)
{
    const __m128i table = _mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    const __m128i nibble = _mm_set1_epi8(0x0f);
    return _mm_add_epi8(_mm_shuffle_epi8(table, _mm_and_si128(v, nibble)),
                        _mm_shuffle_epi8(table, _mm_and_si128(_mm_srli_epi16(v, 4), nibble)));
}

__attribute__((target("ssse3"))) int32_t planeDistanceShuffled(const ContrastPlanes& a, const ContrastPlanes& b)
{
    __m128i sums[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
    for (int32_t plane = 0; plane < 2; ++plane) {
        for (int32_t w = 0; w < ContrastPlanes::kWords; w += 2) {
            const auto at = static_cast<std::size_t>(plane * ContrastPlanes::kWords + w);
            const __m128i x = _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(a.words.data() + at)),
                                            _mm_load_si128(reinterpret_cast<const __m128i*>(b.words.data() + at)));
            sums[plane] = _mm_add_epi64(sums[plane], _mm_sad_epu8(bitsPerByte(x), _mm_setzero_si128()));
        }
    }
    return kMarkedWeight * horizontalSum(sums[0]) + kStrongWeight * horizontalSum(sums[1]);
}

// A 64-byte row gathers in one byte permute. Lanes from the length up are
// masked to 0 on both sides.
constexpr uint64_t kColumnMask = (uint64_t {1} << kColumnCells) - 1;

// Adds up 32-bit lanes.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m128i halvedTwice(__m256i lanes)
{
    const __m128i four = _mm_add_epi32(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    return _mm_add_epi32(four, _mm_shuffle_epi32(four, 0x4e));
}

// The 64-bit lanes of byte sums stay far below 2^31. (Zero-masked forms
// throughout: GCC 12 warns of an uninitialised value in the plain ones.)
constexpr __mmask8 kAllLanes = 0xff;

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline int32_t laneTotal(__m512i sums)
{
    const __m128i two = halvedTwice(_mm512_maskz_cvtepi64_epi32(kAllLanes, sums));
    return _mm_cvtsi128_si32(two) + _mm_extract_epi32(two, 1);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __mmask64 lengthMask(int32_t length)
{
    return length >= 64 ? ~__mmask64 {0} : (__mmask64 {1} << length) - 1;
}

// The bytes first, first + 1, ..., first + 63: the indices of a run.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i ascendingFrom(int32_t first)
{
    alignas(64) static constexpr uint8_t kAscending[64] = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
        22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43,
        44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
    return _mm512_add_epi8(_mm512_load_si512(kAscending), _mm512_set1_epi8(static_cast<char>(first)));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t pairedRowDistancePermuted(const uint8_t* rowA,
                                                                                        const uint8_t* rowB,
                                                                                        const IndexPairing& p)
{
    const __mmask64 mask = lengthMask(p.length);
    const __m512i bytesA = _mm512_maskz_permutexvar_epi8(mask, _mm512_loadu_si512(p.a.data()), _mm512_loadu_si512(rowA));
    const __m512i bytesB = _mm512_maskz_permutexvar_epi8(mask, _mm512_loadu_si512(p.b.data()), _mm512_loadu_si512(rowB));
    return laneTotal(_mm512_sad_epu8(bytesA, bytesB));
}

// Per-lane sums of the differences along one run, not yet added up.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i alignedRowLanes(const uint8_t* rowA,
                                                                                     const uint8_t* rowB,
                                                                                     const AxisRun& run)
{
    const __mmask64 mask = lengthMask(run.length);
    const __m512i indexR = ascendingFrom(run.own);
    const __m512i indexO = _mm512_add_epi8(_mm512_loadu_si512(run.offsets), _mm512_set1_epi8(static_cast<char>(run.base)));
    const __m512i bytesR =
        _mm512_maskz_permutexvar_epi8(mask, indexR, _mm512_loadu_si512(run.referenceIsA ? rowA : rowB));
    const __m512i bytesO =
        _mm512_maskz_permutexvar_epi8(mask, indexO, _mm512_loadu_si512(run.referenceIsA ? rowB : rowA));
    return _mm512_sad_epu8(bytesR, bytesO);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t alignedRowDistancePermuted(const uint8_t* rowA,
                                                                                         const uint8_t* rowB,
                                                                                         const AxisRun& run)
{
    return laneTotal(alignedRowLanes(rowA, rowB, run));
}

// Both axes at once, added up together: the two totals come out of one
// narrowed vector.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) AxisSums alignedRowDistancesPermuted(const uint8_t* rowsA,
                                                                                          const uint8_t* rowsB,
                                                                                          const AxisRun& x,
                                                                                          const AxisRun& y)
{
    const __m512i sumsX = alignedRowLanes(rowsA, rowsB, x);
    const __m512i sumsY = alignedRowLanes(rowsA + kRowBytes, rowsB + kRowBytes, y);
    // Lanes x0+x1, y0+y1, x2+x3, ... as 32-bit values, then halved twice.
    const __m128i two = halvedTwice(_mm512_maskz_cvtepi64_epi32(
        kAllLanes, _mm512_add_epi64(_mm512_maskz_unpacklo_epi64(kAllLanes, sumsX, sumsY),
                                    _mm512_maskz_unpackhi_epi64(kAllLanes, sumsX, sumsY))));
    return AxisSums {_mm_cvtsi128_si32(two), _mm_extract_epi32(two, 1)};
}

// The first index when the indices under the mask run up one by one from
// it, else -1.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline int32_t cellRun(__m512i indices, __mmask64 mask,
                                                                             uint8_t first)
{
    return _mm512_mask_cmpneq_epi8_mask(mask, indices, ascendingFrom(first)) == 0 ? first : -1;
}

// The cells of one column at the indices under the mask: a run loads
// straight from the column, other indices gather by a byte permute.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i columnCells(const uint8_t* column, int32_t run,
                                                                                 __m512i indices, __mmask64 mask)
{
    if (run >= 0)
        return _mm512_maskz_loadu_epi8(mask, column + run);
    // A column holds 60 bytes; the masked load reads no further.
    return _mm512_maskz_permutexvar_epi8(mask, indices, _mm512_maskz_loadu_epi8(kColumnMask, column));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t pairedMapDistancePermuted(const uint8_t* mapA,
                                                                                        const uint8_t* mapB,
                                                                                        const IndexPairing& x,
                                                                                        const IndexPairing& y,
                                                                                        int32_t stopAt)
{
    const __mmask64 mask = lengthMask(y.length);
    const __m512i indicesA = _mm512_loadu_si512(y.a.data());
    const __m512i indicesB = _mm512_loadu_si512(y.b.data());
    // The reference picture of the y axis meets a run of cells: those it
    // loads straight from the column, starting at the run's first cell.
    const int32_t runA = cellRun(indicesA, mask, y.length > 0 ? y.a[0] : 0);
    const int32_t runB = cellRun(indicesB, mask, y.length > 0 ? y.b[0] : 0);
    __m512i sums = _mm512_setzero_si512();
    for (int32_t i = 0; i < x.length; ++i) {
        const __m512i bytesA = columnCells(mapA + x.a[i] * kColumnCells, runA, indicesA, mask);
        const __m512i bytesB = columnCells(mapB + x.b[i] * kColumnCells, runB, indicesB, mask);
        sums = _mm512_add_epi64(sums, _mm512_sad_epu8(bytesA, bytesB));
        if (i % kColumnsPerStopCheck == kColumnsPerStopCheck - 1 && laneTotal(sums) >= stopAt)
            break;
    }
    return laneTotal(sums);
}

// Bit counts of whole quadwords, on processors that have them.
const bool g_quadwordCounts = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vpopcntdq") != 0;
}();

__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vpopcntdq"))) int32_t planeDistanceCounted(const ContrastPlanes& a,
                                                                                        const ContrastPlanes& b)
{
    __m512i sums[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int32_t plane = 0; plane < 2; ++plane) {
        for (int32_t w = 0; w < ContrastPlanes::kWords; w += 8) {
            const auto at = static_cast<std::size_t>(plane * ContrastPlanes::kWords + w);
            const __m512i x = _mm512_xor_si512(_mm512_load_si512(a.words.data() + at), _mm512_load_si512(b.words.data() + at));
            sums[plane] = _mm512_add_epi64(sums[plane], _mm512_popcnt_epi64(x));
        }
    }
    return kMarkedWeight * laneTotal(sums[0]) + kStrongWeight * laneTotal(sums[1]);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int32_t planeDistancePermuted(const ContrastPlanes& a,
                                                                                    const ContrastPlanes& b)
{
    alignas(64) static constexpr uint8_t kBitsOfNibble[64] = {
        0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,
        0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
    if (g_quadwordCounts)
        return planeDistanceCounted(a, b);
    const __m512i table = _mm512_load_si512(kBitsOfNibble);
    const __m512i nibble = _mm512_set1_epi8(0x0f);
    __m512i sums[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int32_t plane = 0; plane < 2; ++plane) {
        for (int32_t w = 0; w < ContrastPlanes::kWords; w += 8) {
            const auto at = static_cast<std::size_t>(plane * ContrastPlanes::kWords + w);
            const __m512i x = _mm512_xor_si512(_mm512_load_si512(a.words.data() + at), _mm512_load_si512(b.words.data() + at));
            const __m512i bits = _mm512_add_epi8(_mm512_shuffle_epi8(table, _mm512_and_si512(x, nibble)),
                                                 _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble)));
            sums[plane] = _mm512_add_epi64(sums[plane], _mm512_sad_epu8(bits, _mm512_setzero_si512()));
        }
    }
    return kMarkedWeight * laneTotal(sums[0]) + kStrongWeight * laneTotal(sums[1]);
}

#endif

// One row a kind, in the order of ByteSumKind; a kind this build cannot
// run falls back to the plain loops (the kind in use is never above the
// processor's best).
struct ByteSumFunctions {
    int32_t (*pairedRow)(const uint8_t*, const uint8_t*, const IndexPairing&);
    int32_t (*alignedRow)(const uint8_t*, const uint8_t*, const AxisRun&);
    AxisSums (*alignedRows)(const uint8_t*, const uint8_t*, const AxisRun&, const AxisRun&);
    int32_t (*pairedMap)(const uint8_t*, const uint8_t*, const IndexPairing&, const IndexPairing&, int32_t);
    int32_t (*planes)(const ContrastPlanes&, const ContrastPlanes&);
};

constexpr ByteSumFunctions kPlainSums {pairedRowDistancePlain, alignedRowDistancePlain, alignedRowDistancesPlain,
                                      pairedMapDistancePlain, planeDistancePlain};
#ifdef ZELVIC_BYTE_SHUFFLES
constexpr ByteSumFunctions kByteSumFunctions[] = {
    kPlainSums,
    {pairedRowDistanceShuffled, alignedRowDistanceShuffled, alignedRowDistancesShuffled, pairedMapDistanceShuffled,
     planeDistanceShuffled},
    {pairedRowDistancePermuted, alignedRowDistancePermuted, alignedRowDistancesPermuted, pairedMapDistancePermuted,
     planeDistancePermuted},
};
#else
constexpr ByteSumFunctions kByteSumFunctions[] = {kPlainSums, kPlainSums, kPlainSums};
#endif

const ByteSumFunctions& sumsInUse()
{
    return kByteSumFunctions[static_cast<std::size_t>(byteSumKind())];
}

} // namespace

std::atomic<ByteSumKind> byte_sums_detail::kindInUse {g_best};

ByteSumKind bestByteSumKind()
{
    return g_best;
}

int32_t byteDistance(const uint8_t* a, const uint8_t* b, int32_t count, int32_t stopAt)
{
    int32_t sum = 0;
    int32_t i = 0;
#if defined(ZELVIC_BYTE_SHUFFLES) && defined(__SSE2__)
    // Looks at stopAt after every run of this many bytes.
    constexpr int32_t kStopRun = 512;
    __m128i sums = _mm_setzero_si128();
    const auto total = [&sums] {
        return static_cast<int32_t>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    };
    while (i + 16 <= count) {
        const int32_t runEnd = std::min(count - 15, i + kStopRun);
        for (; i < runEnd; i += 16) {
            sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i))));
        }
        if (total() >= stopAt)
            return total();
    }
    sum = total();
#endif
    for (; i < count; ++i)
        sum += std::abs(static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]));
    return sum;
}

int32_t pairedRowDistance(const uint8_t* rowA, const uint8_t* rowB, const IndexPairing& pairing)
{
    return sumsInUse().pairedRow(rowA, rowB, pairing);
}

int32_t alignedRowDistance(const uint8_t* rowA, const uint8_t* rowB, const AxisRun& run)
{
    return sumsInUse().alignedRow(rowA, rowB, run);
}

AxisSums alignedRowDistances(const uint8_t* rowsA, const uint8_t* rowsB, const AxisRun& x, const AxisRun& y)
{
    return sumsInUse().alignedRows(rowsA, rowsB, x, y);
}

int32_t pairedMapDistance(const uint8_t* mapA, const uint8_t* mapB, const IndexPairing& x, const IndexPairing& y,
                          int32_t stopAt)
{
    return sumsInUse().pairedMap(mapA, mapB, x, y, stopAt);
}

bool packContrastPlanes(const uint8_t* map, int32_t count, ContrastPlanes& out)
{
    if (count > 64 * ContrastPlanes::kWords)
        return false;
    out.words.fill(0);
    int32_t i = 0;
#if defined(ZELVIC_BYTE_SHUFFLES) && defined(__SSE2__)
    // Sixteen cells at a time: three byte compares, each to a bit mask.
    const __m128i marked = _mm_set1_epi8(static_cast<char>(128));
    const __m128i strong = _mm_set1_epi8(static_cast<char>(255));
    for (; i + 16 <= count; i += 16) {
        const __m128i cells = _mm_loadu_si128(reinterpret_cast<const __m128i*>(map + i));
        const auto zero = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(cells, _mm_setzero_si128())));
        const auto half = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(cells, marked)));
        const auto full = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(cells, strong)));
        if ((zero | half | full) != 0xffff)
            return false;
        const int32_t shift = i % 64;
        out.words[static_cast<std::size_t>(i / 64)] |= static_cast<uint64_t>(half | full) << shift;
        out.words[static_cast<std::size_t>(ContrastPlanes::kWords + i / 64)] |= static_cast<uint64_t>(full) << shift;
    }
#endif
    for (; i < count; ++i) {
        const uint8_t cell = map[i];
        if (cell != 0 && cell != 128 && cell != 255)
            return false;
        const uint64_t bit = uint64_t {1} << (i % 64);
        if (cell != 0)
            out.words[static_cast<std::size_t>(i / 64)] |= bit;
        if (cell == 255)
            out.words[static_cast<std::size_t>(ContrastPlanes::kWords + i / 64)] |= bit;
    }
    return true;
}

int32_t planeDistance(const ContrastPlanes& a, const ContrastPlanes& b)
{
    return sumsInUse().planes(a, b);
}
