#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "search/file_table.h"
#include "search/search_options.h"

// One run of the per-run comparison: the FileTable indices of its members,
// ascending, 2 to kMaxGroup of them.
using RunMembers = std::vector<int32_t>;

// The run loop of CheckMode 0 and 1: every maximal stretch of two or more
// equal keys in FileTable order is one run. A run longer than kMaxGroup keeps
// its first kMaxGroup - 1 members and, in its last slot, the stretch's last
// member. The abort flag is polled once per distinct key; runs formed before
// it was seen are kept.
std::vector<RunMembers> formRuns(const FileTable& files, CheckMode mode,
                                 const std::atomic<bool>* abortFlag = nullptr);
