#include "driver/like_job.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#include <sys/stat.h>

#include "cache/signature_cache.h"
#include "cache/signature_store.h"
#include "common/file_name.h"
#include "common/parallel_for.h"
#include "common/worker_pool.h"
#include "compare/identical/identical_match.h"
#include "compare/load_pipeline.h"
#include "compare/similar/similar_scoring.h"
#include "marks/mark_store.h"
#include "search/engine_context.h"
#include "search/file_table.h"
#include "search/folder_scan.h"
#include "search/line_order.h"
#include "search/local_stamp_cache.h"
#include "search/scan_line.h"
#include "search/search_error.h"

namespace {

// The picture's scan line, as the scan of its folder would write it.
std::string scanLineOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > ScanLine::kMaxNumber)
        throw SearchError(path + " is not a picture file");
    LocalStampCache stamps;
    return ScanLine::format({st.st_size, st.st_size, stamps.stampNumber(st.st_mtim.tv_sec)}, path);
}

// The turn that undoes `orientation`: a quarter turn undoes the other quarter,
// every other one (a half turn, each mirror) undoes itself.
Orientation inverseOrientation(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Turned90:
        return Orientation::Turned270;
    case Orientation::Turned270:
        return Orientation::Turned90;
    default:
        return orientation;
    }
}

// As a search does: the files marked "not the same" as the picture are left
// out. The warning when the marks cannot be used.
std::string dropMarkedMatches(const std::string& cacheFile, const std::string& picture, std::vector<LikeMatch>& matches)
{
    if (matches.empty())
        return {};
    std::string problem;
    const std::unique_ptr<MarkStore> marks = MarkStore::open(cacheFile, problem);
    const auto setAside = [&cacheFile](const std::string& why) {
        return "the not-same marks in " + cacheFile + " cannot be used (" + why + "); going on without them";
    };
    if (!marks)
        return setAside(problem);
    const std::optional<int64_t> count = marks->markCount();
    if (!count)
        return setAside(marks->problem());
    const std::optional<ContentHash> own = *count > 0 ? marks->contentHashOf(picture) : std::nullopt;
    if (!own)
        return marks->problem().empty() ? std::string() : setAside(marks->problem());
    std::vector<LikeMatch> kept;
    for (LikeMatch& match : matches) {
        const std::optional<ContentHash> other = marks->contentHashOf(match.path);
        std::optional<bool> marked = false;
        if (other)
            marked = marks->isMarked(*own, *other);
        if (!marks->problem().empty() || !marked)
            return setAside(marks->problem());
        if (!*marked)
            kept.push_back(match);
    }
    matches = std::move(kept);
    return {};
}

} // namespace

