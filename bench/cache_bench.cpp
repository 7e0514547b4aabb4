// Cold and warm searches with the signature cache, side by side:
//
//   cache_bench [--folder DIR] [--rounds N] [--jobs N]
//
// For the identical and the similar picture modes, on all cores (or N):
// 1. a search without the cache (--no-cache);
// 2. a cold search: a new, empty cache file, which the search fills;
// 3. warm searches: every signature comes from that cache.
// Rounds alternate 1 and 2 so that both meet the same page cache and load;
// the best of N rounds is shown, wall-clock and process CPU time. Also the
// cache's size per picture, and whether every search left the same results.
//
// The folder defaults to /work/photos when it exists, else the Debian
// wallpapers in /usr/share/backgrounds (install e.g. ubuntu-wallpapers or
// desktop-base to get more). Targets: warm at least 20 x faster than cold; a
// cold search with the cache at most 1.05 x one without. Timings on a shared
// machine are noisy: the CPU times say more than the wall-clock ones then.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cache/signature_store.h"
#include "driver/search_job.h"
#include "support/test_pictures.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
    double wall = 1e300;
    double cpu = 1e300;
};

double processCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Run {
    Timing timing;
    SearchOutcome outcome;
};

Run timedSearch(const SearchOptions& options)
{
    std::atomic<bool> abortFlag {false};
    const auto start = Clock::now();
    const double cpuStart = processCpuSeconds();
    Run run;
    run.outcome = runSearch(options, abortFlag);
    run.timing.cpu = processCpuSeconds() - cpuStart;
    run.timing.wall = std::chrono::duration<double>(Clock::now() - start).count();
    return run;
}

void keepBest(Timing& best, const Timing& timing)
{
    best.wall = std::min(best.wall, timing.wall);
    best.cpu = std::min(best.cpu, timing.cpu);
}

// Everything the search prints apart from the time and the cache's counts.
bool sameResults(const SearchOutcome& a, const SearchOutcome& b)
{
    if (a.files.size() != b.files.size())
        return false;
    for (std::size_t i = 0; i < a.files.size(); ++i) {
        const File_rec& x = a.files[i];
        const File_rec& y = b.files[i];
        if (x.path != y.path || x.stamp != y.stamp || x.size != y.size || x.width != y.width || x.height != y.height
            || x.spreadA != y.spreadA || x.spreadB != y.spreadB || x.skip != y.skip)
            return false;
    }
    return a.scanLines == b.scanLines && a.resultLines == b.resultLines && a.unreadable == b.unreadable
           && a.counters.fileCount == b.counters.fileCount && a.counters.loadCount == b.counters.loadCount
           && a.counters.pairCount == b.counters.pairCount;
}

void printTiming(const char* what, const Timing& timing)
{
    std::printf("  %-22s wall %8.3f s   cpu %8.3f s\n", what, timing.wall, timing.cpu);
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder = std::filesystem::is_directory("/work/photos") ? "/work/photos" : "/usr/share/backgrounds";
    int rounds = 3;
    int jobs = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc)
            folder = argv[++i];
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc)
            jobs = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: cache_bench [--folder DIR] [--rounds N] [--jobs N]\n");
            return 2;
        }
    }
    folder = std::filesystem::absolute(folder).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const testing_support::TempDir work;
    const std::string cacheFile = work.file("signatures.sqlite");
    double loadAverage[3] = {};
    getloadavg(loadAverage, 3);
    std::printf("folder %s, %d rounds, %s, load average at start %.2f %.2f %.2f\n", folder.c_str(), rounds,
                jobs == 0 ? "all cores" : (std::to_string(jobs) + " jobs").c_str(), loadAverage[0], loadAverage[1],
                loadAverage[2]);

    bool allSame = true;
    for (const CheckMode mode : {CheckMode::Identical, CheckMode::Similar}) {
        SearchOptions options;
        options.folder = folder;
        options.mode = mode;
        options.depth = 3;
        options.jobs = jobs;
        Timing none, cold, warm;
        SearchOutcome reference;
        for (int round = 0; round < rounds; ++round) {
            options.cacheFile.clear();
            Run plain = timedSearch(options);
            keepBest(none, plain.timing);
            if (round == 0)
                reference = std::move(plain.outcome);
            for (const char* suffix : {"", "-wal", "-shm"})
                std::filesystem::remove(cacheFile + suffix);
            options.cacheFile = cacheFile;
            const Run filled = timedSearch(options);
            keepBest(cold, filled.timing);
            allSame = allSame && sameResults(reference, filled.outcome) && filled.outcome.cacheWarning.empty();
        }
        int64_t hits = 0;
        for (int round = 0; round < rounds; ++round) {
            const Run again = timedSearch(options);
            keepBest(warm, again.timing);
            hits = again.outcome.cache ? again.outcome.cache->hits : 0;
            allSame = allSame && sameResults(reference, again.outcome);
        }
        std::printf("%s mode: %d files, %d loaded, %d pairs; warm hits %lld\n",
                    mode == CheckMode::Identical ? "identical" : "similar", reference.counters.fileCount,
                    reference.counters.loadCount, reference.counters.pairCount, static_cast<long long>(hits));
        printTiming("no cache", none);
        printTiming("cold (empty cache)", cold);
        printTiming("warm", warm);
        std::printf("  cold / no cache       wall %.3f x   cpu %.3f x   (target <= 1.05)\n", cold.wall / none.wall,
                    cold.cpu / none.cpu);
        std::printf("  cold / warm           wall %.1f x   (target >= 20)\n", cold.wall / warm.wall);
    }

    const auto store = SignatureStore::open(cacheFile, [](const std::string& message) {
        std::printf("cache warning: %s\n", message.c_str());
    });
    if (store) {
        if (const auto stats = store->stats(); stats && stats->records > 0)
            std::printf("cache: %lld records, %lld bytes, %lld bytes a picture\n", static_cast<long long>(stats->records),
                        static_cast<long long>(stats->fileBytes), static_cast<long long>(stats->fileBytes / stats->records));
    }
    std::printf("results the same with and without the cache: %s\n", allSame ? "yes" : "NO");
    getloadavg(loadAverage, 3);
    std::printf("load average at end %.2f %.2f %.2f\n", loadAverage[0], loadAverage[1], loadAverage[2]);
    return allSame ? 0 : 1;
}
