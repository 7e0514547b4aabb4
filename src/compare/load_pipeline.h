#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "compare/picture_outcome.h"
#include "picture/picture_stream.h"
#include "search/engine_context.h"

class WorkerPool;

// Streams one file into a sink with the worker's own streamer. The pipeline
// uses PictureStreamer::stream; tests put their own in to act while a picture
// is read.
using PictureReader = std::function<StreamResult(PictureStreamer& streamer, const std::string& path, RowSink& sink,
                                                 const StreamOptions& options)>;

// The engine a pipeline loads for: its signature decides whether a picture
// that decoded is usable (one too small for it is unreadable).
enum class PrimaryEngine { Identical, Similar };

// What an engine does with the members as they are committed, in member
// order, on the thread that called run().
struct LoadCommit {
    // A picture loaded and was counted in LoadCount; also the one at which
    // the abort is seen.
    std::function<void(std::size_t position, int32_t file)> counted;
    // Its signature is kept (after counted, unless the abort was seen there).
    std::function<void(std::size_t position, int32_t file, const PictureOutcome& outcome)> reduced;
    // After each member that did not end the phase, unreadable or reduced;
    // returning false ends the phase there.
    std::function<bool(std::size_t position)> committed;
};

// The load-and-reduce phase both engines share. Workers (ctx.pool, or a pool
// of its own for ctx.jobs threads; one job runs on the calling thread) take
// the members in order within a lookahead window of the commit, the largest
// file of the window first, ask ctx.cache for each (see OutcomeCache), otherwise
// stream the file through the engine's reduction, and hand the outcome to the
// calling thread, which commits the outcomes strictly in member order: the
// unreadable list and Skip 1, LoadCount, the engine's callbacks, the cache's
// store and the load progress.
//
// The abort rule, the same for every job count: the committing thread reads
// the abort flag after counting each picture that loaded, as a single thread
// reads it right after each load, and the phase ends with that picture
// counted and not reduced. Workers ahead of the commit stop reading once the
// flag is set; the file at the commit whose read was cut short is read to the
// end there, so that a damaged one is still listed and the next one counted.
// What is committed is therefore always a prefix of the members, exactly what
// one thread would have committed had the abort come at that point; the
// outcomes workers made beyond it are dropped. The price is at most one more
// whole read after an abort.
class LoadPipeline {
public:
    LoadPipeline(EngineContext& ctx, PrimaryEngine primary, PictureReader reader = {});
    ~LoadPipeline();
    LoadPipeline(const LoadPipeline&) = delete;
    LoadPipeline& operator=(const LoadPipeline&) = delete;

    // Loads and commits `members` (FileTable indices). True when every member
    // was committed; false when the phase ended early.
    bool run(std::span<const int32_t> members, const LoadCommit& commit);

private:
    struct Worker;
    enum class Step { Go, Stop };

    void produce(int32_t file, Worker& worker, bool interruptible, PictureOutcome& outcome);
    Step commitOne(std::size_t position, int32_t file, const PictureOutcome& outcome, const LoadCommit& commit);
    bool runInline(std::span<const int32_t> members, const LoadCommit& commit);
    bool runPooled(std::span<const int32_t> members, const LoadCommit& commit, WorkerPool& pool);

    EngineContext& m_ctx;
    PrimaryEngine m_primary;
    Reductions m_wanted;
    PictureReader m_reader;
    std::unique_ptr<WorkerPool> m_ownPool;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::unique_ptr<Worker> m_commitWorker;      // re-reads an interrupted file at the commit
    std::unique_ptr<PictureOutcome> m_reread;
    int64_t m_progressDone = 0;
    int64_t m_progressTotal = 0;
};
