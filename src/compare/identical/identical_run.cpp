#include "compare/identical/identical_run.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "common/parallel_for.h"
#include "compare/identical/identical_pair_search.h"
#include "compare/identical/identical_result_line.h"
#include "compare/identical/identical_signature.h"

namespace {

// The orientations besides upright.
constexpr std::size_t kTurnedCount = kOrientationCount - 1;

} // namespace

IdenticalRun::IdenticalRun(EngineContext& ctx, PictureReader reader)
    : m_ctx(ctx), m_pipeline(ctx, PrimaryEngine::Identical, std::move(reader)), m_jobs(resolveJobs(ctx.jobs))
{
}

void IdenticalRun::wholeTable()
{
    std::vector<int32_t> files(m_ctx.files.size());
    std::iota(files.begin(), files.end(), 0);
    std::vector<PairSignature> signatures(files.size());
    std::vector<uint8_t> loaded(files.size(), 0);
    // With turned copies: orientation o of member i at [(o - 1) * size + i].
    std::vector<PairSignature> turned(m_ctx.turned ? files.size() * kTurnedCount : 0);
    LoadCommit commit;
    commit.reduced = [&](std::size_t at, int32_t, const PictureOutcome& outcome) {
        signatures[at] = PairSignature::from(outcome.identical);
        loaded[at] = 1;
        if (!m_ctx.turned)
            return;
        for (std::size_t i = 0; i < kTurnedCount; ++i) {
            // An outcome always brings all seven when asked for them; should
            // one not, the upright signature stands in and the pair is found
            // upright only.
            turned[i * files.size() + at] = i < outcome.turnedIdentical.size()
                ? PairSignature::from(outcome.turnedIdentical[i])
                : signatures[at];
        }
    };
    if (!m_pipeline.run(files, commit))
        return; // after an abort the pair phase would end at its first pair
    const MatchLimits limits = ChooseLimits(m_ctx.mode, m_ctx.level);
    appendLines(decidePairs(files, signatures, turned, loaded, limits, m_jobs, true));
}

void IdenticalRun::runs(const std::vector<std::vector<int32_t>>& runs)
{
    std::vector<int32_t> members;
    std::vector<std::size_t> runEnds;
    for (const auto& run : runs) {
        members.insert(members.end(), run.begin(), run.end());
        runEnds.push_back(members.size());
    }
    const MatchLimits limits = ChooseLimits(m_ctx.mode, m_ctx.level);

    // Only the run being committed keeps signatures.
    std::size_t run = 0;
    std::size_t runStart = 0;
    std::vector<PairSignature> signatures;
    std::vector<uint8_t> loaded;
    const auto startRun = [&] {
        const std::size_t size = run < runEnds.size() ? runEnds[run] - runStart : 0;
        signatures.assign(size, PairSignature {});
        loaded.assign(size, 0);
    };
    startRun();
    LoadCommit commit;
    commit.reduced = [&](std::size_t at, int32_t, const PictureOutcome& outcome) {
        signatures[at - runStart] = PairSignature::from(outcome.identical);
        loaded[at - runStart] = 1;
    };
    commit.committed = [&](std::size_t at) {
        if (at + 1 < runEnds[run])
            return true;
        const std::span<const int32_t> files = std::span(members).subspan(runStart, signatures.size());
        appendLines(decidePairs(files, signatures, {}, loaded, limits, 1, false));
        // The run loop ends once it sees the flag after a run.
        if (m_ctx.aborted())
            return false;
        runStart = runEnds[run];
        ++run;
        startRun();
        return true;
    };
    if (!m_pipeline.run(members, commit))
        return;
    const auto total = static_cast<int64_t>(members.size());
    m_ctx.report(SearchProgress::Phase::Pairs, total, total, true);
}

std::vector<std::string> IdenticalRun::decidePairs(std::span<const int32_t> files, std::span<PairSignature> signatures,
                                                   std::span<PairSignature> turned, std::span<const uint8_t> loaded,
                                                   const MatchLimits& limits, int32_t jobs, bool reportProgress) const
{
    // Members that failed, or were skipped before, take part in no pair.
    const std::size_t size = files.size();
    const bool withTurned = !turned.empty();
    std::vector<int32_t> readable;
    for (std::size_t i = 0; i < size; ++i) {
        if (!loaded[i] || m_ctx.files[static_cast<std::size_t>(files[i])].skip != 0)
            continue;
        const std::size_t to = readable.size();
        if (to != i) {
            signatures[to] = signatures[i];
            // The turned ones are packed with the readable count as their
            // stride once all are known: here each stays in its own row.
            for (std::size_t o = 0; withTurned && o < kTurnedCount; ++o)
                turned[o * size + to] = turned[o * size + i];
        }
        readable.push_back(files[i]);
    }
    const auto kept = signatures.first(readable.size());
    if (withTurned && readable.size() != size) {
        for (std::size_t o = 1; o < kTurnedCount; ++o)
            std::copy_n(turned.begin() + static_cast<std::ptrdiff_t>(o * size), readable.size(),
                        turned.begin() + static_cast<std::ptrdiff_t>(o * readable.size()));
    }
    const auto keptTurned = turned.first(withTurned ? readable.size() * kTurnedCount : 0);

    PairProgress progress;
    if (reportProgress) {
        progress = [this](int64_t done, int64_t total) { m_ctx.report(SearchProgress::Phase::Pairs, done, total); };
    }
    const std::vector<PairMatch> matches
        = withTurned ? findTurnedIdenticalPairs(kept, keptTurned, limits, jobs, m_ctx.abortFlag, progress, m_ctx.pool)
                     : findIdenticalPairs(kept, limits, jobs, m_ctx.abortFlag, progress, m_ctx.pool);
    if (reportProgress) {
        // The turned pair phase counts its rows once per orientation.
        const auto total = static_cast<int64_t>(kept.size()) * (withTurned ? kOrientationCount : 1);
        m_ctx.report(SearchProgress::Phase::Pairs, total, total, true);
    }

    std::vector<std::string> lines;
    lines.reserve(matches.size());
    for (const PairMatch& match : matches) {
        const int32_t a = readable[static_cast<std::size_t>(match.a)];
        const int32_t b = readable[static_cast<std::size_t>(match.b)];
        // The line shows B's centroids as the decision saw them: turned.
        const std::size_t bAt = static_cast<std::size_t>(match.b);
        const PairSignature& bSide = match.orientation == Orientation::Upright
            ? kept[bAt]
            : keptTurned[(static_cast<std::size_t>(match.orientation) - 1) * readable.size() + bAt];
        lines.push_back(identicalResultLine(a, b, match.result, kept[static_cast<std::size_t>(match.a)].centroids,
                                            bSide.centroids, m_ctx.files[static_cast<std::size_t>(a)].path,
                                            m_ctx.files[static_cast<std::size_t>(b)].path));
        if (match.orientation != Orientation::Upright && m_ctx.orientations != nullptr)
            m_ctx.orientations->set(a, b, match.orientation);
    }
    return lines;
}

void IdenticalRun::appendLines(std::vector<std::string>&& lines)
{
    m_ctx.counters.pairCount += static_cast<int32_t>(lines.size());
    for (auto& line : lines)
        m_ctx.resultLines.push_back(std::move(line));
}
