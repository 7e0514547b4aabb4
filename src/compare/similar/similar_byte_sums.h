#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>

// Sums of absolute byte differences: the inner loops of the pair scores.
// The gathered sums use SSSE3 byte shuffles when the processor has them;
// every form returns exactly the sum of the plain loop.

// The ways of gathering bytes, in order of speed: plain loops, SSSE3 byte
// shuffles, AVX-512 byte permutes (VBMI). The processor is probed once, at
// start-up; each kind is one row of a table of functions.
enum class ByteSumKind { Plain, Shuffles, Permutes };

namespace byte_sums_detail {
// Read for every scored pair, hence inline. Only the tests change it, to
// hold every kind against the same results.
extern std::atomic<ByteSumKind> kindInUse;
} // namespace byte_sums_detail

// The fastest kind the processor has; the kind in use starts as this.
ByteSumKind bestByteSumKind();
inline ByteSumKind byteSumKind()
{
    return byte_sums_detail::kindInUse.load(std::memory_order_relaxed);
}
inline bool byteSumsVectorised()
{
    return byteSumKind() != ByteSumKind::Plain;
}

// Sum of |a[i] - b[i]| for i < count. May stop once the sum reaches stopAt:
// the result is exact below stopAt and at least stopAt otherwise.
int32_t byteDistance(const uint8_t* a, const uint8_t* b, int32_t count,
                     int32_t stopAt = std::numeric_limits<int32_t>::max());

// A contrast map of 0, 128 and 255 only, as two bit planes: bit i of the
// first 64 words is set where cell i is 128 or 255, of the last 64 where it
// is 255 (bits from 3600 up are 0). A quarter of the map's bytes, and the
// sum of byte differences comes from two counts of differing bits, since
// |a - b| = 128 * [marked differ] + 127 * [strong differ] for such cells.
struct ContrastPlanes {
    static constexpr int32_t kWords = 64;
    alignas(64) std::array<uint64_t, 2 * kWords> words;
};

// False (and out unspecified) when a cell holds another value.
bool packContrastPlanes(const uint8_t* map, int32_t count, ContrastPlanes& out);

// Sum of |a - b| over the cells of two packed maps: exactly byteDistance of the maps.
int32_t planeDistance(const ContrastPlanes& a, const ContrastPlanes& b);

// One axis of an aligned comparison: position i < length meets inner index
// a[i] (0..59) of picture A and b[i] of picture B. Entries from length up
// are loaded but masked away. The arrays are left uninitialised on purpose:
// a pairing is made for every scored pair, and whoever fills one writes all
// 64 entries.
struct IndexPairing {
    int32_t length = 0;
    alignas(16) std::array<uint8_t, 64> a;
    alignas(16) std::array<uint8_t, 64> b;
};

// Sum over i < length of |rowA[a[i]] - rowB[b[i]]|; each row has 64 readable bytes.
int32_t pairedRowDistance(const uint8_t* rowA, const uint8_t* rowB, const IndexPairing& pairing);

// An axis pairing given by its formula rather than by index arrays: position
// i < length meets index own + i of the reference picture and base +
// offsets[i] of the other (all inner indices, 0..59). offsets has 64
// readable entries.
struct AxisRun {
    int32_t length = 0;
    int32_t own = 0;
    int32_t base = 0;
    const int8_t* offsets = nullptr;
    bool referenceIsA = true;
};

// Sum over i < length of |row of A - row of B| at the indices the run pairs;
// each row has 64 readable bytes.
int32_t alignedRowDistance(const uint8_t* rowA, const uint8_t* rowB, const AxisRun& run);

// The same along both axes: rowsA and rowsB each hold the x row and, 64
// bytes on, the y row.
struct AxisSums {
    int32_t x = 0;
    int32_t y = 0;
};
AxisSums alignedRowDistances(const uint8_t* rowsA, const uint8_t* rowsB, const AxisRun& x, const AxisRun& y);

// Sum over the cells of x times y of |A - B|, on maps of 60 x 60 bytes with
// column c at c * 60 (the x indices pick columns, the y indices cells in
// them). Stops once the sum reaches stopAt: the result is exact below
// stopAt and at least stopAt otherwise.
int32_t pairedMapDistance(const uint8_t* mapA, const uint8_t* mapB, const IndexPairing& x, const IndexPairing& y,
                          int32_t stopAt);
