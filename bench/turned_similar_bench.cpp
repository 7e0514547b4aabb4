// Times the similar engine's two phases with and without turned copies over
// a folder of JPEGs (default: the generated collection of
// bench/photo_collection.sh), in one process on the same pictures:
//
//   turned_similar_bench [FOLDER [COUNT]] [--jobs N] [--level 0|1|2] [--pairs]
//
// 1. The load phase (decoding and reduction, no signature cache) plain, then
//    with the seven turned signatures.
// 2. The pair phase: the plain pass, then the passes over the seven
//    orientations on top of it; the lines and the turned pairs found.
// Each with its wall time and the processor time over all threads, which
// the load of a shared machine moves far less. Target: each phase with
// turned copies at most 3 x plain. --pairs loads once (with the turned
// signatures) and times the pair phase alone.

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "common/parallel_for.h"
#include "compare/load_pipeline.h"
#include "compare/similar/packed_similar_signature.h"
#include "compare/similar/similar_pair_pass.h"
#include "compare/similar/similar_turned_pairs.h"
#include "search/engine_context.h"
#include "search/line_order.h"

namespace {

double processorSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
         + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 0;
    double processor = 0;
};

Timing timed(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    const double processorStart = processorSeconds();
    work();
    return Timing {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                   processorSeconds() - processorStart};
}

void printRow(const char* what, const Timing& plain, const Timing& turned)
{
    std::printf("  %-6s plain %7.2f s (processor %7.2f s), turned %7.2f s (processor %7.2f s): %.2f x (processor %.2f x)\n",
                what, plain.wall, plain.processor, turned.wall, turned.processor, turned.wall / plain.wall,
                turned.processor / plain.processor);
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder = "/work/photos100k-v2";
    std::size_t count = 100000;
    int32_t jobs = 2;
    int32_t level = 1;
    bool pairsOnly = false;
    int32_t positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--jobs" && i + 1 < argc)
            jobs = std::atoi(argv[++i]);
        else if (arg == "--level" && i + 1 < argc)
            level = std::atoi(argv[++i]);
        else if (arg == "--pairs")
            pairsOnly = true;
        else if (positional++ == 0)
            folder = arg;
        else
            count = static_cast<std::size_t>(std::atoll(arg.c_str()));
    }

    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".jpg" || extension == ".JPG")
            paths.push_back(entry.path().string());
    }
    sortLines(paths);
    paths.resize(std::min(paths.size(), count));
    FileTable files;
    for (const std::string& path : paths) {
        File_rec file;
        file.path = path;
        files.push_back(file);
    }
    const std::size_t n = files.size();
    constexpr auto kTurned = static_cast<std::size_t>(kOrientationCount - 1);
    std::vector<int32_t> members(n);
    std::iota(members.begin(), members.end(), 0);

    std::vector<SimilarSignature> signatures(n);
    std::vector<PackedSimilarSignature> turned(n * kTurned);
    std::vector<std::string> unreadable;
    SearchCounters counters;
    const std::atomic<bool> abortFlag {false};
    std::vector<std::string> lines;
    const auto load = [&](bool withTurned) {
        unreadable.clear();
        EngineContext ctx {files, lines, unreadable, counters, abortFlag};
        ctx.mode = CheckMode::Similar;
        ctx.jobs = jobs;
        ctx.turned = withTurned;
        LoadCommit commit;
        commit.reduced = [&](std::size_t, int32_t file, const PictureOutcome& outcome) {
            const auto f = static_cast<std::size_t>(file);
            signatures[f] = outcome.similar;
            files[f].spreadA = outcome.similar.spreadA;
            files[f].spreadB = outcome.similar.spreadB;
            for (std::size_t k = 0; k < outcome.turnedSimilar.size(); ++k)
                packSimilarSignature(outcome.turnedSimilar[k], turned[f * kTurned + k]);
        };
        LoadPipeline(ctx, PrimaryEngine::Similar).run(members, commit);
    };

    std::printf("turned_similar_bench: %zu pictures, level %d, %d job(s)\n", n, level, jobs);
    std::fflush(stdout);
    if (pairsOnly) {
        load(true);
    } else {
        const Timing loadPlain = timed([&] { load(false); });
        const Timing loadTurned = timed([&] { load(true); });
        printRow("load", loadPlain, loadTurned);
    }
    std::fflush(stdout);

    const SimilarPairPassInput input {files, signatures, level, jobs, abortFlag};
    std::vector<std::string> plainLines;
    int64_t counted = 0;
    const Timing pairsPlain = timed([&] { plainLines = runSimilarPairPass(input, &counted); });
    std::vector<std::string> turnedLines;
    PairOrientations orientations;
    const Timing pairsTurned = timed([&] {
        turnedLines = runSimilarPairPass(input, &counted);
        addTurnedSimilarPairs(input, turned, counted, turnedLines, &orientations);
    });
    printRow("pairs", pairsPlain, pairsTurned);
    std::printf("  %zu lines plain; %zu with turned copies, %zu of them turned\n", plainLines.size(),
                turnedLines.size(), orientations.size());
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak %ld MB (turned signatures kept: %zu MB)\n", usage.ru_maxrss / 1024,
                turned.size() * sizeof(PackedSimilarSignature) >> 20);
    return 0;
}
