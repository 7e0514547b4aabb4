#include "compare/similar/similar_engine.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <type_traits>
#include <vector>

#include "common/parallel_for.h"
#include "compare/load_pipeline.h"
#include "compare/similar/packed_similar_signature.h"
#include "compare/similar/similar_pair_pass.h"
#include "compare/similar/similar_turned_pairs.h"
#include "picture/picture_format.h"

void CompareSimilar(EngineContext& ctx)
{
    FileTable& files = ctx.files;
    const int32_t jobs = resolveJobs(ctx.jobs);

    // The signature stores, one zero-filled slot per file; a file without a
    // signature keeps its zeros (and spreads 0 keep it out of the pairs).
    static_assert(std::is_aggregate_v<SimilarSignature> && std::is_trivially_copyable_v<SimilarSignature>,
                  "a zeroed slot is a signature of zeros");
    // Zeroed by the system as it maps the pages, which is far quicker for
    // 100,000 slots of 5.6 KB than clearing them once more.
    const std::unique_ptr<SimilarSignature[], decltype(&std::free)> store(
        static_cast<SimilarSignature*>(std::calloc(std::max<std::size_t>(files.size(), 1), sizeof(SimilarSignature))),
        &std::free);
    if (!store)
        throw std::bad_alloc();
    const std::span<SimilarSignature> signatures(store.get(), files.size());
    // A search for turned copies keeps each picture's seven turned
    // signatures packed, file f's orientation o at [f * 7 + o - 1].
    constexpr auto kTurnedCount = static_cast<std::size_t>(kOrientationCount - 1);
    std::vector<PackedSimilarSignature> turned(ctx.turned ? files.size() * kTurnedCount : 0);
    std::vector<int32_t> members(files.size());
    std::iota(members.begin(), members.end(), 0);

    LoadCommit commit;
    commit.counted = [&](std::size_t, int32_t file) {
        // A JPEG that loads takes part again, whatever an earlier search left.
        File_rec& record = files[static_cast<std::size_t>(file)];
        if (decoderFormatOf(record.path) == PictureFormat::Jpeg)
            record.skip = 0;
    };
    commit.reduced = [&](std::size_t, int32_t file, const PictureOutcome& outcome) {
        File_rec& record = files[static_cast<std::size_t>(file)];
        signatures[static_cast<std::size_t>(file)] = outcome.similar;
        record.spreadA = outcome.similar.spreadA;
        record.spreadB = outcome.similar.spreadB;
        if (ctx.turned && outcome.turnedSimilar.size() == kTurnedCount) {
            for (std::size_t k = 0; k < kTurnedCount; ++k)
                packSimilarSignature(outcome.turnedSimilar[k], turned[static_cast<std::size_t>(file) * kTurnedCount + k]);
        }
    };
    // After an abort the pair pass sees the flag and scores no pair.
    LoadPipeline(ctx, PrimaryEngine::Similar).run(members, commit);

    SimilarPairPassInput input {files, signatures, ctx.level, jobs, ctx.abortFlag, ctx.progress, ctx.pool};
    input.passesAfter = ctx.turned ? static_cast<int32_t>(kTurnedCount) : 0;
    int64_t counted = 0;
    std::vector<std::string> lines = runSimilarPairPass(input, &counted);
    if (ctx.turned)
        addTurnedSimilarPairs(input, turned, counted, lines, ctx.orientations);
    ctx.counters.pairCount += static_cast<int32_t>(lines.size());
    for (std::string& line : lines)
        ctx.resultLines.push_back(std::move(line));
}
