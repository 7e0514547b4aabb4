#pragma once

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

    void report(SearchProgress::Phase phase, int64_t done, int64_t total, bool force = false) const
    {
        if (progress)
            progress->report(phase, done, total, force);
    }
};

// Scores every pair A < B of files that have a signature (Skip 0, spreads
// not 0) and returns the result lines of the accepted pairs, in no
// particular order. Any job count gives the same lines. Once abortFlag is
// set no further pair is scored; the lines found so far are returned.
std::vector<std::string> runSimilarPairPass(const SimilarPairPassInput& input);
