#include "compare/identical/identical_run.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <utility>

#include "cache/picture_examination.h"
#include "cache/signature_cache.h"
#include "common/parallel_for.h"
#include "compare/identical/identical_pair_search.h"
#include "compare/identical/identical_result_line.h"
#include "compare/identical/identical_signature.h"

namespace {

enum class LoadState : uint8_t {
    NotReached,    // left out after an abort
    Failed,        // unreadable: listed, Skip 1
    Loaded,        // counted, signature made
    LoadedAtAbort, // counted, then the abort was seen: the phase ends here
};

// In the per-run form, runs are loaded together until a batch has this many
// members per thread, so that runs of two files still keep every core busy.
constexpr int64_t kBatchMembersPerJob = 16;

LoadedPicture loadFast(const std::string& path)
{
    return loadPicture(path, JpegIdct::Fast);
}

} // namespace

IdenticalRun::IdenticalRun(EngineContext& ctx, PictureLoadFunction load)
    : m_ctx(ctx), m_load(load ? std::move(load) : PictureLoadFunction(loadFast)), m_jobs(resolveJobs(ctx.jobs))
{
}

void IdenticalRun::wholeTable()
{
    Members members;
    members.files.resize(m_ctx.files.size());
    std::iota(members.files.begin(), members.files.end(), 0);
    const int64_t count = static_cast<int64_t>(members.files.size());
    if (!loadMembers(members, 0, count))
        return; // after an abort the pair phase would end at its first pair
    const MatchLimits limits = ChooseLimits(m_ctx.mode, m_ctx.level);
    appendLines(decidePairs(members.files, members.signatures, members.loaded, limits, m_jobs, true));
}

void IdenticalRun::runs(const std::vector<std::vector<int32_t>>& runs)
{
    int64_t total = 0;
    for (const auto& run : runs)
        total += static_cast<int64_t>(run.size());
    const MatchLimits limits = ChooseLimits(m_ctx.mode, m_ctx.level);
    int64_t done = 0;
    std::size_t next = 0;
    while (next < runs.size()) {
        // With one thread every run is its own batch: exactly one call per run.
        const std::size_t first = next;
        Members members;
        std::vector<std::size_t> starts;
        do {
            starts.push_back(members.files.size());
            members.files.insert(members.files.end(), runs[next].begin(), runs[next].end());
            ++next;
        } while (next < runs.size() && m_jobs > 1
                 && static_cast<int64_t>(members.files.size()) < kBatchMembersPerJob * m_jobs);
        starts.push_back(members.files.size());

        const bool complete = loadMembers(members, done, total);
        done += static_cast<int64_t>(members.files.size());
        if (!complete)
            return;
        const std::size_t runCount = next - first;
        std::vector<std::vector<std::string>> lines(runCount);
        parallelFor(static_cast<int64_t>(runCount), m_jobs, [&](int64_t r, int32_t) {
            const std::size_t from = starts[static_cast<std::size_t>(r)];
            const std::size_t size = starts[static_cast<std::size_t>(r) + 1] - from;
            lines[static_cast<std::size_t>(r)] =
                decidePairs(std::span(members.files).subspan(from, size),
                            std::span(members.signatures).subspan(from, size),
                            std::span(members.loaded).subspan(from, size), limits, 1, false);
        });
        for (auto& runLines : lines)
            appendLines(std::move(runLines));
        // The run loop ends once it sees the flag after a run.
        if (m_ctx.aborted())
            return;
    }
    m_ctx.report(SearchProgress::Phase::Pairs, total, total, true);
}

