#include "compare/load_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <new>
#include <mutex>

#include "common/log_categories.h"
#include "common/parallel_for.h"
#include "common/worker_pool.h"
#include "compare/picture_reduction.h"

namespace {

// Files a worker may have taken ahead of the commit, per worker. Within that
// window the largest file not yet taken goes first, so that a big picture near
// the end of the table does not leave the other workers idle while it alone is
// decoded; the window bounds how many outcomes wait to be committed.
constexpr int32_t kLookaheadPerWorker = 16;

// Outcomes in a row that wake the committing thread: a picture from the
// cache takes a few microseconds, and a wake-up per picture would cost more.
constexpr std::size_t kCommitRun = 8;

StreamResult streamFile(PictureStreamer& streamer, const std::string& path, RowSink& sink,
                        const StreamOptions& options)
{
    return streamer.stream(path, sink, options);
}

} // namespace

struct LoadPipeline::Worker {
    PictureStreamer streamer;
    PictureReduction reduction;
};

LoadPipeline::LoadPipeline(EngineContext& ctx, PrimaryEngine primary, PictureReader reader)
    : m_ctx(ctx), m_primary(primary), m_reader(reader ? std::move(reader) : PictureReader(streamFile))
{
    // With a cache every decode fills both engines' signatures.
    m_wanted.identical = primary == PrimaryEngine::Identical || ctx.cache != nullptr;
    m_wanted.similar = primary == PrimaryEngine::Similar || ctx.cache != nullptr;
    m_wanted.turned = ctx.turned;
}

LoadPipeline::~LoadPipeline() = default;

bool LoadPipeline::run(std::span<const int32_t> members, const LoadCommit& commit)
{
    m_progressDone = 0;
    m_progressTotal = static_cast<int64_t>(members.size());
    m_ctx.report(SearchProgress::Phase::Load, 0, m_progressTotal, true);
    const int32_t jobs = m_ctx.pool != nullptr ? m_ctx.pool->size() : resolveJobs(m_ctx.jobs);
    bool complete;
    if (jobs <= 1 || members.size() <= 1) {
        complete = runInline(members, commit);
    } else {
        WorkerPool* pool = m_ctx.pool;
        if (pool == nullptr) {
            if (!m_ownPool)
                m_ownPool = std::make_unique<WorkerPool>(jobs);
            pool = m_ownPool.get();
        }
        complete = runPooled(members, commit, *pool);
    }
    m_ctx.report(SearchProgress::Phase::Load, m_progressDone, m_progressTotal, true);
    if (m_ctx.cache != nullptr)
        m_ctx.cache->loadingEnded();
    // A worker keeps its last progressive decode for a second look at the
    // picture: not to be held through the pair phase that follows.
    m_workers.clear();
    m_commitWorker.reset();
    return complete;
}

void LoadPipeline::produce(int32_t file, Worker& worker, bool interruptible, PictureOutcome& outcome)
{
    if (interruptible && m_ctx.aborted()) {
        outcome.status = PictureOutcome::Status::Interrupted;
        return;
    }
    const File_rec& record = m_ctx.files[static_cast<std::size_t>(file)];
    try {
        // Of a kept outcome only the primary engine's signature is read.
        const Reductions read {m_primary == PrimaryEngine::Identical, m_primary == PrimaryEngine::Similar};
        if (m_ctx.cache != nullptr && m_ctx.cache->lookup(record, m_wanted, read, outcome) && outcome.covers(m_wanted)) {
            outcome.fromCache = true;
            return;
        }
        StreamOptions options;
        options.idct = JpegIdct::Fast;
        options.abortFlag = interruptible ? &m_ctx.abortFlag : nullptr;
        const RowSource source = [&](RowSink& sink) { return m_reader(worker.streamer, record.path, sink, options); };
        worker.reduction.reduce(source, m_wanted, outcome);
    } catch (const std::exception& e) {
        // Out of memory on one picture is that picture's failure, not the search's.
        outcome = PictureOutcome {};
        outcome.status = PictureOutcome::Status::Failed;
        outcome.failure = dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? LoadFailure::TooLarge : LoadFailure::Damaged;
        outcome.error = e.what();
    }
}

