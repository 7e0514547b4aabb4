#include "crosscheck/engine_run.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "compare/identical/identical_engine.h"
#include "compare/similar/similar_engine.h"
#include "search/line_order.h"

namespace crosscheck {

EngineRun runReal(const FileTable& table, CheckMode mode, int32_t level, int32_t jobs,
                  const std::vector<std::vector<int32_t>>* runs)
{
    EngineRun run;
    run.files = table;
    run.counters.fileCount = static_cast<int32_t>(run.files.size());
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {run.files, run.lines, run.unreadable, run.counters, abortFlag, mode, level, jobs, nullptr};
    if (mode == CheckMode::Similar)
        CompareSimilar(ctx);
    else if (runs)
        CompareIdentical(ctx, *runs);
    else
        CompareIdentical(ctx);
    sortLines(run.lines);
    return run;
}

void expectSameOutcome(const EngineRun& real, const FileTable& refFiles, RefOutcome ref, bool spreads,
                       const std::string& what)
{
    SCOPED_TRACE(what);
    sortLines(ref.lines);
    EXPECT_EQ(real.lines.size(), ref.lines.size());
    for (size_t i = 0; i < std::max(real.lines.size(), ref.lines.size()); ++i) {
        const std::string r = i < real.lines.size() ? real.lines[i] : "(none)";
        const std::string e = i < ref.lines.size() ? ref.lines[i] : "(none)";
        EXPECT_EQ(r, e) << "line " << i;
    }
    EXPECT_EQ(real.unreadable, ref.unreadable);
    EXPECT_EQ(real.counters.loadCount, ref.loadCount);
    EXPECT_EQ(real.counters.pairCount, ref.pairCount);
    ASSERT_EQ(real.files.size(), refFiles.size());
    for (size_t i = 0; i < refFiles.size(); ++i) {
        EXPECT_EQ(real.files[i].skip, refFiles[i].skip) << refFiles[i].path;
        if (spreads) {
            EXPECT_EQ(real.files[i].spreadA, refFiles[i].spreadA) << refFiles[i].path;
            EXPECT_EQ(real.files[i].spreadB, refFiles[i].spreadB) << refFiles[i].path;
        }
    }
}

namespace {

// Prints the reference lines when CROSSCHECK_DUMP is set, to tune the folder.
void dumpLines(RefOutcome ref)
{
    if (!std::getenv("CROSSCHECK_DUMP"))
        return;
    sortLines(ref.lines);
    for (const std::string& line : ref.lines)
        std::printf("  %s\n", line.c_str());
}

} // namespace

std::string gateSummary(const RefOutcome& ref)
{
    dumpLines(ref);
    std::ostringstream out;
    out << ref.pairCount << " lines, turned away at gates " << ref.rejectedAt[0] << "/" << ref.rejectedAt[1] << "/"
        << ref.rejectedAt[2] << "/" << ref.rejectedAt[3];
    return out.str();
}

} // namespace crosscheck
