#include "compare/similar/similar_pair_lanes.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The luminance (row 0) or chroma (row 2) profile part of a score, written
// from the formulas with the division of the mapping itself: the plain sums,
// then the aligned sums over the window when the centroids are close.
int32_t literalProfileScore(const PairSide& a, const PairSide& b, int32_t row)
{
    int32_t plain = 0;
    for (int32_t axis = 0; axis < 2; ++axis) {
        int32_t sum = 0;
        for (int32_t i = 0; i < kInnerSize; ++i)
            sum += std::abs(a.rows[row + axis][i] - b.rows[row + axis][i]);
        plain += sum / kInnerSize;
    }
    if (std::abs(a.warmX - b.warmX) >= kAlignmentReach || std::abs(a.warmY - b.warmY) >= kAlignmentReach)
        return plain;
    int32_t aligned[2] = {};
    const AxisAlignment axes[2] = {axisAlignment(a.warmX, a.spreadA, b.warmX, b.spreadA),
                                   axisAlignment(a.warmY, a.spreadB, b.warmY, b.spreadB)};
    for (int32_t axis = 0; axis < 2; ++axis) {
        const AxisAlignment& w = axes[axis];
        int32_t sum = 0;
        for (int32_t k = w.lo; k <= w.hi; ++k) {
            const int32_t ia = w.indexOfA(k);
            const int32_t ib = w.indexOfB(k);
            EXPECT_TRUE(ia >= kInnerFirst && ia <= kInnerLast && ib >= kInnerFirst && ib <= kInnerLast);
            sum += std::abs(a.rows[row + axis][ia - kInnerFirst] - b.rows[row + axis][ib - kInnerFirst]);
        }
        aligned[axis] = sum / std::max(1, w.length());
    }
    const int32_t value = aligned[0] >= 1 && aligned[1] >= 1 ? aligned[0] + aligned[1] : 0;
    return value > 0 && value < plain ? value : plain;
}

struct StepScores {
    bool passes = false;
    int32_t luma = 0;
    int32_t chroma = 0;
};

// The luminance and the chroma steps, then the decision with the least
// ContrastScore the plane totals allow.
StepScores literalSteps(const PairSide& a, const PairSide& b, const SimilarScoreLimits& limits)
{
    StepScores s;
    s.luma = literalProfileScore(a, b, 0) + std::abs(a.planeTotals[1] - b.planeTotals[1]) / kLumaTotalDivisor;
    if (s.luma > limits.lumaStep || s.luma > limits.luma)
        return s;
    s.chroma = literalProfileScore(a, b, 2) + std::abs(a.planeTotals[2] - b.planeTotals[2]) / kChromaTotalDivisor;
    if (s.chroma > 30)
        s.chroma -= std::min(7, std::max(0, 15 - s.luma));
    if (s.chroma > limits.chromaStep)
        return s;
    const int32_t contrast = std::abs(a.planeTotals[0] - b.planeTotals[0]) / 7500;
    int32_t chroma = s.chroma;
    if (chroma > 25)
        chroma -= std::min(8, std::max(0, 50 - contrast));
    s.passes = contrast <= limits.contrast && chroma <= limits.chroma && s.luma + chroma <= limits.lumaChroma
        && 2 * contrast + s.luma + chroma <= limits.similarity;
    return s;
}