LoadPipeline::Step LoadPipeline::commitOne(std::size_t position, int32_t file, const PictureOutcome& made,
                                           const LoadCommit& commit)
{
    File_rec& record = m_ctx.files[static_cast<std::size_t>(file)];
    // A worker's read that the abort cut short says nothing of the file, yet
    // one thread would have read it to the end before looking at the flag:
    // whether it is listed as unreadable or counted must not depend on how
    // far the workers had got. It is read to the end here.
    const PictureOutcome* current = &made;
    if (made.status == PictureOutcome::Status::Interrupted) {
        if (!m_commitWorker)
            m_commitWorker = std::make_unique<Worker>();
        if (!m_reread)
            m_reread = std::make_unique<PictureOutcome>();
        produce(file, *m_commitWorker, false, *m_reread);
        current = m_reread.get();
    }
    const PictureOutcome& outcome = *current;
    ++m_progressDone;
    const bool usable = m_primary == PrimaryEngine::Identical ? outcome.hasIdentical : outcome.hasSimilar;
    if (outcome.status == PictureOutcome::Status::Loaded && usable) {
        ++m_ctx.counters.loadCount;
        if (commit.counted)
            commit.counted(position, file);
        if (m_ctx.aborted())
            return Step::Stop;
        if (commit.reduced)
            commit.reduced(position, file, outcome);
    } else if (outcome.status == PictureOutcome::Status::Interrupted) {
        // Only a reader that gives up on its own lands here.
        ++m_ctx.counters.loadCount;
        if (commit.counted)
            commit.counted(position, file);
        return Step::Stop;
    } else {
        // Unreadable, or too small for the engine's sampling.
        qCWarning(zelvicPicture, "%s is unreadable: %s", record.path.c_str(),
                  outcome.status == PictureOutcome::Status::Failed ? outcome.error.c_str() : "too small to compare");
        m_ctx.unreadable.push_back(record.path);
        record.skip = 1;
    }
    if (m_ctx.cache != nullptr) {
        if (outcome.fromCache) {
            ++m_ctx.counters.cacheHits;
        } else {
            ++m_ctx.counters.cacheMisses;
            m_ctx.cache->store(record, outcome);
        }
    }
    m_ctx.report(SearchProgress::Phase::Load, m_progressDone, m_progressTotal);
    if (commit.committed && !commit.committed(position))
        return Step::Stop;
    return Step::Go;
}

bool LoadPipeline::runInline(std::span<const int32_t> members, const LoadCommit& commit)
{
    if (m_workers.empty())
        m_workers.push_back(std::make_unique<Worker>());
    const auto outcome = std::make_unique<PictureOutcome>();
    for (std::size_t at = 0; at < members.size(); ++at) {
        // Each read is the next to be committed: never cut short.
        produce(members[at], *m_workers.front(), false, *outcome);
        if (commitOne(at, members[at], *outcome, commit) == Step::Stop)
            return false;
    }
    return true;
}

bool LoadPipeline::runPooled(std::span<const int32_t> members, const LoadCommit& commit, WorkerPool& pool)
{
    while (static_cast<int32_t>(m_workers.size()) < pool.size())
        m_workers.push_back(std::make_unique<Worker>());
    const std::size_t count = members.size();
    const std::size_t window = static_cast<std::size_t>(pool.size() * kLookaheadPerWorker);
    struct Slot {
        PictureOutcome outcome;
        bool taken = false; // handed to a worker, not yet committed
        bool ready = false;
    };
    std::vector<Slot> slots(window);
    std::mutex mutex;
    std::condition_variable slotReady;
    std::condition_variable slotFree;
    std::size_t firstUntaken = 0; // every position before it has been taken
    std::size_t taken = 0;
    std::size_t committed = 0;
    bool stop = false;
    const auto cost = [&](std::size_t at) { return m_ctx.files[static_cast<std::size_t>(members[at])].size; };
    // Whether the committing thread, waiting for the next outcome, should go
    // on: a run of kCommitRun outcomes is ready, or the run reaches the last
    // file, or the workers can take nothing more until it commits.
    const auto commitDue = [&] {
        std::size_t run = 0;
        while (committed + run < count && run < kCommitRun && slots[(committed + run) % window].ready)
            ++run;
        return run > 0 && (run == kCommitRun || committed + run == count || firstUntaken >= committed + window);
    };

    pool.start([&](int32_t id) {
        Worker& worker = *m_workers[static_cast<std::size_t>(id)];
        for (;;) {
            std::size_t at;
            {
                std::unique_lock lock(mutex);
                slotFree.wait(lock, [&] { return stop || taken >= count || firstUntaken < committed + window; });
                if (stop || taken >= count)
                    return;
                const std::size_t end = std::min(count, committed + window);
                at = firstUntaken;
                for (std::size_t next = firstUntaken + 1; next < end; ++next) {
                    if (!slots[next % window].taken && cost(next) > cost(at))
                        at = next;
                }
                slots[at % window].taken = true;
                ++taken;
                while (firstUntaken < count && slots[firstUntaken % window].taken && firstUntaken < end)
                    ++firstUntaken;
            }
            // The slot is this worker's alone until it is marked ready.
            produce(members[at], worker, true, slots[at % window].outcome);
            bool due;
            {
                std::lock_guard lock(mutex);
                slots[at % window].ready = true;
                due = commitDue();
            }
            if (due)
                slotReady.notify_one();
        }
    });

    const auto finish = [&] {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        slotFree.notify_all();
        pool.wait();
    };
    bool complete = true;
    try {
        for (std::size_t at = 0; at < count; ++at) {
            Slot& slot = slots[at % window];
            {
                std::unique_lock lock(mutex);
                if (!slot.ready)
                    slotReady.wait(lock, commitDue);
            }
            const Step step = commitOne(at, members[at], slot.outcome, commit);
            {
                std::lock_guard lock(mutex);
                slot.ready = false;
                slot.taken = false;
                committed = at + 1;
            }
            slotFree.notify_all();
            if (step == Step::Stop) {
                complete = false;
                break;
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return complete;
}
