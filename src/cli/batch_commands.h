#pragma once

#include <string>
#include <vector>

inline constexpr const char* kBatchUsage =
    "       zelvic-cli apply PLAN [--move-to FOLDER] [--dry-run] [--verbose]\n"
    "       zelvic-cli batches [--verbose]\n"
    "       zelvic-cli undo [BATCH] [--verbose]\n";

// `zelvic-cli apply PLAN`: 0 when every marked file was acted on, 1 when any
// was skipped, refused or failed (or the plan cannot be read), 2 on bad arguments.
int runApplyCommand(const std::vector<std::string>& args);

// `zelvic-cli batches`: the journal, one batch a line.
int runBatchesCommand(const std::vector<std::string>& args);

// `zelvic-cli undo [BATCH]`: 0 when every file is back, 1 when any is not.
int runUndoCommand(const std::vector<std::string>& args);