// Pictures around a few prototypes with every kind of window: equal and far
// centroids, centroids on the edges of the inner cells, spreads from 1 to
// the largest tabled one, and equal spreads (where either picture may be the
// reference).
std::vector<PairSide> variedSides(int32_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    const auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    std::vector<PairSide> prototypes(4);
    for (PairSide& p : prototypes) {
        for (auto& row : p.rows) {
            for (int32_t i = 0; i < kInnerSize; ++i)
                row[i] = static_cast<uint8_t>(pick(0, 120));
        }
        p.planeTotals = {pick(0, 400000), pick(100000, 800000), pick(0, 600000)};
    }
    const int32_t centres[] = {kInnerFirst, kInnerFirst + 1, 20, 35, 35, 50, kInnerLast - 1, kInnerLast};
    const int32_t spreads[] = {1, 2, 10, 10, 17, 30, kTabledSpread - 1, kTabledSpread};
    std::vector<PairSide> sides(static_cast<std::size_t>(count));
    for (PairSide& s : sides) {
        s = prototypes[static_cast<std::size_t>(pick(0, 3))];
        const int32_t noise = pick(0, 12);
        for (auto& row : s.rows) {
            for (int32_t i = 0; i < kInnerSize; ++i)
                row[i] = static_cast<uint8_t>(std::clamp(row[i] + pick(-noise, noise), 0, 120));
        }
        s.planeTotals[0] = std::max(0, s.planeTotals[0] + pick(-400000, 400000));
        s.planeTotals[1] += pick(-90000, 90000);
        s.planeTotals[2] += pick(-90000, 90000);
        s.planeTotals[2] = std::max(0, s.planeTotals[2]);
        s.warmX = pick(0, 2) == 0 ? centres[pick(0, 7)] : pick(kInnerFirst, kInnerLast);
        s.warmY = pick(0, 2) == 0 ? centres[pick(0, 7)] : pick(kInnerFirst, kInnerLast);
        s.spreadA = pick(0, 2) == 0 ? spreads[pick(0, 7)] : pick(1, 40);
        s.spreadB = pick(0, 2) == 0 ? spreads[pick(0, 7)] : pick(1, 40);
    }
    // Copies moved sideways with their warm centroid (up to and past the
    // reach of the window), then roughened: far apart in the plain sums,
    // anywhere from equal to unlike once aligned. Some keep their y rows
    // exactly, so that the y axis gives an aligned value of 0, which voids
    // the aligned score.
    for (int32_t k = 0; k < count / 2; ++k) {
        PairSide s = sides[static_cast<std::size_t>(pick(0, count - 1))];
        const int32_t shift = pick(0, 3) == 0 ? (pick(0, 1) * 2 - 1) * pick(kAlignmentReach - 1, kAlignmentReach)
                                              : pick(-15, 15);
        s.warmX = std::clamp(s.warmX + shift, kInnerFirst, kInnerLast);
        const int32_t roughness = pick(0, 30);
        for (int32_t row : {0, 2}) {
            auto& r = s.rows[static_cast<std::size_t>(row)];
            std::array<uint8_t, 64> moved {};
            for (int32_t i = 0; i < kInnerSize; ++i)
                moved[i] = static_cast<uint8_t>(
                    std::clamp(r[std::clamp(i - shift, 0, kInnerSize - 1)] + pick(-roughness, roughness), 0, 120));
            r = moved;
        }
        if (pick(0, 1) == 0) {
            for (int32_t row : {1, 3}) {
                for (int32_t i = 0; i < kInnerSize; ++i)
                    s.rows[row][i] = static_cast<uint8_t>(std::clamp(s.rows[row][i] + pick(-roughness, roughness), 0, 120));
            }
        }
        sides.push_back(s);
    }
    return sides;
}

struct Judged {
    int64_t pairs = 0;
    int64_t passing = 0;
    int64_t mismatches = 0;
};

// Every pair of `sides` through the lanes, rows in a scrambled order and
// batches of every size, against the literal steps.
Judged judgeAll(const std::vector<PairSide>& sides, const SimilarScoreLimits& limits, uint32_t seed)
{
    std::mt19937 rng(seed);
    Judged judged;
    for (std::size_t first = 0; first < sides.size(); first += kLaneRows) {
        LaneRows rows;
        const auto rowCount = static_cast<int32_t>(std::min<std::size_t>(kLaneRows, sides.size() - first));
        for (int32_t r = 0; r < rowCount; ++r)
            rows.assign(r, sides[first + static_cast<std::size_t>(r)]);
        std::vector<int32_t> order(static_cast<std::size_t>(rowCount));
        for (int32_t r = 0; r < rowCount; ++r)
            order[static_cast<std::size_t>(r)] = r;
        for (const PairSide& other : sides) {
            std::shuffle(order.begin(), order.end(), rng);
            for (int32_t at = 0; at < rowCount;) {
                const int32_t count = std::min<int32_t>(rowCount - at, 1 + static_cast<int32_t>(rng() % kLanes));
                LaneScores scores;
                uint32_t passed = 0;
                const uint32_t bits = judgePairLanes(rows, order.data() + at, count, other, limits, scores, passed);
                EXPECT_EQ(bits >> count, 0u);
                EXPECT_EQ(passed, bits); // every value here is one the lanes handle
                for (int32_t k = 0; k < count; ++k) {
                    const PairSide& side = sides[first + static_cast<std::size_t>(order[static_cast<std::size_t>(at + k)])];
                    const StepScores expected = literalSteps(side, other, limits);
                    const bool kept = ((bits >> k) & 1) != 0;
                    judged.mismatches += expected.passes != kept ? 1 : 0;
                    if (expected.passes && kept) {
                        judged.mismatches += expected.luma != scores.luma[static_cast<std::size_t>(k)] ? 1 : 0;
                        judged.mismatches += expected.chroma != scores.chroma[static_cast<std::size_t>(k)] ? 1 : 0;
                    }
                    judged.passing += expected.passes ? 1 : 0;
                    ++judged.pairs;
                }
                at += count;
            }
        }
    }
    return judged;
}

} // namespace

TEST(SimilarPairLanesTest, LanesDecideTheLuminanceAndChromaStepsExactly)
{
    if (!pairLanesAvailable())
        GTEST_SKIP() << "this processor has no AVX-512 byte permutes";
    const std::vector<PairSide> sides = variedSides(300, 7);
    for (int32_t level = 0; level <= 2; ++level) {
        for (int32_t files : {1000, 1001}) {
            const Judged judged = judgeAll(sides, similarScoreLimits(level, files), 11 + static_cast<uint32_t>(level));
            EXPECT_EQ(judged.mismatches, 0) << "level " << level << ", " << files << " files";
            // Both outcomes are well represented, or the comparison proves little.
            EXPECT_GT(judged.passing, judged.pairs / 50) << "level " << level;
            EXPECT_LT(judged.passing, judged.pairs / 2) << "level " << level;
        }
    }
}

