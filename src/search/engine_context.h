#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "search/file_table.h"
#include "search/pair_orientations.h"
#include "search/search_options.h"
#include "search/search_progress.h"

class OutcomeCache;
class WorkerPool;

// FileCount, LoadCount and PairCount of one search.
struct SearchCounters {
    int32_t fileCount = 0;
    int32_t loadCount = 0;
    int32_t pairCount = 0;
    // With an outcome cache attached: the committed outcomes it supplied, and
    // those decoded afresh.
    int32_t cacheHits = 0;
    int32_t cacheMisses = 0;
};

// What the search driver hands a comparison engine. The engine reads and
// changes the FileTable (Skip, spreads), appends result lines (in any order:
// the driver sorts them afterwards), appends unreadable paths in FileTable
// order, counts, and polls abortFlag wherever the window would have been
// given a chance to run.
struct EngineContext {
    FileTable& files;
    std::vector<std::string>& resultLines;
    std::vector<std::string>& unreadable;
    SearchCounters& counters;
    const std::atomic<bool>& abortFlag;
    CheckMode mode = CheckMode::FileSize;
    int32_t level = kLevelStrict;
    int32_t jobs = 1;                    // worker threads, at least 1
    ProgressThrottle* progress = nullptr; // may be null
    WorkerPool* pool = nullptr;           // the search's threads; null: the engine makes its own
    OutcomeCache* cache = nullptr;        // outcomes kept between searches; may be null
    // Also pair turned and mirrored copies; the orientation of each pair
    // that matched other than upright goes to `orientations`.
    bool turned = false;
    PairOrientations* orientations = nullptr;

    bool aborted() const { return abortFlag.load(std::memory_order_relaxed); }
    void report(SearchProgress::Phase phase, int64_t done, int64_t total, bool force = false) const
    {
        if (progress)
            progress->report(phase, done, total, force);
    }
};
