#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/batch_journal.h"
#include "cleanup/cleanup_plan.h"

// Files done so far of all to do. Called from the thread that runs the batch.
using BatchProgress = std::function<void(int64_t done, int64_t total)>;

struct ApplyOptions {
    std::string moveTo;                         // empty: into the trash; else an existing folder
    bool dryRun = false;                        // check and report, move nothing
    BatchProgress progress;                     // optional
    const std::atomic<bool>* abort = nullptr;   // optional; tested before each file
};

// A group of the plan not acted on, and why.
struct GroupNotActed {
    std::size_t group = 0; // 0-based place in the plan
    std::string reason;    // names the file concerned
};

struct ApplyReport {
    std::optional<int64_t> batch;       // the journal's batch, when any file was moved
    int64_t markedFiles = 0;            // marked for the trash in the whole plan
    int64_t markedBytes = 0;
    std::vector<std::string> acted;     // files moved (or, dry, that would be)
    int64_t actedBytes = 0;
    std::vector<GroupNotActed> skipped; // a file changed or gone since the plan
    std::vector<GroupNotActed> refused; // every member marked
    std::vector<std::string> failed;    // a move the system refused: the message names the file
    bool aborted = false;
    std::string stopped;                // the journal could not be written: the batch stopped there

    // Every marked file was acted on.
    bool complete() const { return static_cast<int64_t>(acted.size()) == markedFiles; }
};

// applyPlan and undoBatch may run on a worker thread; the journal is then
// used by that thread alone until they return, and the abort flag is the
// one thing shared.
//
// Carries out a plan group by group: right before a group every member must
// still be the file the plan saw (device, inode, size, times), else the
// group is skipped; a group with every member marked is refused. Each file's
// move is written to `journal` before it is made. `journal` may be null only
// for a dry run.
ApplyReport applyPlan(const CleanupPlan& plan, BatchJournal* journal, const ApplyOptions& options);

struct UndoReport {
    int64_t restored = 0;
    std::vector<std::string> problems; // one a file that could not be put back, naming it
    bool ok() const { return problems.empty(); }
};

// Puts every file of a batch back where it was, with its bytes and times,
// and removes its trash record. A path taken meanwhile is left alone and
// reported. A file whose move was written ahead but not recorded as done
// (the batch was cut short) is looked for where it may have gone.
UndoReport undoBatch(BatchJournal& journal, int64_t batch, const BatchProgress& progress = {});
