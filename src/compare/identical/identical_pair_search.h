#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "compare/identical/identical_match.h"

class WorkerPool;

// One matching pair: positions a < b in the signature list.
struct PairMatch {
    int32_t a = 0;
    int32_t b = 0;
    MatchResult result;
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
