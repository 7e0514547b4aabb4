#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "compare/identical/identical_match.h"
#include "picture/orientation.h"

class WorkerPool;

// One matching pair: positions a < b in the signature list.
struct PairMatch {
    int32_t a = 0;
    int32_t b = 0;
    MatchResult result;
    // In a search for turned copies: B's orientation that matched.
    Orientation orientation = Orientation::Upright;
};

// Called now and then with the number of A positions finished; from any thread.
using PairProgress = std::function<void(int64_t done, int64_t total)>;

// The pair phase over `signatures` (the readable members, in member order):
// every pair a < b that MatchSignatures accepts, ordered by a, then b. The set
// is exactly that of deciding every pair in turn; the pairs the centroid gate
// rejects are never visited, since the signatures are looked up by centroid,
// and MatchSignatures runs only on the pairs the bounds of PairBound let through.
// Runs on `jobs` threads, those of `pool` when given. Once abortFlag is seen
// set no further pair is decided, and the matches found so far are returned.
std::vector<PairMatch> findIdenticalPairs(std::span<const PairSignature> signatures, const MatchLimits& limits,
                                          int32_t jobs, const std::atomic<bool>& abortFlag,
                                          const PairProgress& progress = {}, WorkerPool* pool = nullptr);

// The pair phase of a search for turned copies. `turned` holds every member's
// signatures of orientations 1..7, orientation o of member i at
// [(o - 1) * signatures.size() + i]. A pair a < b matches in the first
// orientation o (0..7) in which MatchSignatures accepts a's upright signature
// against b's signature in orientation o; each pair is returned once, with
// that orientation and that decision's result, ordered by a, then b. The set
// is exactly that of trying every orientation of every pair in turn.
std::vector<PairMatch> findTurnedIdenticalPairs(std::span<const PairSignature> signatures,
                                                std::span<const PairSignature> turned, const MatchLimits& limits,
                                                int32_t jobs, const std::atomic<bool>& abortFlag,
                                                const PairProgress& progress = {}, WorkerPool* pool = nullptr);
