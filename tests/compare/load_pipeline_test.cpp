#include "compare/load_pipeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "common/worker_pool.h"
#include "compare/identical/identical_engine.h"
#include "compare/similar/similar_engine.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// Keeps what the pipeline hands it; can hand it back, and can raise the
// abort flag from the committing side after a given number of stores.
class RecordingCache : public OutcomeCache {
public:
    bool lookup(const File_rec& file, Reductions, Reductions, PictureOutcome& outcome) override
    {
        std::lock_guard lock(m_mutex);
        ++lookups;
        const auto held = outcomes.find(file.path);
        if (!supply || held == outcomes.end())
            return false;
        outcome = held->second;
        ++hits;
        return true;
    }

    void store(const File_rec& file, const PictureOutcome& outcome) override
    {
        std::lock_guard lock(m_mutex);
        outcomes[file.path] = outcome;
        stored.push_back(file.path);
        if (abortFlag != nullptr && static_cast<int32_t>(stored.size()) == abortAfterStores)
            abortFlag->store(true);
    }

    std::map<std::string, PictureOutcome> outcomes;
    std::vector<std::string> stored;
    bool supply = false;
    int32_t abortAfterStores = -1;
    std::atomic<bool>* abortFlag = nullptr;
    int32_t lookups = 0;
    int32_t hits = 0;

private:
    std::mutex m_mutex;
};

enum class Engine { Identical, IdenticalRuns, Similar };

// What an engine call left behind, for comparing calls.
struct Outcome {
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    int32_t loadCount = 0;
    std::vector<int32_t> skips;
    std::vector<int32_t> spreads;
    std::vector<std::string> stored;
    int32_t cacheHits = 0;
    int32_t cacheMisses = 0;

    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << "lines " << o.lines.size() << ", unreadable " << o.unreadable.size() << ", loaded " << o.loadCount
        << ", stored " << o.stored.size() << ", skips";
    for (int32_t s : o.skips)
        *os << ' ' << s;
    *os << ", spreads";
    for (int32_t s : o.spreads)
        *os << ' ' << s;
    *os << ", cache " << o.cacheHits << " hits " << o.cacheMisses << " misses";
}

const std::vector<std::vector<int32_t>> kRuns = {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}};

Outcome runEngine(Engine engine, const std::vector<std::string>& paths, int32_t jobs, RecordingCache* cache,
                  WorkerPool* pool = nullptr)
{
    FileTable files;
    for (const std::string& path : paths) {
        File_rec file;
        file.path = path;
        files.push_back(file);
    }
    Outcome out;
    SearchCounters counters;
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {files, out.lines, out.unreadable, counters, abortFlag};
    ctx.mode = engine == Engine::Similar ? CheckMode::Similar
                                         : (engine == Engine::Identical ? CheckMode::Identical : CheckMode::FileSize);
    ctx.jobs = jobs;
    ctx.pool = pool;
    ctx.cache = cache;
    if (cache != nullptr) {
        cache->abortFlag = &abortFlag;
        cache->stored.clear();
    }
    switch (engine) {
    case Engine::Identical:
        CompareIdentical(ctx);
        break;
    case Engine::IdenticalRuns:
        CompareIdentical(ctx, kRuns);
        break;
    case Engine::Similar:
        CompareSimilar(ctx);
        break;
    }
    std::sort(out.lines.begin(), out.lines.end());
    out.loadCount = counters.loadCount;
    out.cacheHits = counters.cacheHits;
    out.cacheMisses = counters.cacheMisses;
    for (const File_rec& file : files) {
        out.skips.push_back(file.skip);
        out.spreads.push_back(file.spreadA);
        out.spreads.push_back(file.spreadB);
    }
    if (cache != nullptr)
        out.stored = cache->stored;
    return out;
}

// Twelve files: p00-p11, p01 a copy of p00 and p10 of p08; 05 and 09 are
// damaged, 07 is a 4 x 4 bitmap (too small for the identical sampling only).
std::vector<std::string> writeFolder(const TempDir& dir)
{
    std::vector<std::string> paths;
    for (int32_t i = 0; i < 12; ++i) {
        const std::string stem = dir.file((i < 10 ? "p0" : "p") + std::to_string(i));
        if (i == 5 || i == 9) {
            testing_support::writeBytes(stem + ".jpg", "damaged");
            paths.push_back(stem + ".jpg");
        } else if (i == 7) {
            testing_support::writeBmp24(stem + ".bmp", testing_support::solidPicture(4, 4, 200, 90, 40));
            paths.push_back(stem + ".bmp");
        } else {
            const uint32_t seed = i == 1 ? 0u : (i == 10 ? 8u : static_cast<uint32_t>(i));
            testing_support::writeJpeg(stem + ".jpg", testing_support::photoLikePicture(160, 120, seed), 90);
            paths.push_back(stem + ".jpg");
        }
    }
    return paths;
}

