// Times the pair phases of both engines on the signatures of a real
// collection, as a warm search would run them (signatures given):
//
//   pair_phase_bench FOLDER SIGNATURES [--jobs N] [--check N] [--only identical|similar|size|dims]
//                    [--levels 012] [--max-lines N] [--first N]
//
// FOLDER holds the pictures (make_photo_collection writes 100,000 of them);
// SIGNATURES is a binary file under which both engines' signatures of every
// picture are kept: made once from FOLDER (every picture decoded and reduced,
// on all cores), then read back on every later run. For each mode and level
// the benchmark times the pair phase, the result lines and their sorting,
// and the grouping walk, with the peak memory of that step (the signatures
// it needs included). --check N also runs the literal loop over every pair of
// the first N pictures and compares its lines with the pair phase's on the
// same N. --levels picks the levels (digits); past --max-lines result lines
// (default 5,000,000) a step's pairs are counted but its lines are neither
// written nor sorted nor walked. --first N takes the first N pictures only.
// Targets: every mode and level under 15 s on two cores, peak memory
// under 1 GB. On a shared machine the times are noisy: say how busy it was.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "bench_photos.h"
#include "common/parallel_for.h"
#include "compare/identical/identical_match.h"
#include "compare/identical/identical_pair_search.h"
#include "compare/identical/identical_result_line.h"
#include "compare/identical/identical_signature.h"
#include "compare/similar/similar_pair_pass.h"
#include "compare/similar/similar_reduction.h"
#include "compare/similar/similar_scoring.h"
#include "picture/picture_loader.h"
#include "review/group_walk.h"
#include "search/line_order.h"
#include "search/pair_list.h"
#include "search/run_list.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory since the last reset, in MB (VmHWM; writing 5 to
// clear_refs starts it again from the present size).
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double peakMemoryMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

static_assert(std::is_trivially_copyable_v<IdenticalSignature>);
static_assert(std::is_trivially_copyable_v<SimilarSignature>);

// What the file keeps per picture besides the signatures.
struct PictureFacts {
    int64_t size = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t identicalOk = 0; // the picture loaded and has an identical signature
    int32_t similarOk = 0;
};

// The signature file: a header, the paths, the facts, then all identical
// signatures, then all similar ones, so that either block is read alone.
constexpr char kMagic[16] = "zelvic-sigs-v1";

struct Header {
    char magic[16] {};
    int64_t count = 0;
    int64_t identicalBytes = sizeof(IdenticalSignature);
    int64_t similarBytes = sizeof(SimilarSignature);
};

struct Collection {
    std::vector<std::string> paths; // sorted: the FileTable order of identical and similar mode
    std::vector<PictureFacts> facts;
    std::streamoff stored = 0;          // pictures in the file
    std::streamoff identicalOffset = 0; // where the identical block starts
};

void makeSignatureFile(const std::string& folder, const std::string& file)
{
    const std::vector<std::string> paths = bench::jpegFilesIn(folder);
    const std::size_t n = paths.size();
    std::printf("computing signatures of %zu pictures in %s ...\n", n, folder.c_str());
    std::fflush(stdout);
    std::vector<PictureFacts> facts(n);
    std::vector<IdenticalSignature> identical(n);
    std::vector<SimilarSignature> similar(n);
    const auto start = Clock::now();
    parallelFor(static_cast<int64_t>(n), 0, [&](int64_t i, int32_t) {
        const std::size_t k = static_cast<std::size_t>(i);
        std::error_code ec;
        facts[k].size = static_cast<int64_t>(std::filesystem::file_size(paths[k], ec));
        const LoadedPicture loaded = loadPicture(paths[k], JpegIdct::Fast);
        if (!loaded.ok())
            return;
        facts[k].width = loaded.picture.width();
        facts[k].height = loaded.picture.height();
        if (canComputeSignature(loaded.picture)) {
            identical[k] = ComputeSignature(loaded.picture);
            facts[k].identicalOk = 1;
        }
        if (canReduceSimilar(loaded.picture)) {
            reduceSimilarPicture(loaded.picture, similar[k]);
            facts[k].similarOk = 1;
        }
    });
    std::printf("  decoded and reduced in %.1f s\n", secondsSince(start));
    // Written under another name and renamed when whole, so that a benchmark
    // started meanwhile never reads half a file.
    const std::string partial = file + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    Header header;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.count = static_cast<int64_t>(n);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    for (const std::string& path : paths) {
        const auto length = static_cast<int32_t>(path.size());
        out.write(reinterpret_cast<const char*>(&length), sizeof length);
        out.write(path.data(), length);
    }
    out.write(reinterpret_cast<const char*>(facts.data()), static_cast<std::streamsize>(n * sizeof(PictureFacts)));
    out.write(reinterpret_cast<const char*>(identical.data()), static_cast<std::streamsize>(n * sizeof(IdenticalSignature)));
    out.write(reinterpret_cast<const char*>(similar.data()), static_cast<std::streamsize>(n * sizeof(SimilarSignature)));
    out.close();
    const bool written = static_cast<bool>(out);
    std::error_code ec;
    if (written)
        std::filesystem::rename(partial, file, ec);
    if (!written || ec) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        std::filesystem::remove(partial, ec);
        std::exit(1);
    }
}

