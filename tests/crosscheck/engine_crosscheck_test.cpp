// The optimised engines against the plain, single-threaded reference engines
// of tests/crosscheck (reference_identical, reference_similar), on a folder
// of varied pictures: copies, re-saves, resizes, crops, exposure changes,
// flat, damaged and tiny files.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "common/file_name.h"
#include "compare/identical/identical_engine.h"
#include "compare/similar/similar_engine.h"
#include "crosscheck/crosscheck_folder.h"
#include "crosscheck/engine_run.h"
#include "crosscheck/reference_identical.h"
#include "crosscheck/reference_similar.h"
#include "search/engine_context.h"
#include "search/line_order.h"

namespace {

using namespace crosscheck;

TEST(EngineCrosscheckTest, IdenticalWholeTableMatchesReference)
{
    int32_t totalGateMisses = 0;
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = folder().table();
        const RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, level);
        totalGateMisses += ref.rejectedAt[3];
        std::printf("identical level %d: %s\n", level, gateSummary(ref).c_str());
        // Matches and near misses at the later gates must both occur, or the
        // comparison proves little.
        EXPECT_GE(ref.pairCount, 20);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2, 5}) {
            if (jobs == 5 && level != kLevelStrict)
                continue;
            const EngineRun real = runReal(folder().table(), CheckMode::Identical, level, jobs, nullptr);
            expectSameOutcome(real, refFiles, ref, false,
                              std::string("identical level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
        }
    }
    // The harsh variants pass every profile limit but not the total at some level.
    EXPECT_GE(totalGateMisses, 1);
}

TEST(EngineCrosscheckTest, IdenticalTurnedMatchesReference)
{
    // The varied folder searched for turned copies too: flat pictures match
    // themselves in every orientation, scenes only upright, the strips and
    // the tall and wide scenes are met with their sides swapped.
    FileTable refFiles = folder().table();
    RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, kLevelLoose, true);
    EXPECT_GE(ref.turnedPairs.size(), 1u);
    EngineRun real;
    real.files = folder().table();
    std::atomic<bool> abortFlag {false};
    PairOrientations orientations;
    EngineContext ctx {real.files, real.lines, real.unreadable, real.counters, abortFlag, CheckMode::Identical,
                       kLevelLoose, 2, nullptr};
    ctx.turned = true;
    ctx.orientations = &orientations;
    CompareIdentical(ctx);
    sortLines(real.lines);
    expectSameOutcome(real, refFiles, ref, false, "identical turned, level loose");
    EXPECT_EQ(orientations.size(), ref.turnedPairs.size());
    for (const RefOutcome::TurnedPair& pair : ref.turnedPairs)
        EXPECT_EQ(orientations.of(pair.a, pair.b), pair.orientation) << pair.a << "," << pair.b;
}

TEST(EngineCrosscheckTest, IdenticalPerRunMatchesReference)
{
    // Runs as the run loop could form them: ascending members, 2 or more each;
    // the scene groups, a group of flat pictures, a group with damaged files,
    // and files left out of every run.
    const FileTable& table = folder().table();
    std::vector<std::vector<int32_t>> runs;
    auto groupOf = [&](const std::string& prefix) {
        std::vector<int32_t> members;
        for (int32_t i = 0; i < static_cast<int32_t>(table.size()); ++i)
            if (std::string(fileNameOf(table[i].path)).rfind(prefix, 0) == 0)
                members.push_back(i);
        return members;
    };
    for (const char* prefix : {"s1_", "s0_", "flat_", "bad_", "s3_", "tiny_", "s5_"})
        runs.push_back(groupOf(prefix));
    std::vector<int32_t> mixed;
    for (int32_t i : groupOf("s2_"))
        mixed.push_back(i);
    for (int32_t i : groupOf("s4_"))
        if (i % 2 == 0)
            mixed.push_back(i);
    std::sort(mixed.begin(), mixed.end());
    runs.push_back(mixed);

    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize}) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareIdenticalRuns(refFiles, mode, kLevelLoose, runs);
        std::printf("identical per run, mode %d: %s\n", static_cast<int>(mode), gateSummary(ref).c_str());
        EXPECT_GE(ref.pairCount, 8);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2, 5}) {
            const EngineRun real = runReal(folder().table(), mode, kLevelLoose, jobs, &runs);
            expectSameOutcome(real, refFiles, ref, false,
                              std::string("per run mode ") + std::to_string(static_cast<int>(mode)) + " jobs " + std::to_string(jobs));
        }
    }
}

