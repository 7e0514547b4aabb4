#include "driver/search_job.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "cache/signature_store.h"
#include "common/parallel_for.h"
#include "common/worker_pool.h"
#include "compare/identical/identical_engine.h"
#include "compare/similar/similar_engine.h"
#include "driver/marked_pairs.h"
#include "search/folder_scan.h"
#include "search/line_order.h"
#include "search/run_list.h"

SearchOutcome runSearch(const SearchOptions& options, const std::atomic<bool>& abortFlag,
                        const ProgressCallback& progress)
{
    const auto start = std::chrono::steady_clock::now();
    SearchOutcome outcome;
    outcome.options = options;
    ProgressThrottle throttle(progress);
    const int32_t jobs = resolveJobs(options.jobs);

    // A fault of the cache sets it aside with one warning and the search goes
    // on reading and decoding everything.
    std::optional<SignatureCache> cache;
    const auto openCache = [&] {
        if (options.cacheFile.empty())
            return;
        auto warn = [&outcome](const std::string& message) { outcome.cacheWarning = message; };
        if (std::unique_ptr<SignatureStore> store = SignatureStore::open(options.cacheFile, warn, true)) {
            cache.emplace(std::move(store));
            throttle.countFromCache(&cache->hitCounter());
        }
    };

    ScanSettings scan;
    scan.mode = options.mode;
    scan.subDirDepth = options.depth;
    scan.formats = options.formats;
    scan.abortFlag = &abortFlag;
    scan.progress = &throttle;
    scan.jobs = jobs;
    // One set of threads for the whole search (scan, file table, loading,
    // pairs); one job runs everything on this thread.
    const auto pool = jobs > 1 ? std::make_unique<WorkerPool>(jobs) : nullptr;
    scan.pool = pool.get();
    scan.excludes = options.excludes;
    // A search folder that cannot be read would look like one without
    // pictures: that is a failure, not a clean search.
    const std::vector<std::string> folders = searchFoldersOf(options);
    for (const std::string& folder : folders)
        if (!canReadSearchFolder(folder))
            throw SearchError("フォルダ " + folder + " は開けません");
    // The picture-size scan reads every header: those it read before come
    // from the cache. Other searches open it once there are files.
    if (options.mode == CheckMode::PictureSize) {
        openCache();
        if (cache)
            scan.pictureSize = [&cache](const std::string& path, const struct stat& st) { return cache->pictureSize(path, st); };
    }
    outcome.scanLines = buildScanList(folders, scan);
    if (cache)
        cache->loadingEnded(); // no header sizes are looked up after the scan
    outcome.counters.fileCount = static_cast<int32_t>(outcome.scanLines.size());
    throttle.report(SearchProgress::Phase::Scan, outcome.counters.fileCount, 0, true);
    if (outcome.counters.fileCount < 1) {
        outcome.noFiles = true;
        outcome.aborted = abortFlag.load();
        return outcome;
    }
    outcome.files = BuildFileTable(outcome.scanLines, options.mode, jobs, pool.get());

    if (options.mode != CheckMode::PictureSize)
        openCache();

    // The signature tables are sized by the engines that fill them.
    EngineContext ctx {outcome.files, outcome.resultLines, outcome.unreadable, outcome.counters, abortFlag};
    ctx.mode = options.mode;
    ctx.level = options.level;
    ctx.jobs = jobs;
    ctx.progress = &throttle;
    ctx.pool = pool.get();
    ctx.cache = cache ? &*cache : nullptr;
    // Turned copies are a matter of pictures: the size modes compare as ever.
    ctx.turned = options.turned && (options.mode == CheckMode::Identical || options.mode == CheckMode::Similar);
    ctx.orientations = &outcome.orientations;
    switch (options.mode) {
    case CheckMode::Similar:
        CompareSimilar(ctx);
        break;
    case CheckMode::Identical:
        CompareIdentical(ctx);
        break;
    case CheckMode::FileSize:
    case CheckMode::PictureSize: {
        const std::vector<RunMembers> runs = formRuns(outcome.files, options.mode, &abortFlag);
        if (!runs.empty())
            CompareIdentical(ctx, runs);
        break;
    }
    }
    if (cache) {
        cache->flush();
        outcome.cache = CacheCounts {outcome.counters.cacheHits, outcome.counters.cacheMisses};
        cache.reset(); // closed while `outcome` still takes its warning
    }
    // Marks live in the cache's database: without a usable cache there are
    // none to read (--no-cache means no database at all).
    if (outcome.cache && outcome.cacheWarning.empty()) {
        MarkedPairs marked = applyNotSameMarks(options.cacheFile, outcome.files, outcome.resultLines, options.showMarked);
        outcome.notSame = marked.count;
        outcome.marksWarning = std::move(marked.warning);
        outcome.counters.pairCount -= marked.dropped;
    }
    sortLines(outcome.resultLines);
    outcome.pairList = buildPairList(outcome.resultLines);
    outcome.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    outcome.aborted = abortFlag.load();
    return outcome;
}

std::string searchStatusText(const SearchOutcome& outcome)
{
    if (outcome.noFiles)
        return "画像ファイルなし";
    return outcome.counters.pairCount > 0 ? "検索終了" : "重複ファイルなし";
}

std::string searchSummaryLine(const SearchOutcome& outcome)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%4.1f", static_cast<double>(outcome.elapsedMs) / 1000.0);
    return std::string(seconds) + " ファイル：" + std::to_string(outcome.counters.fileCount) + " 読込："
           + std::to_string(outcome.counters.loadCount) + " 選択："
           + std::to_string(outcome.counters.pairCount);
}
