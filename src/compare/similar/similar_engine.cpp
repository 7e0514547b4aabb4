#include "compare/similar/similar_engine.h"

#include <numeric>
#include <vector>

#include "common/file_name.h"
#include "common/parallel_for.h"
#include "compare/load_pipeline.h"
#include "compare/similar/similar_pair_pass.h"

void CompareSimilar(EngineContext& ctx)
{
    FileTable& files = ctx.files;
    const int32_t jobs = resolveJobs(ctx.jobs);

    // The signature stores, one zero-filled slot per file; a file without a
    // signature keeps its zeros (and spreads 0 keep it out of the pairs).
    std::vector<SimilarSignature> signatures(files.size());
    std::vector<int32_t> members(files.size());
    std::iota(members.begin(), members.end(), 0);

    LoadCommit commit;
    commit.counted = [&](std::size_t, int32_t file) {
        // A JPEG that loads takes part again, whatever an earlier search left.
        File_rec& record = files[static_cast<std::size_t>(file)];
        if (upperExtension(record.path) == ".JPG")
            record.skip = 0;
    };
    commit.reduced = [&](std::size_t, int32_t file, const PictureOutcome& outcome) {
        File_rec& record = files[static_cast<std::size_t>(file)];
        signatures[static_cast<std::size_t>(file)] = outcome.similar;
        record.spreadA = outcome.similar.spreadA;
        record.spreadB = outcome.similar.spreadB;
    };
    // After an abort the pair pass sees the flag and scores no pair.
    LoadPipeline(ctx, PrimaryEngine::Similar).run(members, commit);

    std::vector<std::string> lines = runSimilarPairPass(
        SimilarPairPassInput {files, signatures, ctx.level, jobs, ctx.abortFlag, ctx.progress});
    ctx.counters.pairCount += static_cast<int32_t>(lines.size());
    for (std::string& line : lines)
        ctx.resultLines.push_back(std::move(line));
}
