#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cache/signature_cache.h"
#include "search/engine_context.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/pair_orientations.h"
#include "search/search_error.h"
#include "search/search_options.h"
#include "search/search_progress.h"

// Everything one search leaves behind: what the review, the re-display, the
// main window and zelvic-cli use.
struct SearchOutcome {
    SearchOptions options;
    FileTable files;
    std::vector<std::string> scanLines;   // ScanList, sorted
    std::vector<std::string> resultLines; // the result list, sorted
    std::vector<std::string> unreadable;  // ListBox3, in order
    std::vector<PairRec> pairList;
    SearchCounters counters;
    int64_t elapsedMs = 0;  // SearchEnd - SearchStart
    bool noFiles = false;   // the scan found no picture file: nothing else ran
    bool aborted = false;   // the abort flag was seen set when the search ended
    std::optional<CacheCounts> cache; // with the signature cache in use
    std::string cacheWarning;         // why the cache was set aside, when it was
    // The result pairs marked "not the same" (left out of the result list
    // unless options.showMarked); nothing without a single mark.
    std::optional<int32_t> notSame;
    std::string marksWarning;         // why the marks were set aside, when they were
    // With options.turned: the pairs that matched other than upright.
    PairOrientations orientations;
};

// Runs one search without any window: scan, file table, the comparison of the
// mode, the pair list. Polls abortFlag; reports progress through the callback
// (throttled). Throws SearchError for a failure that ends the search.
SearchOutcome runSearch(const SearchOptions& options, const std::atomic<bool>& abortFlag,
                        const ProgressCallback& progress = {});

// "画像ファイルなし", "検索終了" or "重複ファイルなし" for Label1 after a search.
std::string searchStatusText(const SearchOutcome& outcome);

// The summary line of Edit1: "%4.1f" seconds, " ファイル：", " 読込：", " 選択：".
std::string searchSummaryLine(const SearchOutcome& outcome);
