#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "compare/similar/similar_signature.h"

// Files above which the stricter bounds apply: in a large collection more
// pairs resemble each other by chance.
inline constexpr int32_t kLargeSearchFiles = 1000;

// Differences of the band codes: contrast (groups 0 and 1, entries 1..6) and
// luminance (groups 2 and 3, entries 7..12). May be negative: a shared
// strong or weak third is a bonus.
struct CodeDistances {
    int32_t contrast = 0;
    int32_t luminance = 0;
};

// Code distance of group g (band-code entries 3g + 1 .. 3g + 3).
int32_t groupCodeDistance(const std::array<int32_t, 13>& a, const std::array<int32_t, 13>& b, int32_t group);
CodeDistances codeDistances(const SimilarSignature& a, const SimilarSignature& b);

// The cheap first gate of a pair; depends on the band codes alone.
bool passesCodeGate(const CodeDistances& codes, int32_t level);

// One axis of the alignment window: O's picture stretched onto the reference
// picture R around their warm centroids by the ratio of their warm spreads.
struct AxisAlignment {
    bool referenceIsA = true;
    int32_t centreR = 0;
    int32_t centreO = 0;
    int32_t spreadR = 1;
    int32_t spreadO = 1;
    int32_t lo = kInnerFirst;
    int32_t hi = kInnerLast;

    // Index of O that index k of R meets.
    int32_t mapped(int32_t k) const { return spreadO * (k - centreR) / spreadR + centreO; }
    int32_t length() const { return hi - lo + 1; }
    int32_t indexOfA(int32_t k) const { return referenceIsA ? k : mapped(k); }
    int32_t indexOfB(int32_t k) const { return referenceIsA ? mapped(k) : k; }
};

struct AlignmentWindow {
    bool exists = false; // only when the warm centroids are close on both axes
    AxisAlignment x;
    AxisAlignment y;
};

// Spreads must be at least 1.
AxisAlignment axisAlignment(int32_t centreA, int32_t spreadA, int32_t centreB, int32_t spreadB);
AlignmentWindow alignmentWindow(const SimilarSignature& a, const SimilarSignature& b);

// LumaScore (rows 3, 4) or ChromaScore (rows 5, 6) before its totals term:
// the plain profile distance, or the aligned one when that is lower and above 0.
int32_t profileDistance(const SimilarSignature& a, const SimilarSignature& b, int32_t rowX, int32_t rowY,
                        const AlignmentWindow& window);

// ContrastScore before its totals term, plain or aligned likewise.
int32_t contrastMapDistance(const SimilarSignature& a, const SimilarSignature& b, const AlignmentWindow& window);

struct SimilarPairScores {
    int32_t contrast = 0;
    int32_t luma = 0;
    int32_t chroma = 0;
    int32_t similarity = 0;
    CodeDistances codes;
};

// Scores a pair that has passed the code gate; empty when a bound rejects it.
// fileCount selects the stricter bounds above kLargeSearchFiles.
std::optional<SimilarPairScores> scoreGatedPair(const SimilarSignature& a, const SimilarSignature& b,
                                                const CodeDistances& codes, int32_t level, int32_t fileCount);

// The code gate, then the scores.
std::optional<SimilarPairScores> scoreSimilarPair(const SimilarSignature& a, const SimilarSignature& b,
                                                  int32_t level, int32_t fileCount);

// The result line of an accepted pair (indexA < indexB). Characters 1-4 hold
// the score, 7-12 and 15-20 the indices; the rest is diagnostic.
std::string similarResultLine(const SimilarPairScores& scores, int32_t indexA, int32_t indexB,
                              const SimilarSignature& a, const SimilarSignature& b, std::string_view pathA,
                              std::string_view pathB);