LikeOutcome findLikePictures(const LikeOptions& options, const std::atomic<bool>& abortFlag)
{
    LikeOutcome outcome;
    const int32_t jobs = resolveJobs(options.jobs);
    const auto pool = jobs > 1 ? std::make_unique<WorkerPool>(jobs) : nullptr;

    // The file table of one search over the picture and the folders: each
    // path once, in scan order.
    ScanSettings scan;
    scan.mode = options.mode;
    scan.subDirDepth = options.depth;
    scan.abortFlag = &abortFlag;
    scan.jobs = jobs;
    scan.pool = pool.get();
    std::vector<std::string> lines {scanLineOf(options.picture)};
    std::set<std::string, std::less<>> paths {options.picture};
    for (const std::string& folder : options.folders) {
        if (!canReadSearchFolder(folder))
            throw SearchError("フォルダ " + folder + " は開けません");
        for (std::string& line : buildScanList(folder, scan)) {
            if (paths.insert(std::string(ScanLine(line).path())).second)
                lines.push_back(std::move(line));
        }
    }
    sortLines(lines);
    outcome.fileCount = static_cast<int32_t>(lines.size());
    FileTable files = BuildFileTable(lines, options.mode, jobs, pool.get());
    const auto found = std::find_if(files.begin(), files.end(),
                                    [&](const File_rec& file) { return file.path == options.picture; });
    const auto picture = static_cast<int32_t>(found - files.begin());

    std::optional<SignatureCache> cache;
    if (!options.cacheFile.empty()) {
        auto warn = [&outcome](const std::string& message) { outcome.cacheWarning = message; };
        if (std::unique_ptr<SignatureStore> store = SignatureStore::open(options.cacheFile, warn, true))
            cache.emplace(std::move(store));
    }
    std::vector<std::string> resultLines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    EngineContext ctx {files, resultLines, unreadable, counters, abortFlag};
    ctx.mode = options.mode;
    ctx.level = options.level;
    ctx.jobs = jobs;
    ctx.pool = pool.get();
    ctx.cache = cache ? &*cache : nullptr;
    ctx.turned = options.turned;

    // The picture first: every other file is judged against it as soon as
    // it is committed, so only its signature is held.
    std::vector<int32_t> members {picture};
    for (int32_t i = 0; i < static_cast<int32_t>(files.size()); ++i) {
        if (i != picture)
            members.push_back(i);
    }
    const bool similar = options.mode == CheckMode::Similar;
    const MatchLimits identicalLimits = ChooseLimits(options.mode, options.level);
    const SimilarScoreLimits similarLimits = similarScoreLimits(options.level, outcome.fileCount);
    std::optional<PairSignature> pictureIdentical;
    std::optional<SimilarSignature> pictureSimilar;
    // With turned: the picture's signatures of orientations 1..7, for the
    // pairs in which it is B.
    std::vector<PairSignature> pictureTurnedIdentical;
    std::vector<SimilarSignature> pictureTurnedSimilar;
    const int32_t orientations = options.turned ? kOrientationCount : 1;
    struct Scored {
        int32_t score;
        int32_t file;
        Orientation orientation;
    };
    std::vector<Scored> scored;
    const auto takesPart = [&files, similar](int32_t file) {
        const File_rec& record = files[static_cast<std::size_t>(file)];
        // As the engines' pair phases: skipped files, and for the similar
        // engine those without spreads, take part in no pair.
        return record.skip == 0 && (!similar || (record.spreadA != 0 && record.spreadB != 0));
    };

    LoadCommit commit;
    commit.counted = [&](std::size_t, int32_t file) {
        // As the similar engine: a JPEG that loads takes part again.
        File_rec& record = files[static_cast<std::size_t>(file)];
        if (similar && upperExtension(record.path) == ".JPG")
            record.skip = 0;
    };
    commit.reduced = [&](std::size_t position, int32_t file, const PictureOutcome& loaded) {
        File_rec& record = files[static_cast<std::size_t>(file)];
        if (similar) {
            record.spreadA = loaded.similar.spreadA;
            record.spreadB = loaded.similar.spreadB;
        }
        if (position == 0) {
            if (similar) {
                pictureSimilar = loaded.similar;
                pictureTurnedSimilar = loaded.turnedSimilar;
            } else {
                pictureIdentical = PairSignature::from(loaded.identical);
                for (const IdenticalSignature& turned : loaded.turnedIdentical)
                    pictureTurnedIdentical.push_back(PairSignature::from(turned));
            }
            return;
        }
        if (!takesPart(picture) || !takesPart(file))
            return;
        // A is the member met first in the table, as in the pair phases; B is
        // tried turned to each orientation in order, the first match counts.
        const bool pictureFirst = picture < file;
        if (similar && pictureSimilar) {
            const SimilarSignature& a = pictureFirst ? *pictureSimilar : loaded.similar;
            const std::vector<SimilarSignature>& bTurned = pictureFirst ? loaded.turnedSimilar : pictureTurnedSimilar;
            for (int32_t o = 0; o < orientations; ++o) {
                if (o > 0 && static_cast<std::size_t>(o) > bTurned.size())
                    break;
                const SimilarSignature& b = o == 0 ? (pictureFirst ? loaded.similar : *pictureSimilar)
                                                   : bTurned[static_cast<std::size_t>(o - 1)];
                const CodeDistances codes = codeDistances(a, b);
                if (!passesCodeGate(codes, options.level))
                    continue;
                if (const auto scores = scoreGatedPair(makePairSide(a), makePairSide(b), codes, similarLimits)) {
                    scored.push_back({scores->similarity, file, orientationAt(o)});
                    break;
                }
            }
        } else if (!similar && pictureIdentical) {
            const PairSignature other = PairSignature::from(loaded.identical);
            const PairSignature& a = pictureFirst ? *pictureIdentical : other;
            for (int32_t o = 0; o < orientations; ++o) {
                const auto turnedAt = static_cast<std::size_t>(o - 1);
                if (o > 0 && turnedAt >= (pictureFirst ? loaded.turnedIdentical.size() : pictureTurnedIdentical.size()))
                    break;
                const PairSignature b = o == 0 ? (pictureFirst ? other : *pictureIdentical)
                                               : pictureFirst ? PairSignature::from(loaded.turnedIdentical[turnedAt])
                                                              : pictureTurnedIdentical[turnedAt];
                MatchResult result;
                if (MatchSignatures(a, b, identicalLimits, result)) {
                    scored.push_back({result.totalScore, file, orientationAt(o)});
                    break;
                }
            }
        }
    };
    commit.committed = [&](std::size_t position) {
        // Nothing can pair with a picture that did not load.
        if (position == 0 && !(pictureSimilar || pictureIdentical))
            return false;
        return true;
    };
    LoadPipeline(ctx, similar ? PrimaryEngine::Similar : PrimaryEngine::Identical).run(members, commit);
    if (cache)
        cache->flush();
    outcome.pictureUnreadable = !(pictureSimilar || pictureIdentical) || !takesPart(picture);

    std::sort(scored.begin(), scored.end(),
              [](const Scored& x, const Scored& y) { return x.score != y.score ? x.score < y.score : x.file < y.file; });
    for (const Scored& match : scored) {
        // The orientation is B's; when the picture is B, the file is turned
        // the other way round to look like it.
        const bool fileIsB = picture < match.file;
        outcome.matches.push_back(LikeMatch {files[static_cast<std::size_t>(match.file)].path, match.score,
                                             fileIsB ? match.orientation : inverseOrientation(match.orientation)});
    }
    if (cache && outcome.cacheWarning.empty())
        outcome.marksWarning = dropMarkedMatches(options.cacheFile, options.picture, outcome.matches);
    return outcome;
}
