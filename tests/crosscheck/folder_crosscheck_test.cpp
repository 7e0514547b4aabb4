// The engines against the reference engines on folders made elsewhere: one's
// own photographs, or a large random folder; both only when asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_name.h"
#include "crosscheck/crosscheck_folder.h"
#include "crosscheck/engine_run.h"
#include "crosscheck/reference_identical.h"
#include "crosscheck/reference_similar.h"
#include "search/line_order.h"
#include "support/test_pictures.h"

namespace {

using namespace crosscheck;
using namespace testing_support;

FileTable tableOf(const std::string& folderPath)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folderPath)) {
        const std::string ext = upperExtension(entry.path().string());
        if (entry.is_regular_file() && (ext == ".JPG" || ext == ".BMP"))
            paths.push_back(entry.path().string());
    }
    sortLines(paths);
    FileTable table;
    for (const std::string& path : paths) {
        File_rec rec;
        rec.path = path;
        rec.size = static_cast<int64_t>(std::filesystem::file_size(path));
        table.push_back(rec);
    }
    return table;
}

// Every mode and level on one table, with both thread counts.
void crosscheckTable(const FileTable& table)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, level);
        std::printf("identical level %d: %s\n", level, gateSummary(ref).c_str());
        for (int32_t jobs : {1, 2})
            expectSameOutcome(runReal(table, CheckMode::Identical, level, jobs, nullptr), refFiles, ref, false,
                              std::string("identical level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
    }
    std::vector<std::vector<int32_t>> runs;
    for (int32_t i = 0; i + 1 < static_cast<int32_t>(table.size()); i += 7) {
        std::vector<int32_t> run;
        for (int32_t j = i; j < std::min<int32_t>(i + 7, static_cast<int32_t>(table.size())); ++j)
            run.push_back(j);
        runs.push_back(run);
    }
    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize}) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareIdenticalRuns(refFiles, mode, kLevelStrict, runs);
        std::printf("per run mode %d: %s\n", static_cast<int>(mode), gateSummary(ref).c_str());
        expectSameOutcome(runReal(table, mode, kLevelStrict, 2, &runs), refFiles, ref, false,
                          std::string("per run mode ") + std::to_string(static_cast<int>(mode)));
    }
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareSimilar(refFiles, level);
        std::printf("similar level %d: %s\n", level, gateSummary(ref).c_str());
        for (int32_t jobs : {1, 2})
            expectSameOutcome(runReal(table, CheckMode::Similar, level, jobs, nullptr), refFiles, ref, true,
                              std::string("similar level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
    }
}

// A folder of one's own photographs: CROSSCHECK_FOLDER=/path build/crosscheck_tests
TEST(EngineCrosscheckTest, GivenFolderMatchesReference)
{
    const char* given = std::getenv("CROSSCHECK_FOLDER");
    if (!given)
        GTEST_SKIP() << "set CROSSCHECK_FOLDER to cross-check a folder of pictures";
    crosscheckTable(tableOf(given));
}

// Many random scenes and variants at random sizes; too slow for every run.
// CROSSCHECK_STRESS=<seed> build/crosscheck_tests
TEST(EngineCrosscheckTest, RandomFolderMatchesReference)
{
    const char* seedText = std::getenv("CROSSCHECK_STRESS");
    if (!seedText)
        GTEST_SKIP() << "set CROSSCHECK_STRESS to a seed to cross-check a large random folder";
    uint32_t state = static_cast<uint32_t>(std::stoul(seedText)) * 2654435761u + 7;
    auto next = [&](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    TempDir dir;
    for (int32_t scene = 0; scene < 30; ++scene) {
        const auto w = static_cast<int32_t>(5 + next(700));
        const auto h = static_cast<int32_t>(5 + next(700));
        const Picture original = next(2) ? warmScene(w, h, next(100000)) : photoLikePicture(w, h, next(100000));
        const std::string stem = dir.file(std::string("r") + std::to_string(scene));
        writeJpeg(stem + "_a.jpg", original, static_cast<int>(30 + next(70)));
        for (int32_t v = 0; v < static_cast<int32_t>(1 + next(5)); ++v) {
            const std::string name = stem + "_v" + std::to_string(v);
            switch (next(7)) {
            case 0:
                writeJpeg(name + ".jpg", original, static_cast<int>(20 + next(80)));
                break;
            case 1:
                writeBmp24(name + ".bmp", shrunk(original, std::max(3, w * 85 / 100), std::max(3, h * 85 / 100)));
                break;
            case 2:
                writeJpeg(name + ".jpg", resized(original, w + static_cast<int32_t>(next(40)), h + static_cast<int32_t>(next(40))));
                break;
            case 3:
                writeJpeg(name + ".jpg", cropped(original, w / 30, h / 25, w / 40, 0));
                break;
            case 4:
                writeJpeg(name + ".jpg", exposed(original, static_cast<int32_t>(60 + next(60)), static_cast<int32_t>(next(80)) - 30));
                break;
            case 5:
                writeJpeg(name + ".jpg", framed(original, static_cast<int32_t>(next(40)), static_cast<int32_t>(next(40)), static_cast<uint8_t>(next(256))));
                break;
            default:
                writeJpeg(name + ".jpg", noisy(original, next(1000), static_cast<int32_t>(1 + next(40))));
                break;
            }
        }
    }
    crosscheckTable(tableOf(dir.str()));
}

} // namespace