// One block of signatures: 1 the identical ones, 2 the similar ones; the
// first c.paths.size() of them.
template <typename Signature>
std::vector<Signature> readBlock(const std::string& file, const Collection& c, int block)
{
    std::ifstream in(file, std::ios::binary);
    std::streamoff offset = c.identicalOffset;
    if (block == 2)
        offset += c.stored * static_cast<std::streamoff>(sizeof(IdenticalSignature));
    std::vector<Signature> out(c.paths.size());
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size() * sizeof(Signature)));
    if (!in) {
        std::fprintf(stderr, "cannot read the signatures of %s\n", file.c_str());
        std::exit(1);
    }
    return out;
}

bool readCollection(const std::string& file, Collection& c)
{
    std::ifstream in(file, std::ios::binary);
    Header header;
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header) || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0
        || header.identicalBytes != static_cast<int64_t>(sizeof(IdenticalSignature))
        || header.similarBytes != static_cast<int64_t>(sizeof(SimilarSignature)) || header.count < 0)
        return false;
    c.paths.resize(static_cast<std::size_t>(header.count));
    for (std::string& path : c.paths) {
        int32_t length = 0;
        in.read(reinterpret_cast<char*>(&length), sizeof length);
        if (!in || length < 0 || length > 4096)
            return false;
        path.resize(static_cast<std::size_t>(length));
        in.read(path.data(), length);
    }
    c.facts.resize(c.paths.size());
    in.read(reinterpret_cast<char*>(c.facts.data()), static_cast<std::streamsize>(c.facts.size() * sizeof(PictureFacts)));
    c.stored = header.count;
    c.identicalOffset = in.tellg();
    return static_cast<bool>(in);
}

struct Step {
    double pairs = 0;  // the pair phase
    double lines = 0;  // sorting the result lines
    double walk = 0;   // PairList and the grouping walk
    std::size_t lineCount = 0;
    std::size_t groupCount = 0;
    double peakMb = 0;
};

// Past this many result lines the sort and the walk are not timed (the lines
// of tens of millions of pairs do not fit in memory beside everything else).
std::size_t g_maxLines = 5000000;
std::string g_levels = "012";

bool levelChosen(int32_t level)
{
    return g_levels.find(static_cast<char>('0' + level)) != std::string::npos;
}

void finish(std::vector<std::string>& lines, Step& step)
{
    step.lineCount = lines.size();
    if (lines.size() > g_maxLines)
        return;
    auto start = Clock::now();
    sortLines(lines);
    step.lines = secondsSince(start);
    start = Clock::now();
    std::vector<PairRec> pairs = buildPairList(lines);
    step.groupCount = groupsWhenAllOk(pairs).size();
    step.walk = secondsSince(start);
}