// What the reader gives for a file that holds no picture.
StreamResult noPicture()
{
    StreamResult failed;
    failed.status = StreamStatus::Failed;
    failed.failure = LoadFailure::Damaged;
    failed.error = "no picture";
    return failed;
}

// Every position of the table, in order.
std::vector<int32_t> allMembers(const FileTable& files)
{
    std::vector<int32_t> members(files.size());
    for (std::size_t i = 0; i < members.size(); ++i)
        members[i] = static_cast<int32_t>(i);
    return members;
}

// Files "f0", "f1", ... of the given sizes.
FileTable numberedFiles(std::size_t count, const std::function<int64_t(std::size_t)>& sizeOf)
{
    FileTable files(count);
    for (std::size_t i = 0; i < count; ++i) {
        files[i].path = "f" + std::to_string(i);
        files[i].size = sizeOf(i);
    }
    return files;
}

struct PipelineRun {
    bool complete = false;
    std::vector<std::size_t> committed; // positions, in the order they were committed
    std::vector<std::string> unreadable;
};

// One identical-mode load of every file through the pipeline itself, on
// `jobs` workers; `committing` sees each position as it is committed.
PipelineRun runPipeline(FileTable& files, const PictureReader& reader, int32_t jobs,
                        const std::function<void(std::size_t)>& committing = {})
{
    PipelineRun run;
    std::vector<std::string> lines;
    SearchCounters counters;
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {files, lines, run.unreadable, counters, abortFlag};
    ctx.mode = CheckMode::Identical;
    WorkerPool pool(jobs);
    ctx.pool = &pool;
    LoadPipeline pipeline(ctx, PrimaryEngine::Identical, reader);
    LoadCommit commit;
    commit.committed = [&](std::size_t position) {
        if (committing)
            committing(position);
        run.committed.push_back(position);
        return true;
    };
    run.complete = pipeline.run(allMembers(files), commit);
    return run;
}

const char* nameOf(Engine engine)
{
    return engine == Engine::Similar ? "similar" : (engine == Engine::Identical ? "identical" : "runs");
}

} // namespace

