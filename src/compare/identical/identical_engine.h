#pragma once

#include <cstdint>
#include <vector>

#include "search/engine_context.h"

// The identical-picture engine. Whole-table form (CheckMode 2): every file of
// ctx.files is a member.
void CompareIdentical(EngineContext& ctx);

// Per-run form (CheckMode 0 and 1): each run lists the FileTable indices of
// its members (2 to kMaxGroup of them, ascending), runs in the order the run
// loop forms them. Equivalent to one call per run, in order.
void CompareIdentical(EngineContext& ctx, const std::vector<std::vector<int32_t>>& runs);