void print(const char* what, const Step& step)
{
    const double total = step.pairs + step.lines + step.walk;
    std::printf("  %-22s pairs %7.2f s, sort %5.2f s, walk %5.2f s = %7.2f s%s; %8zu lines, %6zu groups, peak %6.0f MB\n",
                what, step.pairs, step.lines, step.walk, total, total < 15 ? "" : " (target: under 15 s)",
                step.lineCount, step.groupCount, step.peakMb);
    std::fflush(stdout);
}

// The identical engine over `members` (indices into the collection) with the given limits.
std::vector<std::string> identicalLines(const Collection& c, const std::vector<IdenticalSignature>& sigs,
                                        const std::vector<int32_t>& members, const std::vector<int32_t>& tableIndex,
                                        const MatchLimits& limits, int32_t jobs)
{
    std::vector<PairSignature> kept;
    std::vector<int32_t> keptMembers;
    for (int32_t m : members) {
        if (c.facts[static_cast<std::size_t>(m)].identicalOk) {
            kept.push_back(PairSignature::from(sigs[static_cast<std::size_t>(m)]));
            keptMembers.push_back(m);
        }
    }
    const std::atomic<bool> abortFlag {false};
    const std::vector<PairMatch> matches = findIdenticalPairs(kept, limits, jobs, abortFlag);
    std::vector<std::string> lines;
    if (matches.size() > g_maxLines) {
        lines.resize(matches.size()); // counted, not written
        return lines;
    }
    for (const PairMatch& match : matches) {
        const int32_t a = keptMembers[static_cast<std::size_t>(match.a)];
        const int32_t b = keptMembers[static_cast<std::size_t>(match.b)];
        lines.push_back(identicalResultLine(tableIndex[static_cast<std::size_t>(a)], tableIndex[static_cast<std::size_t>(b)],
                                            match.result, kept[static_cast<std::size_t>(match.a)].centroids,
                                            kept[static_cast<std::size_t>(match.b)].centroids, c.paths[static_cast<std::size_t>(a)],
                                            c.paths[static_cast<std::size_t>(b)]));
    }
    return lines;
}

// The same pairs by the literal loop: every pair of the first n, MatchSignatures on each.
std::vector<std::string> identicalLiteral(const Collection& c, const std::vector<IdenticalSignature>& sigs, int32_t n,
                                          const MatchLimits& limits)
{
    std::vector<PairSignature> all;
    for (int32_t i = 0; i < n; ++i)
        all.push_back(PairSignature::from(sigs[static_cast<std::size_t>(i)]));
    std::vector<std::string> lines;
    for (int32_t a = 0; a < n; ++a) {
        if (!c.facts[static_cast<std::size_t>(a)].identicalOk)
            continue;
        for (int32_t b = a + 1; b < n; ++b) {
            MatchResult result;
            if (c.facts[static_cast<std::size_t>(b)].identicalOk
                && MatchSignatures(all[static_cast<std::size_t>(a)], all[static_cast<std::size_t>(b)], limits, result))
                lines.push_back(identicalResultLine(a, b, result, all[static_cast<std::size_t>(a)].centroids,
                                                    all[static_cast<std::size_t>(b)].centroids, c.paths[static_cast<std::size_t>(a)],
                                                    c.paths[static_cast<std::size_t>(b)]));
        }
    }
    sortLines(lines);
    return lines;
}

