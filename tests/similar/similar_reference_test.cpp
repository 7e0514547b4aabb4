// The pair scores take shortcuts for speed (packed rows, a division-free
// mapping, sums that stop once a pair cannot pass, a bound found by search).
// This test holds them against a plain, step-by-step scorer over many pairs.

#include <algorithm>
#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "compare/similar/similar_byte_sums.h"
#include "compare/similar/similar_scoring.h"
#include "similar/byte_sum_kind.h"
#include "similar/random_signatures.h"

namespace {

struct Axis {
    bool referenceIsA;
    int32_t cR, cO, sR, sO, lo, hi;
    int32_t m(int32_t k) const { return sO * (k - cR) / sR + cO; }
    int32_t indexA(int32_t k) const { return referenceIsA ? k : m(k); }
    int32_t indexB(int32_t k) const { return referenceIsA ? m(k) : k; }
};

Axis makeAxis(int32_t cA, int32_t sA, int32_t cB, int32_t sB)
{
    const bool refA = sA >= sB;
    const int32_t cR = refA ? cA : cB, sR = refA ? sA : sB, cO = refA ? cB : cA, sO = refA ? sB : sA;
    return Axis {refA, cR, cO, sR, sO, cR - std::min(cR - 5, (cO - 5) * sR / sO), cR + std::min(64 - cR, sR * (64 - cO) / sO)};
}

int32_t codeGroup(const SimilarSignature& a, const SimilarSignature& b, int32_t g)
{
    int32_t d = 0;
    bool three = false, one = false;
    for (int32_t e = 3 * g + 1; e <= 3 * g + 3; ++e) {
        d += std::abs(a.bandCodes[e] - b.bandCodes[e]);
        three = three || (a.bandCodes[e] == 3 && b.bandCodes[e] == 3);
        one = one || (a.bandCodes[e] == 1 && b.bandCodes[e] == 1);
    }
    return d - three - one;
}

int32_t profilePart(const SimilarSignature& a, const SimilarSignature& b, int32_t rx, int32_t ry, bool window,
                    const Axis& x, const Axis& y)
{
    int32_t px = 0, py = 0;
    for (int32_t i = 5; i <= 64; ++i) {
        px += std::abs(a.profiles[rx][i] - b.profiles[rx][i]);
        py += std::abs(a.profiles[ry][i] - b.profiles[ry][i]);
    }
    int32_t score = px / 60 + py / 60;
    int32_t aligned = 0;
    if (window) {
        int32_t ax = 0, ay = 0;
        for (int32_t k = x.lo; k <= x.hi; ++k)
            ax += std::abs(a.profiles[rx][x.indexA(k)] - b.profiles[rx][x.indexB(k)]);
        for (int32_t k = y.lo; k <= y.hi; ++k)
            ay += std::abs(a.profiles[ry][y.indexA(k)] - b.profiles[ry][y.indexB(k)]);
        ax /= std::max(1, x.hi - x.lo + 1);
        ay /= std::max(1, y.hi - y.lo + 1);
        aligned = ax >= 1 && ay >= 1 ? ax + ay : 0;
    }
    if (aligned > 0 && aligned < score)
        score = aligned;
    return score;
}

std::optional<SimilarPairScores> referenceScore(const SimilarSignature& a, const SimilarSignature& b, int32_t level,
                                                int32_t n)
{
    const double lv = 2.5 * level;
    SimilarPairScores s;
    s.codes.contrast = codeGroup(a, b, 0) + codeGroup(a, b, 1);
    s.codes.luminance = codeGroup(a, b, 2) + codeGroup(a, b, 3);
    if (!(s.codes.contrast <= level + 3 && s.codes.luminance <= level + 3
          && s.codes.contrast + s.codes.luminance <= lv + 4))
        return std::nullopt;

    const bool window = std::abs(a.centroidX[3] - b.centroidX[3]) < 22 && std::abs(a.centroidY[3] - b.centroidY[3]) < 22;
    const Axis x = makeAxis(a.centroidX[3], a.spreadA, b.centroidX[3], b.spreadA);
    const Axis y = makeAxis(a.centroidY[3], a.spreadB, b.centroidY[3], b.spreadB);

    s.luma = profilePart(a, b, 3, 4, window, x, y) + std::abs(a.planeTotals[1] - b.planeTotals[1]) / 41000;
    if (!(s.luma < lv + 28))
        return std::nullopt;
    s.chroma = profilePart(a, b, 5, 6, window, x, y) + std::abs(a.planeTotals[2] - b.planeTotals[2]) / 30000;
    if (s.chroma > 30)
        s.chroma -= std::min(7, std::max(0, 15 - s.luma));
    if (!(s.chroma < lv + 35))
        return std::nullopt;

    int32_t plain = 0;
    for (int32_t cx = 5; cx <= 64; ++cx) {
        for (int32_t cy = 5; cy <= 64; ++cy)
            plain += std::abs(a.contrastAt(cx, cy) - b.contrastAt(cx, cy));
    }
    s.contrast = plain / 3600;
    if (window) {
        int32_t sum = 0;
        for (int32_t kx = x.lo; kx <= x.hi; ++kx) {
            for (int32_t ky = y.lo; ky <= y.hi; ++ky)
                sum += std::abs(a.contrastAt(x.indexA(kx), y.indexA(ky)) - b.contrastAt(x.indexB(kx), y.indexB(ky)));
        }
        const int32_t aligned = sum / std::max(1, (x.hi - x.lo + 1) * (y.hi - y.lo + 1));
        if (aligned > 0 && aligned < s.contrast)
            s.contrast = aligned;
    }
    s.contrast += std::abs(a.planeTotals[0] - b.planeTotals[0]) / 7500;
    if (s.chroma > 25)
        s.chroma -= std::min(8, std::max(0, 50 - s.contrast));
    s.similarity = 2 * s.contrast + s.luma + s.chroma;

    const bool large = n > 1000;
    if (s.contrast < lv + (large ? 77 : 87) && s.luma < lv + (large ? 24 : 28) && s.chroma < lv + (large ? 23 : 27)
        && s.luma + s.chroma < lv + (large ? 42 : 47) && s.similarity < 5 * level + (large ? 188 : 204))
        return s;
    return std::nullopt;
}

} // namespace

