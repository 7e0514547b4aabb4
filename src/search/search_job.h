#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cache/signature_cache.h"
#include "review/pair_list.h"
#include "search/engine_context.h"
#include "search/file_table.h"
#include "search/search_error.h"
#include "search/search_options.h"
#include "search/search_progress.h"

// Size of one review pane.
struct PaneSize {
    int32_t width = 0;
    int32_t height = 0;
};

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
    PaneSize pane;          // DispMaxWidth, DispMaxHeight for the review
    int64_t elapsedMs = 0;  // SearchEnd - SearchStart
    bool noFiles = false;   // the scan found no picture file: nothing else ran
    bool aborted = false;   // the abort flag was seen set when the search ended
    std::optional<CacheCounts> cache; // with the signature cache in use
    std::string cacheWarning;         // why the cache was set aside, when it was
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

// The review pane of a search from the "画面サイズ" item index: base width
// 260, 330 or 410 times 3 / 2, height 416, 545 or 738. No item chosen (-1)
// gives the sizes of item 0.
PaneSize searchPaneSize(int32_t screen);

// The review pane of a re-display ("画像再表示"): the base width, times 3 / 2
// only in CheckMode 2 and 3; no item chosen keeps `previous`.
PaneSize redisplayPaneSize(int32_t screen, CheckMode mode, PaneSize previous);
