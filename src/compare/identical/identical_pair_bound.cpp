#include "compare/identical/identical_pair_bound.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Why no matching pair is ever ruled out. For one profile k let d_p be the
// difference of A and B at compared position p (48 of them) and D_k the sum
// over the blocks of |sum of d_p over the block|. Then
//   dist_k = sum_p (|d_p| div 5) >= sum_p (|d_p| - 4) / 5 >= (D_k - 192) / 5,
// since |d_p| div 5 >= (|d_p| - 4) / 5 and sum_p |d_p| >= D_k (the triangle
// inequality within each block). So 5 dist_k >= D_k - 192, and dist_k >= 0.
// - Profile gates: D_k > 5 L + 192 gives dist_k > L, beyond the limit L.
//   MatchSignatures keeps for each group (tone, then edge) either all direct
//   or all offset distances, and the gate passes only if every kept one is
//   within L: when both comparisons have a profile beyond L the pair fails.
//   Without an offset (dx 0) only the direct comparison counts.
// - Total gate: the kept sum of a group is the smaller of its direct and
//   offset sums, so five times it is at least the smaller of E_direct and
//   E_offset, with E = sum over the group's profiles of max(0, D_k - 192).
//   TotalScore = sum of (group sum div 3) over the four groups >= (S - 8) / 3
//   with S the sum of all kept distances, and a match needs TotalScore <= TL - 1,
//   so S <= 3 TL + 5: a lower bound of five times S beyond 15 TL + 25 rules
//   the pair out.
// - At any shift (ToneSpan): a block sum of A at either shift it can be
//   compared at lies in [6 low, 6 high] of its span, and so for B; the two
//   sums differ by at least 6 times the gap between the spans, so D_k >= 6 G_k
//   with G_k the sum of the gaps over the eight blocks, for the direct and the
//   offset comparison alike. Both comparisons then have the profile beyond
//   the limit when 6 G_k > 5 L + 192, and five times the kept tone sum is at
//   least the sum of max(0, 6 G_k - 192) (the edge sums are at least 0).

namespace {

// The largest difference 48 positions lose to the div 5: 4 each.
constexpr int32_t kDivLoss = 4 * kComparedCount;

constexpr int32_t kEdgeGroup = 0;
constexpr int32_t kToneGroup = 1;

// What one comparison of a group of profiles says: whether some profile is
// surely beyond the limit, and E (five times a lower bound of the group sum).
struct GroupBound {
    bool beyond = false;
    int32_t excess = 0;
};

#if defined(__SSE2__)
GroupBound groupBound(const ProfileBlockSums::Group& a, const ProfileBlockSums::Group& b, int16_t profileBound)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero;
    for (int32_t j = 0; j < kBoundBlocks; ++j) {
        const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(a[j].data()));
        const __m128i y = _mm_load_si128(reinterpret_cast<const __m128i*>(b[j].data()));
        const __m128i d = _mm_sub_epi16(x, y);
        total = _mm_add_epi16(total, _mm_max_epi16(d, _mm_sub_epi16(zero, d))); // at most 4 * 3060
    }
    GroupBound out;
    out.beyond = _mm_movemask_epi8(_mm_cmpgt_epi16(total, _mm_set1_epi16(profileBound))) != 0;
    const __m128i over = _mm_subs_epu16(total, _mm_set1_epi16(static_cast<int16_t>(kDivLoss)));
    const __m128i pairs = _mm_madd_epi16(over, _mm_set1_epi16(1));
    const __m128i quads = _mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, _MM_SHUFFLE(1, 0, 3, 2)));
    out.excess = _mm_cvtsi128_si32(_mm_add_epi32(quads, _mm_shuffle_epi32(quads, _MM_SHUFFLE(2, 3, 0, 1))));
    return out;
}
#else
GroupBound groupBound(const ProfileBlockSums::Group& a, const ProfileBlockSums::Group& b, int16_t profileBound)
{
    GroupBound out;
    for (int32_t lane = 0; lane < kBoundLanes; ++lane) {
        int32_t total = 0;
        for (int32_t j = 0; j < kBoundBlocks; ++j)
            total += std::abs(a[j][lane] - b[j][lane]);
        out.beyond = out.beyond || total > profileBound;
        out.excess += std::max(0, total - kDivLoss);
    }
    return out;
}
#endif

// The sum of profile k of `sig` over `length` positions from compared
// position kComparedFirst + shift + start on.
int32_t blockSum(const PairSignature& sig, int32_t k, int32_t shift, int32_t start, int32_t length)
{
    const auto& profile = sig.profiles[static_cast<std::size_t>(k)];
    const int32_t first = kComparedFirst - PairSignature::kFirstKept + shift + start;
    int32_t sum = 0;
    for (int32_t i = first; i < first + length; ++i)
        sum += profile[static_cast<std::size_t>(i)];
    return sum;
}