// Holds the scorer against the plain steps over every pair of a corpus, at
// every level and on both sides of 1000 files; counts the pairs scored and
// accepted.
void expectPairsScoreLikeThePlainSteps(const similar_testing::Corpus& corpus, int32_t& accepted, int32_t& scored)
{
    const auto& sig = corpus.signatures;
    for (int32_t level = 0; level <= 2; ++level) {
        for (int32_t n : {500, 5000}) {
            for (std::size_t i = 0; i < sig.size(); ++i) {
                if (sig[i].spreadA == 0)
                    continue;
                for (std::size_t j = i + 1; j < sig.size(); ++j) {
                    if (sig[j].spreadA == 0)
                        continue;
                    const auto expected = referenceScore(sig[i], sig[j], level, n);
                    const auto got = scoreSimilarPair(sig[i], sig[j], level, n);
                    ++scored;
                    ASSERT_EQ(got.has_value(), expected.has_value()) << i << " " << j << " level " << level;
                    if (!expected)
                        continue;
                    ++accepted;
                    ASSERT_EQ(got->contrast, expected->contrast) << i << " " << j;
                    ASSERT_EQ(got->luma, expected->luma) << i << " " << j;
                    ASSERT_EQ(got->chroma, expected->chroma) << i << " " << j;
                    ASSERT_EQ(got->similarity, expected->similarity) << i << " " << j;
                    ASSERT_EQ(got->codes.contrast, expected->codes.contrast);
                    ASSERT_EQ(got->codes.luminance, expected->codes.luminance);
                }
            }
        }
    }
}

void expectShortcutsScoreLikeThePlainSteps()
{
    int32_t accepted = 0;
    int32_t scored = 0;
    expectPairsScoreLikeThePlainSteps(similar_testing::randomCorpus(260, 29), accepted, scored);
    EXPECT_GT(accepted, 500);
    EXPECT_LT(accepted, scored / 4);
}

TEST(SimilarReferenceTest, ShortcutsScoreLikeThePlainSteps)
{
    expectShortcutsScoreLikeThePlainSteps();
}

// A picture on another warm region, made from `base` so that, aligned, the
// two meet closely (every aligned difference 2) while the plain sums may not.
SimilarSignature alignedCopy(const SimilarSignature& base, int32_t x, int32_t spreadA, int32_t y, int32_t spreadB)
{
    SimilarSignature s = base;
    s.centroidX[kWarmCentroid] = x;
    s.centroidY[kWarmCentroid] = y;
    s.spreadA = spreadA;
    s.spreadB = spreadB;
    const Axis ax = makeAxis(x, spreadA, base.centroidX[kWarmCentroid], base.spreadA);
    const Axis ay = makeAxis(y, spreadB, base.centroidY[kWarmCentroid], base.spreadB);
    const auto near = [](uint8_t v) { return static_cast<uint8_t>(v < 110 ? v + 2 : v - 2); };
    for (const auto& [axis, rows] : {std::pair {ax, std::array {3, 5}}, std::pair {ay, std::array {4, 6}}}) {
        for (int32_t row : rows) {
            for (int32_t k = axis.lo; k <= axis.hi; ++k)
                s.profiles[row][axis.indexA(k)] = near(base.profiles[row][axis.indexB(k)]);
        }
    }
    for (int32_t kx = ax.lo; kx <= ax.hi; ++kx) {
        for (int32_t ky = ay.lo; ky <= ay.hi; ++ky) {
            s.contrastMap[SimilarSignature::mapIndex(ax.indexA(kx), ay.indexA(ky))] =
                base.contrastAt(ax.indexB(kx), ay.indexB(ky));
        }
    }
    return s;
}