std::vector<int32_t> identity(int32_t n)
{
    std::vector<int32_t> v(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = i;
    return v;
}

void benchIdentical(const std::string& file, const Collection& c, int32_t jobs, int32_t check)
{
    resetPeakMemory();
    const std::vector<IdenticalSignature> sigs = readBlock<IdenticalSignature>(file, c, 1);
    const auto n = static_cast<int32_t>(c.paths.size());
    const std::vector<int32_t> all = identity(n);
    for (int32_t level : {kLevelStrict, kLevelMiddle, kLevelLoose}) {
        if (!levelChosen(level))
            continue;
        const MatchLimits limits = ChooseLimits(CheckMode::Identical, level);
        resetPeakMemory();
        Step step;
        const auto start = Clock::now();
        std::vector<std::string> lines = identicalLines(c, sigs, all, all, limits, jobs);
        step.pairs = secondsSince(start);
        finish(lines, step);
        step.peakMb = peakMemoryMb();
        const std::string what = "identical, level " + std::to_string(level);
        print(what.c_str(), step);
        if (check > 1) {
            const int32_t m = std::min(check, n);
            std::vector<std::string> pruned = identicalLines(c, sigs, identity(m), all, limits, jobs);
            sortLines(pruned);
            std::printf("    literal loop over the first %d: %s (%zu lines)\n", m,
                        pruned == identicalLiteral(c, sigs, m, limits) ? "same lines" : "DIFFERENT LINES", pruned.size());
        }
    }
}

// CheckMode 0 and 1: the table in run-key order, cut into runs, each run
// decided on its own (runs side by side on the threads, as the engine does).
void benchRuns(const std::string& file, const Collection& c, CheckMode mode, int32_t jobs)
{
    resetPeakMemory();
    const std::vector<IdenticalSignature> sigs = readBlock<IdenticalSignature>(file, c, 1);
    const auto n = static_cast<int32_t>(c.paths.size());
    std::vector<int32_t> order = identity(n);
    FileTable table;
    const auto keyOf = [&](int32_t i) {
        const PictureFacts& f = c.facts[static_cast<std::size_t>(i)];
        return mode == CheckMode::FileSize ? f.size : int64_t {f.height} * 10000 + f.width;
    };
    std::stable_sort(order.begin(), order.end(), [&](int32_t x, int32_t y) { return keyOf(x) < keyOf(y); });
    std::vector<int32_t> tableIndex(static_cast<std::size_t>(n));
    for (int32_t t = 0; t < n; ++t) {
        const PictureFacts& f = c.facts[static_cast<std::size_t>(order[static_cast<std::size_t>(t)])];
        File_rec rec;
        rec.path = c.paths[static_cast<std::size_t>(order[static_cast<std::size_t>(t)])];
        rec.size = f.size;
        rec.width = f.width;
        rec.height = f.height;
        table.push_back(rec);
        tableIndex[static_cast<std::size_t>(order[static_cast<std::size_t>(t)])] = t;
    }
    const MatchLimits limits = ChooseLimits(mode, kLevelStrict);
    Step step;
    const auto start = Clock::now();
    const std::vector<RunMembers> runs = formRuns(table, mode);
    std::vector<std::vector<std::string>> runLines(runs.size());
    std::size_t members = 0;
    for (const RunMembers& run : runs)
        members += run.size();
    parallelFor(static_cast<int64_t>(runs.size()), jobs, [&](int64_t r, int32_t) {
        std::vector<int32_t> collectionMembers;
        for (int32_t t : runs[static_cast<std::size_t>(r)])
            collectionMembers.push_back(order[static_cast<std::size_t>(t)]);
        runLines[static_cast<std::size_t>(r)] = identicalLines(c, sigs, collectionMembers, tableIndex, limits, 1);
    });
    std::vector<std::string> lines;
    for (auto& part : runLines)
        lines.insert(lines.end(), part.begin(), part.end());
    step.pairs = secondsSince(start);
    finish(lines, step);
    step.peakMb = peakMemoryMb();
    char what[64];
    std::snprintf(what, sizeof what, "%s (%zu runs, %zu files)", mode == CheckMode::FileSize ? "size" : "dims",
                  runs.size(), members);
    print(what, step);
}

// Processor time of this process, all threads: on a shared machine it moves
// far less with the load than the wall time does.
double processorSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void benchSimilar(const std::string& file, const Collection& c, int32_t jobs, int32_t check)
{
    resetPeakMemory();
    const std::vector<SimilarSignature> sigs = readBlock<SimilarSignature>(file, c, 2);
    FileTable table;
    for (std::size_t i = 0; i < c.paths.size(); ++i) {
        File_rec rec;
        rec.path = c.paths[i];
        rec.skip = c.facts[i].similarOk ? 0 : 1;
        rec.spreadA = sigs[i].spreadA;
        rec.spreadB = sigs[i].spreadB;
        table.push_back(rec);
    }
    const std::atomic<bool> abortFlag {false};
    for (int32_t level : {kLevelStrict, kLevelMiddle, kLevelLoose}) {
        if (!levelChosen(level))
            continue;
        resetPeakMemory();
        Step step;
        const auto start = Clock::now();
        const double processorStart = processorSeconds();
        std::vector<std::string> lines = runSimilarPairPass(SimilarPairPassInput {table, sigs, level, jobs, abortFlag});
        step.pairs = secondsSince(start);
        const double processor = processorSeconds() - processorStart;
        finish(lines, step);
        step.peakMb = peakMemoryMb();
        const std::string what = "similar, level " + std::to_string(level);
        print(what.c_str(), step);
        std::printf("    pair pass processor time %.2f s (all threads)\n", processor);
        if (check > 1) {
            // The first `check` files as a search of their own (the bounds follow its file count).
            const auto m = static_cast<std::size_t>(std::min<int64_t>(check, static_cast<int64_t>(table.size())));
            const FileTable part(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(m));
            const std::vector<SimilarSignature> partSigs(sigs.begin(), sigs.begin() + static_cast<std::ptrdiff_t>(m));
            std::vector<std::string> pruned = runSimilarPairPass(SimilarPairPassInput {part, partSigs, level, jobs, abortFlag});
            sortLines(pruned);
            std::vector<std::string> literal;
            const auto count = static_cast<int32_t>(m);
            for (int32_t a = 0; a < count; ++a) {
                for (int32_t b = a + 1; b < count; ++b) {
                    if (part[a].skip || part[b].skip)
                        continue;
                    if (const auto s = scoreSimilarPair(partSigs[a], partSigs[b], level, count))
                        literal.push_back(similarResultLine(*s, a, b, partSigs[a], partSigs[b], part[a].path, part[b].path));
                }
            }
            sortLines(literal);
            std::printf("    literal loop over the first %zu: %s (%zu lines)\n", m,
                        pruned == literal ? "same lines" : "DIFFERENT LINES", pruned.size());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: pair_phase_bench FOLDER SIGNATURES [--jobs N] [--check N] [--only identical|similar|size|dims]\n"
                   "                        [--levels 012] [--max-lines N] [--first N]\n",
                   stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string file = argv[2];
    int32_t jobs = 2;
    int32_t check = 0;
    std::string only;
    std::string levels = "012";
    int64_t first = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--jobs")
            jobs = std::atoi(argv[i + 1]);
        else if (arg == "--check")
            check = std::atoi(argv[i + 1]);
        else if (arg == "--only")
            only = argv[i + 1];
        else if (arg == "--max-lines")
            g_maxLines = static_cast<std::size_t>(std::atoll(argv[i + 1]));
        else if (arg == "--levels")
            levels = argv[i + 1];
        else if (arg == "--first")
            first = std::atoll(argv[i + 1]);
    }
    Collection c;
    if (!readCollection(file, c)) {
        makeSignatureFile(folder, file);
        if (!readCollection(file, c)) {
            std::fprintf(stderr, "cannot read back %s\n", file.c_str());
            return 1;
        }
    }
    if (first > 0 && static_cast<std::size_t>(first) < c.paths.size()) {
        c.paths.resize(static_cast<std::size_t>(first));
        c.facts.resize(static_cast<std::size_t>(first));
    }
    int32_t identicalOk = 0, similarOk = 0;
    for (const PictureFacts& f : c.facts) {
        identicalOk += f.identicalOk;
        similarOk += f.similarOk;
    }
    std::printf("pair_phase_bench: %zu pictures (%d with identical, %d with similar signatures), %d thread(s)\n",
                c.paths.size(), identicalOk, similarOk, jobs);
    g_levels = levels;
    if (only.empty() || only == "identical")
        benchIdentical(file, c, jobs, check);
    if (only.empty() || only == "size")
        benchRuns(file, c, CheckMode::FileSize, jobs);
    if (only.empty() || only == "dims")
        benchRuns(file, c, CheckMode::PictureSize, jobs);
    if (only.empty() || only == "similar")
        benchSimilar(file, c, jobs, check);
    return 0;
}
