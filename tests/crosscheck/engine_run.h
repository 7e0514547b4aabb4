#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crosscheck/reference_identical.h"
#include "search/engine_context.h"
#include "search/file_table.h"
#include "search/search_options.h"

// The real engines run as a search runs them, and their outcome held against
// a reference engine's.
namespace crosscheck {

struct EngineRun {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
};

// One run of the real engine over `table`; the identical engine over `runs`
// when given. Its lines come back sorted.
EngineRun runReal(const FileTable& table, CheckMode mode, int32_t level, int32_t jobs,
                  const std::vector<std::vector<int32_t>>* runs);

// Lines, unreadable files, counters, skips and (`spreads`) the similar
// engine's spreads the same as the reference's; `what` names the run.
void expectSameOutcome(const EngineRun& real, const FileTable& refFiles, RefOutcome ref, bool spreads,
                       const std::string& what);

// The reference's line count and where it turned pairs away, for the log;
// prints its lines when CROSSCHECK_DUMP is set, to tune the folder.
std::string gateSummary(const RefOutcome& ref);

} // namespace crosscheck
