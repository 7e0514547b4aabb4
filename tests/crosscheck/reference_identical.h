#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/orientation.h"
#include "picture/picture.h"
#include "search/file_table.h"
#include "search/search_options.h"

// A plain, single-threaded second implementation of the identical-picture
// engine, written apart from the real one so that the two can check each
// other. It favours one loop a step over speed.
namespace crosscheck {

inline constexpr int32_t kRefDivCount = 3;
inline constexpr int32_t kRefProfileCount = 28;
inline constexpr int32_t kRefProfileLength = 70;

struct RefIdenticalSignature {
    std::array<int32_t, 6> centroid {};
    std::array<std::array<uint8_t, kRefProfileLength>, kRefProfileCount> profile {};
};

struct RefIdenticalLimits {
    int32_t centroid = 0;
    int32_t tone = 0;
    int32_t edge = 0;
    int32_t total = 0;
};

struct RefIdenticalMatch {
    bool match = false;
    int32_t totalScore = 0;
    std::array<int32_t, 4> mean {};
    std::array<int32_t, 4> max {};
};

// What one engine run leaves behind, in the form the real engine reports it.
struct RefOutcome {
    std::vector<std::string> lines;      // unsorted
    std::vector<std::string> unreadable; // in the order met
    int32_t loadCount = 0;
    int32_t pairCount = 0;
    // Pairs turned away at each gate, in gate order (identical: centroid,
    // tone, edge, total; similar: codes, luma, chroma, decision), so that a
    // test can see near misses as well as matches.
    std::array<int32_t, 4> rejectedAt {};
    // With turned copies: each pair that matched other than upright, as
    // (A, B, orientation), in the order decided.
    struct TurnedPair {
        int32_t a = 0;
        int32_t b = 0;
        Orientation orientation = Orientation::Upright;
    };
    std::vector<TurnedPair> turnedPairs;
};

RefIdenticalSignature refIdenticalSignature(const Picture& picture);
RefIdenticalLimits refChooseLimits(CheckMode mode, int32_t level);
RefIdenticalMatch refMatchSignatures(const RefIdenticalSignature& a, const RefIdenticalSignature& b,
                                     const RefIdenticalLimits& limits);

// The whole-table form over every file of the table. With `turned`, each
// pair A < B is decided for B turned to each orientation 0..7 in turn (the
// signature of turnedPicture), and the first that matches is the pair's.
RefOutcome refCompareIdentical(FileTable& files, CheckMode mode, int32_t level, bool turned = false);
// The per-run form: one call per run, in order.
RefOutcome refCompareIdenticalRuns(FileTable& files, CheckMode mode, int32_t level,
                                   const std::vector<std::vector<int32_t>>& runs);

} // namespace crosscheck
