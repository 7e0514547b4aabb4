#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "compare/identical/identical_match.h"
#include "compare/load_pipeline.h"
#include "search/engine_context.h"

// The identical-picture engine over one EngineContext: the per-file phase
// (load, signature, unreadable list) and the pair phase (decisions, result
// lines). The signatures live for one call; nothing is kept afterwards.
class IdenticalRun {
public:
    explicit IdenticalRun(EngineContext& ctx, PictureReader reader = {});

    // Every file of the table is a member.
    void wholeTable();

    // One call per run, in order; stops after the run in which the abort
    // flag is seen, as the driver's run loop does. The members of all runs
    // go through one pipeline, so the threads decode ahead across runs; each
    // run's pairs are decided as soon as its last member is committed.
    void runs(const std::vector<std::vector<int32_t>>& runs);

private:

    // The pair phase over the members that loaded and are not skipped
    // (their signatures are moved to the front of `signatures`, and of each
    // orientation's part of `turned`): the result lines in pair order. With
    // `turned` (orientation o of member i at [(o - 1) * files.size() + i])
    // each pair is tried in every orientation and those that matched turned
    // go to ctx.orientations. Touches no counter, so runs may be decided side
    // by side.
    std::vector<std::string> decidePairs(std::span<const int32_t> files, std::span<PairSignature> signatures,
                                         std::span<PairSignature> turned, std::span<const uint8_t> loaded,
                                         const MatchLimits& limits, int32_t jobs, bool reportProgress) const;

    void appendLines(std::vector<std::string>&& lines);

    EngineContext& m_ctx;
    LoadPipeline m_pipeline;
    int32_t m_jobs;
};
