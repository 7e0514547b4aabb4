#include "compare/identical/identical_match.h"

#include <algorithm>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// How much each strictness step loosens the identical-picture limits.
constexpr int32_t kLevelStep = 270;

// Index of position kComparedFirst in PairSignature::profiles.
constexpr int32_t kComparedBase = kComparedFirst - PairSignature::kFirstKept;

// Sum over the 48 compared positions of |a - b| div 5. Each difference is
// divided before it is added.
#if defined(__SSE2__)
// Sixteen positions at a time: the byte differences |a - b|, divided by 5
// as (d * 13108) >> 16, which is exact for every d from 0 to 255.
inline int32_t profileDistance(const uint8_t* a, const uint8_t* b)
{
    static_assert(kComparedCount % 16 == 0);
    const __m128i zero = _mm_setzero_si128();
    const __m128i fifth = _mm_set1_epi16(13108);
    __m128i total = zero;
    for (int32_t i = 0; i < kComparedCount; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
        const __m128i lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(d, zero), fifth);
        const __m128i hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(d, zero), fifth);
        total = _mm_add_epi64(total, _mm_sad_epu8(_mm_packus_epi16(lo, hi), zero));
    }
    return _mm_cvtsi128_si32(total) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(total, total));
}
#else
inline int32_t profileDistance(const uint8_t* a, const uint8_t* b)
{
    int32_t sum = 0;
    for (int32_t i = 0; i < kComparedCount; ++i) {
        const int32_t d = static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]);
        sum += (d < 0 ? -d : d) / 5;
    }
    return sum;
}
#endif

// Distances of profiles [first, first + count), direct and, with an offset,
// at the offset; the offset distances replace the direct ones as a whole
// when their sum is smaller (a tie keeps the direct ones).
void groupDistances(const PairSignature& a, const PairSignature& b, const MatchOffset& offset, int32_t first,
                    int32_t count, std::array<int32_t, kProfileCount>& dist)
{
    int32_t direct = 0;
    for (int32_t k = first; k < first + count; ++k) {
        dist[k] = profileDistance(&a.profiles[k][kComparedBase], &b.profiles[k][kComparedBase]);
        direct += dist[k];
    }
    // With dx 0 the offset comparison is the direct one again and could not win.
    if (!offset.active() || offset.dx == 0)
        return;
    std::array<int32_t, kProfileCount> alt {};
    int32_t shifted = 0;
    for (int32_t k = first; k < first + count; ++k) {
        alt[k] = profileDistance(&a.profiles[k][kComparedBase + offset.h1], &b.profiles[k][kComparedBase - offset.h2]);
        shifted += alt[k];
    }
    if (shifted < direct)
        std::copy(alt.begin() + first, alt.begin() + first + count, dist.begin() + first);
}

} // namespace

MatchLimits ChooseLimits(CheckMode mode, int32_t level)
{
    switch (mode) {
    case CheckMode::FileSize:
        return MatchLimits {2, 20, 30, 180};
    case CheckMode::PictureSize:
        return MatchLimits {2, 50, 70, 180};
    default:
        return MatchLimits {3, 115 + level * kLevelStep / 3, 150 + level * kLevelStep / 3, 370 + level * kLevelStep};
    }
}

PairSignature PairSignature::from(const IdenticalSignature& sig)
{
    PairSignature out;
    out.centroids = sig.centroids;
    for (int32_t k = 0; k < kProfileCount; ++k) {
        for (int32_t i = 0; i < kKept; ++i)
            out.profiles[k][i] = sig.at(k, kFirstKept + i);
    }
    return out;
}

bool MatchSignatures(const PairSignature& a, const PairSignature& b, const MatchLimits& limits, MatchResult& result)
{
    if (!centroidsClose(a.centroids, b.centroids, limits.centroid))
        return false;
    const MatchOffset offset = matchOffset(a.centroids, b.centroids);
    std::array<int32_t, kProfileCount> dist {};

    // Tone profiles first: they reject more pairs than the edge profiles.
    groupDistances(a, b, offset, 2 * kDivCount, 2 * kDivCount, dist);
    for (int32_t k = 2 * kDivCount; k < 4 * kDivCount; ++k) {
        if (dist[k] > limits.tone)
            return false;
    }
    groupDistances(a, b, offset, 0, 2 * kDivCount, dist);
    for (int32_t k = 0; k < 2 * kDivCount; ++k) {
        if (dist[k] > limits.edge)
            return false;
    }

    int32_t total = 0;
    for (int32_t g = 0; g < kGroupCount; ++g) {
        int32_t sum = 0, largest = 0;
        for (int32_t band = 0; band < kDivCount; ++band) {
            sum += dist[g * kDivCount + band];
            largest = std::max(largest, dist[g * kDivCount + band]);
        }
        result.mean[g] = sum / kDivCount;
        result.max[g] = largest;
        total += result.mean[g];
    }
    result.totalScore = total;
    return total < limits.total;
}