// The abort is raised while the fifth outcome (p04) is committed: the
// damaged p05 after it is still listed, p06 is counted and ends the phase
// unreduced, and nothing after p06 is touched, whatever the thread count.
TEST(LoadPipelineTest, AbortSeenAtTheCommitGivesOnePrefixForEveryJobCount)
{
    TempDir dir;
    const std::vector<std::string> paths = writeFolder(dir);
    for (Engine engine : {Engine::Identical, Engine::IdenticalRuns, Engine::Similar}) {
        SCOPED_TRACE(nameOf(engine));
        RecordingCache cache;
        cache.abortAfterStores = 5;
        const Outcome one = runEngine(engine, paths, 1, &cache);
        EXPECT_EQ(one.unreadable, (std::vector<std::string> {paths[5]}));
        EXPECT_EQ(one.loadCount, 6); // p00-p04 and p06
        EXPECT_EQ(one.skips, (std::vector<int32_t> {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(one.stored, (std::vector<std::string>(paths.begin(), paths.begin() + 6)));
        if (engine == Engine::Similar) {
            for (std::size_t i = 0; i < paths.size(); ++i)
                EXPECT_EQ(one.spreads[2 * i] != 0, i < 5 && i != 5) << i;
        }
        // The copies p00 and p01 form the first run, decided before the abort.
        if (engine == Engine::IdenticalRuns) {
            ASSERT_EQ(one.lines.size(), 1u);
            EXPECT_TRUE(one.lines[0].starts_with("0000, 000000, 000001")) << one.lines[0];
        } else {
            EXPECT_TRUE(one.lines.empty());
        }
        for (int32_t jobs : {2, 3}) {
            RecordingCache again;
            again.abortAfterStores = 5;
            EXPECT_EQ(runEngine(engine, paths, jobs, &again), one) << "jobs " << jobs;
        }
    }
}

TEST(LoadPipelineTest, ADecodeForOneEngineFillsBothAndTheCacheThenSparesEveryDecode)
{
    TempDir dir;
    const std::vector<std::string> paths = writeFolder(dir);
    WorkerPool pool(3);
    const Outcome identical = runEngine(Engine::Identical, paths, 3, nullptr, &pool);
    const Outcome similar = runEngine(Engine::Similar, paths, 3, nullptr, &pool);
    EXPECT_EQ(identical.loadCount, 9); // the tiny bitmap is unreadable to this engine
    EXPECT_EQ(similar.loadCount, 10);
    EXPECT_FALSE(identical.lines.empty());

    // One identical search fills the cache with both engines' signatures.
    RecordingCache cache;
    Outcome filled = runEngine(Engine::Identical, paths, 2, &cache, &pool);
    EXPECT_EQ(filled.stored, paths);
    EXPECT_EQ(filled.cacheMisses, 12);
    EXPECT_EQ(filled.cacheHits, 0);
    filled.stored.clear();
    filled.cacheMisses = 0;
    EXPECT_EQ(filled, identical);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const PictureOutcome& held = cache.outcomes.at(paths[i]);
        const bool damaged = i == 5 || i == 9;
        EXPECT_EQ(held.status == PictureOutcome::Status::Failed, damaged) << i;
        EXPECT_EQ(held.hasSimilar, !damaged) << i;
        EXPECT_EQ(held.hasIdentical, !damaged && i != 7) << i;
    }

    // With the pictures gone, every outcome comes from the cache and the
    // results are those of decoding.
    for (const std::string& path : paths)
        std::filesystem::remove(path);
    cache.supply = true;
    for (int32_t jobs : {1, 3}) {
        Outcome fromCache = runEngine(Engine::Similar, paths, jobs, &cache, jobs > 1 ? &pool : nullptr);
        EXPECT_TRUE(fromCache.stored.empty());
        EXPECT_EQ(fromCache.cacheHits, 12);
        EXPECT_EQ(fromCache.cacheMisses, 0);
        fromCache.cacheHits = 0;
        EXPECT_EQ(fromCache, similar) << "jobs " << jobs;
        fromCache = runEngine(Engine::Identical, paths, jobs, &cache);
        fromCache.cacheHits = 0;
        EXPECT_EQ(fromCache, identical) << "jobs " << jobs;
    }
    EXPECT_EQ(cache.hits, 4 * 12);
}

// Workers take the largest file within their lookahead first, so that a big
// picture late in the table is not decoded alone at the end; outcomes are
// still committed in table order.
TEST(LoadPipelineTest, TheLargestFileAheadIsReadFirstAndTheCommitKeepsTableOrder)
{
    FileTable files = numberedFiles(24, [](std::size_t i) -> int64_t {
        return i == 20 ? 5'000'000 : (i == 9 ? 4'000'000 : 1000);
    });
    std::mutex mutex;
    std::condition_variable bothStarted;
    std::vector<std::string> started;
    // The first two reads wait for each other: a worker that has taken its
    // file may be put to sleep before it starts reading, and the other must
    // not meanwhile finish its file and start a third.
    const PictureReader reader = [&](PictureStreamer&, const std::string& path, RowSink&, const StreamOptions&) {
        std::unique_lock lock(mutex);
        started.push_back(path);
        if (started.size() <= 2) {
            bothStarted.notify_all();
            bothStarted.wait_for(lock, std::chrono::seconds(20), [&] { return started.size() >= 2; });
        }
        return noPicture();
    };
    const PipelineRun run = runPipeline(files, reader, 2);
    ASSERT_TRUE(run.complete);

    ASSERT_EQ(started.size(), files.size());
    // The two workers take f20 and f9 first, in either order.
    std::sort(started.begin(), started.begin() + 2);
    EXPECT_EQ(started[0], "f20");
    EXPECT_EQ(started[1], "f9");
    std::vector<std::string> inTableOrder;
    for (const File_rec& file : files)
        inTableOrder.push_back(file.path);
    EXPECT_EQ(run.unreadable, inTableOrder);
    for (std::size_t i = 0; i < run.committed.size(); ++i)
        EXPECT_EQ(run.committed[i], i);
}

// Outcomes that come faster than the commit takes them wake it a run at a
// time; a slow file ahead, a slow commit that fills the window, and a count
// that is no multiple of the run must all still end with every file
// committed once, in table order.
TEST(LoadPipelineTest, FastOutcomesAreCommittedInRunsWhateverHoldsThemUp)
{
    FileTable files = numberedFiles(203, [](std::size_t) -> int64_t { return 1000; });
    const PictureReader reader = [](PictureStreamer&, const std::string& path, RowSink&, const StreamOptions&) {
        const int32_t i = std::stoi(path.substr(1));
        if (i % 37 == 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        return noPicture();
    };
    for (int32_t jobs : {2, 3}) {
        SCOPED_TRACE(jobs);
        const PipelineRun run = runPipeline(files, reader, jobs, [](std::size_t position) {
            if (position % 50 == 49)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        ASSERT_TRUE(run.complete);
        ASSERT_EQ(run.committed.size(), files.size());
        for (std::size_t i = 0; i < run.committed.size(); ++i)
            ASSERT_EQ(run.committed[i], i);
        ASSERT_EQ(run.unreadable.size(), files.size());
        EXPECT_EQ(run.unreadable.back(), "f202");
    }
}