int16_t profileBoundOf(int32_t limit)
{
    // A limit below 0 fails every pair, but the bound need not know: it only
    // rules out, never admits.
    const int64_t bound = 5 * int64_t {limit} + kDivLoss;
    return static_cast<int16_t>(std::clamp<int64_t>(bound, 0, std::numeric_limits<int16_t>::max()));
}

} // namespace

ProfileBlockSums ProfileBlockSums::of(const PairSignature& sig, int32_t shift)
{
    ProfileBlockSums out;
    for (int32_t group : {kEdgeGroup, kToneGroup}) {
        for (int32_t lane = 0; lane < 2 * kDivCount; ++lane) {
            for (int32_t j = 0; j < kBoundBlocks; ++j) {
                const int32_t k = group * 2 * kDivCount + lane;
                const int32_t sum = blockSum(sig, k, shift, j * kBoundBlockLength, kBoundBlockLength);
                out.groups[group][j][lane] = static_cast<int16_t>(sum);
            }
        }
    }
    return out;
}

ToneSpan ToneSpan::of(const PairSignature& sig)
{
    ToneSpan out;
    out.low.fill(255);
    out.high.fill(0);
    for (int32_t s = -kMaxHalfShift; s <= kMaxHalfShift; ++s) {
        for (int32_t k = 0; k < 2 * kDivCount; ++k) {
            for (int32_t j = 0; j < kSpanBlocks; ++j) {
                const int32_t sum = blockSum(sig, 2 * kDivCount + k, s, j * kSpanBlockLength, kSpanBlockLength);
                const auto at = static_cast<std::size_t>(k * kSpanBlocks + j);
                out.low[at] = std::min(out.low[at], static_cast<uint8_t>(sum / kSpanBlockLength));
                out.high[at] = std::max(out.high[at],
                                        static_cast<uint8_t>((sum + kSpanBlockLength - 1) / kSpanBlockLength));
            }
        }
    }
    return out;
}

PairBound::PairBound(const MatchLimits& limits)
    : m_profileBound {profileBoundOf(limits.edge), profileBoundOf(limits.tone)}
    , m_totalBound(static_cast<int32_t>(std::clamp<int64_t>(15 * int64_t {limits.total} + 26, 0, INT32_MAX)))
{
}

bool PairBound::surelyFails(const MatchOffset& offset, const ProfileBlockSums& aDirect, const ProfileBlockSums& bDirect,
                            const ProfileBlockSums& aShifted, const ProfileBlockSums& bShifted) const
{
    int32_t excess = 0;
    // Tone first, as MatchSignatures: it rules out more pairs.
    for (int32_t group : {kToneGroup, kEdgeGroup}) {
        const int16_t bound = m_profileBound[static_cast<std::size_t>(group)];
        const GroupBound direct = groupBound(aDirect.groups[group], bDirect.groups[group], bound);
        if (offset.dx == 0) {
            if (direct.beyond)
                return true;
            excess += direct.excess;
            continue;
        }
        const GroupBound shifted = groupBound(aShifted.groups[group], bShifted.groups[group], bound);
        if (direct.beyond && shifted.beyond)
            return true;
        excess += std::min(direct.excess, shifted.excess);
    }
    return excess >= m_totalBound;
}

bool PairBound::surelyFailsAtAnyShift(const ToneSpan& a, const ToneSpan& b) const
{
    std::array<int32_t, 2 * kDivCount> gaps {};
#if defined(__SSE2__)
    static_assert(ToneSpan::kBytes % 16 == 0);
    for (std::size_t v = 0; v < ToneSpan::kBytes / 16; ++v) {
        const auto load = [v](const std::array<uint8_t, ToneSpan::kBytes>& bytes) {
            return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes.data() + 16 * v));
        };
        const __m128i gap
            = _mm_or_si128(_mm_subs_epu8(load(a.low), load(b.high)), _mm_subs_epu8(load(b.low), load(a.high)));
        const __m128i sums = _mm_sad_epu8(gap, _mm_setzero_si128()); // one profile in each half
        gaps[2 * v] = _mm_cvtsi128_si32(sums);
        gaps[2 * v + 1] = _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
    }
#else
    for (std::size_t i = 0; i < ToneSpan::kBytes; ++i) {
        const int32_t gap = std::max({0, a.low[i] - b.high[i], b.low[i] - a.high[i]});
        gaps[i / kSpanBlocks] += gap;
    }
#endif
    const int32_t bound = m_profileBound[kToneGroup];
    int32_t excess = 0;
    for (int32_t g : gaps) {
        const int32_t distance = kSpanBlockLength * g;
        if (distance > bound)
            return true;
        excess += std::max(0, distance - kDivLoss);
    }
    return excess >= m_totalBound;
}
