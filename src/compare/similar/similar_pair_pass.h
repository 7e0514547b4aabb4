#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "compare/similar/similar_signature.h"
#include "search/file_table.h"
#include "search/search_progress.h"

class WorkerPool;

struct SimilarPairPassInput {
    const FileTable& files;                         // Skip, spreads and paths
    std::span<const SimilarSignature> signatures;   // one per file
    int32_t level = 0;                              // CheckLevel
    int32_t jobs = 1;
    const std::atomic<bool>& abortFlag;
    ProgressThrottle* progress = nullptr;
    WorkerPool* pool = nullptr;                     // the search's threads; null: threads of its own
    // Not empty: the pass pairs A's signature with B's turned one way, one
    // per file (spreads 0 where a file has none), and B's fields of a line
    // are the turned signature's.
    std::span<const SimilarSignature> turned = {};
    // Where a pass that is one of several stands in the progress: the pairs
    // the passes before it examined, and how many passes come after it (its
    // own count of pairs stands for theirs until they run).
    int64_t progressBefore = 0;
    int32_t passesAfter = 0;

    void report(SearchProgress::Phase phase, int64_t done, int64_t total, bool force = false) const
    {
        if (progress) {
            const int64_t shown = progressBefore + std::min(done, total);
            progress->report(phase, shown, progressBefore + total * (1 + passesAfter), force);
        }
    }
};

// Scores every pair A < B of files that have a signature (Skip 0, spreads
// not 0) and returns the result lines of the accepted pairs, in no
// particular order. Any job count gives the same lines. Once abortFlag is
// set no further pair is scored; the lines found so far are returned.
// `pairsToScore` (may be null) gets the pairs its progress counted to.
std::vector<std::string> runSimilarPairPass(const SimilarPairPassInput& input, int64_t* pairsToScore = nullptr);