TEST(SimilarPairLanesTest, ValuesOutsideTheLanesLeaveThePairToTheScores)
{
    if (!pairLanesAvailable())
        GTEST_SKIP() << "this processor has no AVX-512 byte permutes";
    std::vector<PairSide> sides = variedSides(40, 3);
    // Rows of 120 against rows of 0: every pair fails its luminance step, so
    // a kept bit can only come from the lanes leaving the pair alone.
    for (PairSide& s : sides) {
        for (auto& row : s.rows)
            std::fill(row.begin(), row.begin() + kInnerSize, static_cast<uint8_t>(&s == &sides[0] ? 120 : 0));
    }
    sides[1].spreadA = kTabledSpread + 1;
    sides[2].warmY = kInnerLast + 1;
    sides[3].spreadB = 0;
    sides[4].planeTotals[1] = -1;
    sides[5].planeTotals[0] = (1 << 20) + 1;
    LaneRows rows;
    for (int32_t r = 0; r < 40; ++r)
        rows.assign(r, sides[static_cast<std::size_t>(r)]);
    const int32_t index[] = {1, 2, 3, 4, 5, 39};
    // Lanes 0-4 are out of range, lane 5 is judged and fails.
    const SimilarScoreLimits limits = similarScoreLimits(0, 2000);
    LaneScores scores;
    uint32_t judged = 1;
    EXPECT_EQ(judgePairLanes(rows, index, 6, sides[0], limits, scores, judged), 0b011111u);
    EXPECT_EQ(judged, 0u);
    // The shared picture out of range: every pair is left to the scores.
    const int32_t plainRows[] = {5, 6, 7};
    EXPECT_EQ(judgePairLanes(rows, plainRows, 3, sides[1], limits, scores, judged), 0b111u);
    EXPECT_EQ(judged, 0u);
}

TEST(SimilarPairLanesTest, NextLanesTakeTheLowestRowsAndJudgeThemAsTheirIndicesWould)
{
    if (!pairLanesAvailable())
        GTEST_SKIP() << "this processor has no AVX-512 byte permutes";
    const std::vector<PairSide> sides = variedSides(kLaneRows + 1, 5);
    LaneRows rows;
    for (int32_t r = 0; r < kLaneRows; ++r)
        rows.assign(r, sides[static_cast<std::size_t>(r)]);
    const PairSide& other = sides.back();
    const SimilarScoreLimits limits = similarScoreLimits(2, 1000);
    std::mt19937_64 rng(17);
    // Sparse, dense, a single row, the last row, every row.
    for (uint64_t mask : {rng() & rng(), rng() | rng(), uint64_t {1} << 40, uint64_t {1} << 63, ~uint64_t {0}}) {
        std::vector<int32_t> expectedRows;
        for (int32_t r = 0; r < kLaneRows; ++r) {
            if ((mask >> r & 1) != 0)
                expectedRows.push_back(r);
        }
        uint64_t pending = mask;
        std::size_t at = 0;
        while (pending != 0) {
            std::array<int32_t, kLanes> rowIndex {};
            int32_t count = 0;
            LaneScores scores;
            uint32_t judged = 0;
            const uint32_t kept = judgeNextLanes(rows, pending, rowIndex, count, other, limits, scores, judged);
            ASSERT_EQ(count, static_cast<int32_t>(std::min<std::size_t>(kLanes, expectedRows.size() - at)));
            for (int32_t k = 0; k < count; ++k)
                EXPECT_EQ(rowIndex[static_cast<std::size_t>(k)], expectedRows[at + static_cast<std::size_t>(k)]);
            LaneScores byIndex;
            uint32_t judgedByIndex = 0;
            EXPECT_EQ(kept, judgePairLanes(rows, expectedRows.data() + at, count, other, limits, byIndex, judgedByIndex));
            EXPECT_EQ(judged, judgedByIndex);
            for (int32_t k = 0; k < count; ++k) {
                if ((judged >> k & 1) != 0) {
                    EXPECT_EQ(scores.luma[static_cast<std::size_t>(k)], byIndex.luma[static_cast<std::size_t>(k)]);
                    EXPECT_EQ(scores.chroma[static_cast<std::size_t>(k)], byIndex.chroma[static_cast<std::size_t>(k)]);
                }
            }
            at += static_cast<std::size_t>(count);
            // The rows taken are off the mask, the others still on it.
            uint64_t left = 0;
            for (std::size_t r = at; r < expectedRows.size(); ++r)
                left |= uint64_t {1} << expectedRows[r];
            ASSERT_EQ(pending, left);
        }
        EXPECT_EQ(at, expectedRows.size());
    }
}