// Many pictures on one warm region (the same centroids and spreads, as every
// picture without warm cells has), where the scorer passes over the window,
// beside pictures that differ from the region in one of the four values and
// match it only when aligned, where it must not. Regions at the grid's ends
// and with extreme spreads too.
TEST(SimilarReferenceTest, SharedWarmRegionsScoreLikeThePlainSteps)
{
    struct Region {
        int32_t x, spreadA, y, spreadB;
    };
    const Region regions[] = {{35, 10, 35, 10}, {5, 1, 64, 1}, {60, 300, 9, 7}, {20, 63, 50, 64}};
    similar_testing::Corpus corpus = similar_testing::randomCorpus(240, 31);
    std::vector<SimilarSignature> bases(4);
    for (std::size_t i = 0; i < corpus.signatures.size(); ++i) {
        SimilarSignature& s = corpus.signatures[i];
        if (s.spreadA == 0)
            continue;
        const Region r = regions[i % 4];
        s.centroidX[kWarmCentroid] = r.x;
        s.centroidY[kWarmCentroid] = r.y;
        s.spreadA = r.spreadA;
        s.spreadB = r.spreadB;
        SimilarSignature& base = bases[i % 4];
        if (base.spreadA == 0)
            base = s;
        switch (i / 4 % 8) { // most stay on the region, some are one value off it
        case 1:
            s = alignedCopy(base, r.x + (r.x < 40 ? 3 : -3), r.spreadA, r.y, r.spreadB);
            break;
        case 2:
            s = alignedCopy(base, r.x, r.spreadA * 2, r.y, r.spreadB);
            break;
        case 3:
            s = alignedCopy(base, r.x, r.spreadA, r.y + (r.y < 40 ? 3 : -3), r.spreadB);
            break;
        case 4:
            s = alignedCopy(base, r.x, r.spreadA, r.y, r.spreadB + 5);
            break;
        default:
            break;
        }
        corpus.files[i].spreadA = s.spreadA;
        corpus.files[i].spreadB = s.spreadB;
    }
    int32_t accepted = 0;
    int32_t scored = 0;
    expectPairsScoreLikeThePlainSteps(corpus, accepted, scored);
    EXPECT_GT(accepted, 200);
}

// The same with every slower way of summing bytes this processor has, down
// to the plain loops and the early stops that go with them.
TEST(SimilarReferenceTest, EverySumKindScoresLikeThePlainSteps)
{
    const ByteSumKind before = byteSumKind();
    for (ByteSumKind kind : {ByteSumKind::Plain, ByteSumKind::Shuffles}) {
        if (kind >= bestByteSumKind())
            continue;
        SCOPED_TRACE(static_cast<int>(kind));
        setByteSumKind(kind);
        expectShortcutsScoreLikeThePlainSteps();
    }
    setByteSumKind(before);
}

TEST(SimilarReferenceTest, FastMappingTruncatesLikeTheDivision)
{
    for (int32_t spreadR = 1; spreadR <= 120; ++spreadR) {
        for (int32_t spreadO = 1; spreadO <= spreadR; ++spreadO) {
            const AxisAlignment axis = axisAlignment(35, spreadR, 30, spreadO);
            for (int32_t k = 5; k <= 64; ++k)
                ASSERT_EQ(axis.mappedFast(k), axis.mapped(k)) << spreadR << " " << spreadO << " " << k;
        }
    }
}

// The pairings come from a table of offsets (spreads up to 63) or, outside
// it, from the mapping itself; both must meet the window and mapping formulas.
TEST(SimilarReferenceTest, PairingsFollowTheWindowFormulas)
{
    int32_t tabled = 0;
    for (int32_t spreadA = 1; spreadA <= 70; ++spreadA) {
        for (int32_t spreadB = 1; spreadB <= 70; spreadB += (spreadA <= 63 ? 1 : 9)) {
            for (int32_t centreA : {5, 20, 35, 47, 64}) {
                for (int32_t centreB : {5, 14, 35, 56, 64}) {
                    const Axis expected = makeAxis(centreA, spreadA, centreB, spreadB);
                    const AxisAlignment axis = axisAlignment(centreA, spreadA, centreB, spreadB);
                    ASSERT_EQ(axis.lo, expected.lo);
                    ASSERT_EQ(axis.hi, expected.hi);
                    tabled += axis.offsets != nullptr ? 1 : 0;
                    IndexPairing pairing;
                    fillAxisPairing(axis, pairing);
                    ASSERT_EQ(pairing.length, expected.hi - expected.lo + 1);
                    for (int32_t k = expected.lo; k <= expected.hi; ++k) {
                        const auto i = static_cast<std::size_t>(k - expected.lo);
                        ASSERT_EQ(pairing.a[i], expected.indexA(k) - 5) << spreadA << " " << spreadB << " " << k;
                        ASSERT_EQ(pairing.b[i], expected.indexB(k) - 5) << spreadA << " " << spreadB << " " << k;
                    }
                }
            }
        }
    }
    EXPECT_GT(tabled, 50000);
}