bool IdenticalRun::loadMembers(Members& members, int64_t progressBase, int64_t progressTotal)
{
    const int64_t count = static_cast<int64_t>(members.files.size());
    members.signatures.assign(static_cast<std::size_t>(count), PairSignature {});
    members.loaded.assign(static_cast<std::size_t>(count), 0);
    std::vector<LoadState> state(static_cast<std::size_t>(count), LoadState::NotReached);
    // The first member after whose load the abort flag was seen: nothing
    // after it is loaded any more. Workers take members in ascending order,
    // so every member before it is finished.
    std::atomic<int64_t> stopAt {count};
    std::atomic<int64_t> done {0};
    std::vector<SignatureGrids> grids(static_cast<std::size_t>(std::clamp<int64_t>(m_jobs, 1, std::max<int64_t>(count, 1))));

    parallelFor(count, m_jobs, [&](int64_t m, int32_t worker) {
        if (m > stopAt.load())
            return;
        const std::size_t at = static_cast<std::size_t>(m);
        const std::string& path = m_ctx.files[static_cast<std::size_t>(members.files[at])].path;
        LoadedPicture picture;
        PictureRecord record;
        bool cached = false;
        try {
            if (m_ctx.cache) {
                // One decode fills both engines' signatures for the cache.
                record = m_ctx.cache->recordFor(path, SignatureKind::Identical,
                                                [&] { return examineLoadedPicture(path, m_load(path)); });
                cached = true;
            } else {
                picture = m_load(path);
            }
        } catch (...) {
            // Out of memory for a picture is that picture's failure, not the search's.
            picture = LoadedPicture {Picture {}, "cannot load"};
            cached = false;
        }
        const bool readable = cached ? !record.failed() && record.identical.has_value()
                                     : picture.ok() && canComputeSignature(picture.picture);
        if (!readable) {
            // Too small for the 5 x 5 sampling lattice: as unreadable as a damaged file.
            state[at] = LoadState::Failed;
        } else if (m_ctx.aborted()) {
            state[at] = LoadState::LoadedAtAbort;
            int64_t seen = stopAt.load();
            while (m < seen && !stopAt.compare_exchange_weak(seen, m)) {
            }
        } else {
            members.signatures[at] = PairSignature::from(
                cached ? *record.identical : ComputeSignature(picture.picture, grids[static_cast<std::size_t>(worker)]));
            state[at] = LoadState::Loaded;
        }
        m_ctx.report(SearchProgress::Phase::Load, progressBase + done.fetch_add(1) + 1, progressTotal);
    });

    // Commit in member order, whatever order the workers finished in.
    for (std::size_t at = 0; at < state.size(); ++at) {
        File_rec& file = m_ctx.files[static_cast<std::size_t>(members.files[at])];
        switch (state[at]) {
        case LoadState::Failed:
            m_ctx.unreadable.push_back(file.path);
            file.skip = 1;
            break;
        case LoadState::Loaded:
            ++m_ctx.counters.loadCount;
            members.loaded[at] = 1;
            break;
        case LoadState::LoadedAtAbort:
            ++m_ctx.counters.loadCount;
            return false;
        case LoadState::NotReached:
            return false;
        }
    }
    m_ctx.report(SearchProgress::Phase::Load, progressBase + count, progressTotal, true);
    return true;
}

std::vector<std::string> IdenticalRun::decidePairs(std::span<const int32_t> files, std::span<PairSignature> signatures,
                                                   std::span<const uint8_t> loaded, const MatchLimits& limits,
                                                   int32_t jobs, bool reportProgress) const
{
    // Members that failed, or were skipped before, take part in no pair.
    std::vector<int32_t> readable;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!loaded[i] || m_ctx.files[static_cast<std::size_t>(files[i])].skip != 0)
            continue;
        if (readable.size() != i)
            signatures[readable.size()] = signatures[i];
        readable.push_back(files[i]);
    }
    const auto kept = signatures.first(readable.size());

    PairProgress progress;
    if (reportProgress) {
        progress = [this](int64_t done, int64_t total) { m_ctx.report(SearchProgress::Phase::Pairs, done, total); };
    }
    const std::vector<PairMatch> matches = findIdenticalPairs(kept, limits, jobs, m_ctx.abortFlag, progress);
    if (reportProgress) {
        const auto total = static_cast<int64_t>(kept.size());
        m_ctx.report(SearchProgress::Phase::Pairs, total, total, true);
    }

    std::vector<std::string> lines;
    lines.reserve(matches.size());
    for (const PairMatch& match : matches) {
        const int32_t a = readable[static_cast<std::size_t>(match.a)];
        const int32_t b = readable[static_cast<std::size_t>(match.b)];
        lines.push_back(identicalResultLine(a, b, match.result, kept[static_cast<std::size_t>(match.a)].centroids,
                                            kept[static_cast<std::size_t>(match.b)].centroids,
                                            m_ctx.files[static_cast<std::size_t>(a)].path,
                                            m_ctx.files[static_cast<std::size_t>(b)].path));
    }
    return lines;
}

void IdenticalRun::appendLines(std::vector<std::string>&& lines)
{
    m_ctx.counters.pairCount += static_cast<int32_t>(lines.size());
    for (auto& line : lines)
        m_ctx.resultLines.push_back(std::move(line));
}
