// Applying a plan of 10,000 marked files to the trash, and undoing it:
//
//   cleanup_apply_bench [--files N] [--folder DIR]
//
// Writes N groups of two small files (one kept, one marked) under DIR
// (default: a new folder in /tmp), with the trash and the journal on the
// same file system, then times applyPlan into the trash and undoBatch back.
// Target: the apply takes under 10 s for 10,000 files on one file system.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cleanup/batch_actions.h"
#include "support/test_pictures.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    int files = 10000;
    std::string folder;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0)
            files = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--folder") == 0)
            folder = argv[i + 1];
    }
    const testing_support::TempDir temp;
    const std::string base = folder.empty() ? temp.str() : folder;
    ::setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (base + "/state").c_str(), 1);

    CleanupPlan plan;
    const std::string bytes(20000, 'x');
    for (int g = 0; g < files; ++g) {
        const std::string keep = base + "/lib/" + std::to_string(g % 100) + "/keep" + std::to_string(g) + ".jpg";
        const std::string copy = base + "/lib/" + std::to_string(g % 100) + "/copy" + std::to_string(g) + ".jpg";
        std::filesystem::create_directories(std::filesystem::path(keep).parent_path());
        testing_support::writeBytes(keep, bytes);
        testing_support::writeBytes(copy, bytes);
        plan.groups.push_back(PlanGroup {{{keep, readIdentity(keep).value(), Mark::Keep},
                                          {copy, readIdentity(copy).value(), Mark::Trash}}});
    }
    std::string problem;
    std::unique_ptr<BatchJournal> journal = BatchJournal::open(BatchJournal::defaultPath(), problem);
    if (!journal) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }

    auto start = Clock::now();
    const ApplyReport report = applyPlan(plan, journal.get(), {});
    const double applySeconds = secondsSince(start);
    start = Clock::now();
    const UndoReport undone = undoBatch(*journal, report.batch.value_or(0));
    const double undoSeconds = secondsSince(start);

    std::printf("apply: %zu of %lld files into the trash in %.2f s (%.0f files/s); target < 10 s for 10,000\n",
                report.acted.size(), static_cast<long long>(report.markedFiles), applySeconds,
                static_cast<double>(report.acted.size()) / applySeconds);
    std::printf("undo:  %lld files back in %.2f s; %zu not put back\n", static_cast<long long>(undone.restored),
                undoSeconds, undone.problems.size());
    return report.complete() && undone.ok() ? 0 : 1;
}
