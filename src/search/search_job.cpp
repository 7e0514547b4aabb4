#include "search/search_job.h"

// Placeholder until the search driver lands.
SearchOutcome runSearch(const SearchOptions&, const std::atomic<bool>&, const ProgressCallback&)
{
    throw SearchError("search not available yet");
}

std::string searchStatusText(const SearchOutcome&) { return {}; }
std::string searchSummaryLine(const SearchOutcome&) { return {}; }
PaneSize searchPaneSize(int32_t) { return PaneSize {390, 416}; }
PaneSize redisplayPaneSize(int32_t, CheckMode, PaneSize previous) { return previous; }