TEST(EngineCrosscheckTest, SimilarMatchesReference)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = folder().table();
        const RefOutcome ref = refCompareSimilar(refFiles, level);
        std::printf("similar level %d: %s\n", level, gateSummary(ref).c_str());
        EXPECT_GE(ref.pairCount, 20);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2, 5}) {
            if (jobs == 5 && level != kLevelStrict)
                continue;
            const EngineRun real = runReal(folder().table(), CheckMode::Similar, level, jobs, nullptr);
            expectSameOutcome(real, refFiles, ref, true,
                              std::string("similar level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
        }
    }
}

// Above 1000 files the stricter bounds apply. The table names the same
// files many times over, which also gives many exact copies.
TEST(EngineCrosscheckTest, SimilarAboveThousandFilesMatchesReference)
{
    FileTable big;
    const FileTable& table = folder().table();
    while (big.size() < 1001) {
        for (const File_rec& rec : table) {
            const std::string name(fileNameOf(rec.path));
            if (big.size() < 1001 && name.rfind("s6_", 0) != 0 && name.rfind("strip_", 0) != 0)
                big.push_back(rec);
        }
    }
    FileTable refFiles = big;
    const RefOutcome ref = refCompareSimilar(refFiles, kLevelMiddle);
    std::printf("similar, 1001 files: %s\n", gateSummary(ref).c_str());
    EXPECT_GE(ref.rejectedAt[3], 5);

    EngineRun real;
    real.files = big;
    real.counters.fileCount = static_cast<int32_t>(big.size());
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {real.files, real.lines, real.unreadable, real.counters, abortFlag, CheckMode::Similar,
                       kLevelMiddle, 2, nullptr};
    CompareSimilar(ctx);
    sortLines(real.lines);
    expectSameOutcome(real, refFiles, ref, true, "similar 1001 files");
}

// Tables with no pair to decide: empty, a single picture, only unreadable
// files, and one picture among unreadable ones.
TEST(EngineCrosscheckTest, DegenerateTablesMatchReference)
{
    const FileTable& all = folder().table();
    auto pick = [&](std::initializer_list<const char*> names) {
        FileTable table;
        for (const char* name : names)
            for (const File_rec& rec : all)
                if (fileNameOf(rec.path) == name)
                    table.push_back(rec);
        EXPECT_EQ(table.size(), names.size());
        return table;
    };
    const FileTable tables[] = {
        FileTable {},
        pick({"s0_orig.jpg"}),
        pick({"bad_empty.jpg", "bad_jpeg_inside.BMP", "tiny_2x2.BMP"}),
        pick({"bad_garbage.jpg", "s1_orig.jpg", "tiny_4x4.jpg"}),
    };
    const std::vector<std::vector<int32_t>> noRuns;
    for (const FileTable& table : tables) {
        const std::string what = std::to_string(table.size()) + " files";
        for (int32_t jobs : {1, 2}) {
            FileTable identicalFiles = table;
            const RefOutcome identical = refCompareIdentical(identicalFiles, CheckMode::Identical, kLevelLoose);
            expectSameOutcome(runReal(table, CheckMode::Identical, kLevelLoose, jobs, nullptr), identicalFiles,
                              identical, false, std::string("identical, ") + what);
            FileTable runFiles = table;
            const RefOutcome none = refCompareIdenticalRuns(runFiles, CheckMode::FileSize, kLevelStrict, noRuns);
            expectSameOutcome(runReal(table, CheckMode::FileSize, kLevelStrict, jobs, &noRuns), runFiles, none, false,
                              std::string("no runs, ") + what);
            FileTable similarFiles = table;
            const RefOutcome similar = refCompareSimilar(similarFiles, kLevelLoose);
            expectSameOutcome(runReal(table, CheckMode::Similar, kLevelLoose, jobs, nullptr), similarFiles, similar,
                              true, std::string("similar, ") + what);
        }
    }
}

} // namespace
