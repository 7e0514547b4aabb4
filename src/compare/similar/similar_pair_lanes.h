#pragma once

#include <array>
#include <cstdint>

#include "compare/similar/similar_scoring.h"

// Sixteen pairs at a time through the luminance and chroma steps of the
// similar scores, in vector lanes: the first picture of each pair one of up
// to kLaneRows pictures held here, the second one picture shared by all
// sixteen. Nearly every pair that passes the code gate fails one of these
// two steps, so the pair pass scores only the pairs the lanes let through.

inline constexpr int32_t kLaneRows = 64;
inline constexpr int32_t kLanes = 16;

// What the steps read of up to kLaneRows pictures, one array per value.
struct LaneRows {
    alignas(64) std::array<int32_t, kLaneRows> warmX {};
    alignas(64) std::array<int32_t, kLaneRows> warmY {};
    alignas(64) std::array<int32_t, kLaneRows> spreadX {}; // SpreadA
    alignas(64) std::array<int32_t, kLaneRows> spreadY {}; // SpreadB
    alignas(64) std::array<int32_t, kLaneRows> lumaTotal {};
    alignas(64) std::array<int32_t, kLaneRows> chromaTotal {};
    alignas(64) std::array<int32_t, kLaneRows> contrastTotal {};
    alignas(64) std::array<int32_t, kLaneRows> inRange {}; // 1 when the lanes can judge the row
    std::array<const PairSide*, kLaneRows> sides {};

    void assign(int32_t row, const PairSide& side);
};

// Whether this processor runs the lanes (AVX-512 with byte permutes, and the
// byte sums have not been switched to a slower kind).
bool pairLanesAvailable();

// LumaScore and ChromaScore of each lane (after their own steps), where the
// lane's bit is set and the lane judged it.
struct LaneScores {
    alignas(64) std::array<int32_t, kLanes> luma {};
    alignas(64) std::array<int32_t, kLanes> chroma {};
};

// The pairs (rows.sides[rowIndex[k]], other) for k < count (at most kLanes),
// taken in either order (the scores do not depend on it). Bit k of the
// result is clear only when the pair fails the luminance step, the chroma
// step, or the decision with the least ContrastScore its plane totals allow.
// Set bits of `judged` mark lanes whose steps passed, with their scores in
// `scores`; a pair with values outside what the lanes handle (spreads above
// kTabledSpread, centroids outside the inner cells) keeps its bit in the
// result but not in `judged`. Only when pairLanesAvailable().
uint32_t judgePairLanes(const LaneRows& rows, const int32_t* rowIndex, int32_t count, const PairSide& other,
                        const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged);

// judgePairLanes of the next rows of `pending` (bit r stands for row r): its
// lowest set bits, at most kLanes, are taken off it, their rows written to
// rowIndex in ascending order and their number to count.
uint32_t judgeNextLanes(const LaneRows& rows, uint64_t& pending, std::array<int32_t, kLanes>& rowIndex, int32_t& count,
                        const PairSide& other, const SimilarScoreLimits& limits, LaneScores& scores, uint32_t& judged);
