#include "compare/similar/similar_engine.h"

#include <exception>
#include <vector>

#include "cache/picture_examination.h"
#include "cache/signature_cache.h"
#include "common/parallel_for.h"
#include "compare/similar/similar_pair_pass.h"
#include "compare/similar/similar_reduction.h"
#include "picture/picture_loader.h"

namespace {

enum class LoadOutcome : uint8_t {
    NotReached, // the pass stopped before this file
    Failed,     // cannot be loaded or decoded, or too small to sample
    Loaded,     // loaded, but the pass was aborted before reducing it
    Reduced,    // has its signature
};

} // namespace

void CompareSimilar(EngineContext& ctx)
{
    FileTable& files = ctx.files;
    const int64_t fileCount = static_cast<int64_t>(files.size());
    const int32_t jobs = resolveJobs(ctx.jobs);

    // The signature stores, one zero-filled slot per file; a file without a
    // signature keeps its zeros (and spreads 0 keep it out of the pairs).
    std::vector<SimilarSignature> signatures(static_cast<std::size_t>(fileCount));
    std::vector<LoadOutcome> outcomes(static_cast<std::size_t>(fileCount), LoadOutcome::NotReached);

    // Pictures are loaded and reduced in parallel; what the sequential pass
    // would have written along the way (the unreadable list, Skip, LoadCount,
    // spreads) is committed afterwards in FileTable order.
    std::atomic<bool> stopped {false};
    std::atomic<int64_t> processed {0};
    ctx.report(SearchProgress::Phase::Load, 0, fileCount, true);
    parallelFor(fileCount, jobs, [&](int64_t i, int32_t) {
        if (stopped.load(std::memory_order_relaxed))
            return;
        LoadOutcome& outcome = outcomes[static_cast<std::size_t>(i)];
        try {
            const std::string& path = files[static_cast<std::size_t>(i)].path;
            if (ctx.cache) {
                // One decode fills both engines' signatures for the cache.
                PictureRecord record = ctx.cache->recordFor(path, SignatureKind::Similar,
                                                            [&] { return examinePicture(path); });
                if (record.failed() || !record.similar) {
                    outcome = LoadOutcome::Failed;
                } else if (ctx.aborted()) {
                    outcome = LoadOutcome::Loaded;
                    stopped.store(true, std::memory_order_relaxed);
                } else {
                    signatures[static_cast<std::size_t>(i)] = *record.similar;
                    outcome = LoadOutcome::Reduced;
                }
                ctx.report(SearchProgress::Phase::Load, processed.fetch_add(1) + 1, fileCount);
                return;
            }
            const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
            if (!loaded.ok() || !canReduceSimilar(loaded.picture)) {
                outcome = LoadOutcome::Failed;
            } else if (ctx.aborted()) {
                // The abort is noticed after a load: the picture counts as
                // loaded but is not reduced, and no later one is started.
                outcome = LoadOutcome::Loaded;
                stopped.store(true, std::memory_order_relaxed);
            } else {
                reduceSimilarPicture(loaded.picture, signatures[static_cast<std::size_t>(i)]);
                outcome = LoadOutcome::Reduced;
            }
        } catch (const std::exception&) {
            // Out of memory on a huge picture: that file is unreadable, the
            // search goes on.
            signatures[static_cast<std::size_t>(i)] = SimilarSignature {};
            outcome = LoadOutcome::Failed;
        }
        ctx.report(SearchProgress::Phase::Load, processed.fetch_add(1) + 1, fileCount);
    });

    for (int64_t i = 0; i < fileCount; ++i) {
        File_rec& file = files[static_cast<std::size_t>(i)];
        switch (outcomes[static_cast<std::size_t>(i)]) {
        case LoadOutcome::NotReached:
            break;
        case LoadOutcome::Failed:
            ctx.unreadable.push_back(file.path);
            file.skip = 1;
            break;
        case LoadOutcome::Loaded:
        case LoadOutcome::Reduced:
            ++ctx.counters.loadCount;
            if (upperExtension(file.path) == ".JPG")
                file.skip = 0;
            if (outcomes[static_cast<std::size_t>(i)] == LoadOutcome::Reduced) {
                file.spreadA = signatures[static_cast<std::size_t>(i)].spreadA;
                file.spreadB = signatures[static_cast<std::size_t>(i)].spreadB;
            }
            break;
        }
    }
    ctx.report(SearchProgress::Phase::Load, processed.load(), fileCount, true);

    std::vector<std::string> lines = runSimilarPairPass(
        SimilarPairPassInput {files, signatures, ctx.level, jobs, ctx.abortFlag, ctx.progress});
    ctx.counters.pairCount += static_cast<int32_t>(lines.size());
    for (std::string& line : lines)
        ctx.resultLines.push_back(std::move(line));
}
