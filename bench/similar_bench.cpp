// Times the similar-picture engine:
//  1. over a folder of real-size JPEGs (made by make_bench_photos): decoding
//     alone, the whole engine on one thread (target: within 1.15 x of
//     decoding), and on two threads (target: at least 1.7 x faster than one);
//  2. the pair pass over 20,000 synthetic signatures (target: under 5 s),
//     beside the plain loop over every pair, whose accepted pairs it must
//     match exactly.
//
//   similar_bench [FOLDER|- [SIGNATURES [quick|full [LEVEL|all [photos|varied|whole]]]]]
//
// Without FOLDER, 24 pictures of 3000 x 2000 are generated into a temporary
// folder with make_bench_photos from the same build folder; "-" skips the
// folder part. "quick" skips the plain loop over every pair (over a minute
// of processor time for 20,000 signatures); LEVEL runs that CheckLevel
// only ("all" or -1: every level). The last argument picks the pool of
// pictures the signatures come from (see Pool). The synthetic
// signatures take their band codes, profiles and maps from the signatures of
// 300 generated pictures, mixed group by group and perturbed, so that the
// code distribution (what the bucketing depends on) is that of pictures.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_photos.h"
#include "common/parallel_for.h"
#include "compare/similar/similar_engine.h"
#include "compare/similar/similar_pair_pass.h"
#include "compare/similar/similar_reduction.h"
#include "compare/similar/similar_scoring.h"
#include "picture/picture_loader.h"
#include "support/test_pictures.h"

namespace {

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the whole process: less disturbed than the wall clock
// by other work on a shared machine, but it adds up over threads.
double cpuSeconds(const std::function<void()>& work)
{
    const std::clock_t start = std::clock();
    work();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

double bestSeconds(int rounds, const std::function<void()>& work)
{
    double best = 1e9;
    for (int r = 0; r < rounds; ++r)
        best = std::min(best, seconds(work));
    return best;
}

struct EngineResult {
    std::vector<std::string> lines;
    int32_t loaded = 0;
};

EngineResult runEngine(const std::vector<std::string>& paths, int32_t jobs)
{
    FileTable files;
    for (const std::string& path : paths) {
        File_rec file;
        file.path = path;
        files.push_back(file);
    }
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    const std::atomic<bool> abortFlag {false};
    EngineContext ctx {files, lines, unreadable, counters, abortFlag};
    ctx.mode = CheckMode::Similar;
    ctx.jobs = jobs;
    CompareSimilar(ctx);
    std::sort(lines.begin(), lines.end());
    return EngineResult {lines, counters.loadCount};
}

void benchFolder(const std::string& folder)
{
    const std::vector<std::string> paths = bench::jpegFilesIn(folder);
    std::printf("folder %s: %zu JPEG files\n", folder.c_str(), paths.size());
    const double decode = bestSeconds(2, [&] {
        for (const std::string& path : paths) {
            const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
            if (!loaded.ok())
                std::fprintf(stderr, "  cannot load %s\n", path.c_str());
        }
    });
    const double decode2 = bestSeconds(2, [&] {
        parallelFor(static_cast<int64_t>(paths.size()), 2, [&](int64_t i, int32_t) {
            (void)loadPicture(paths[static_cast<std::size_t>(i)], JpegIdct::Fast);
        });
    });
    EngineResult one;
    EngineResult two;
    const double engine1 = bestSeconds(2, [&] { one = runEngine(paths, 1); });
    const double engine2 = bestSeconds(2, [&] { two = runEngine(paths, 2); });
    std::printf("  decode alone, 1 thread     %8.3f s\n", decode);
    std::printf("  decode alone, 2 threads    %8.3f s   %.2f x faster than 1 thread\n", decode2, decode / decode2);
    std::printf("  engine, 1 thread           %8.3f s   %.3f x decode (target <= 1.15)\n", engine1, engine1 / decode);
    std::printf("  engine, 2 threads          %8.3f s   %.2f x faster than 1 thread (target >= 1.7)\n", engine2,
                engine1 / engine2);
    std::printf("  loaded %d, result lines %zu, same with 2 threads: %s\n", one.loaded, one.lines.size(),
                one.lines == two.lines ? "yes" : "NO");
}

// Where the synthetic signatures come from.
enum class Pool {
    Photos, // 300 make_bench_photos pictures; each group of band codes from another one
    Varied, // 150 of those and 150 photoLikePicture ones of three shapes; the same mixing
    Whole,  // the varied pictures, each band-code vector whole from one picture
};

std::vector<SimilarSignature> poolOfSignatures(const std::filesystem::path& self, Pool kind)
{
    const testing_support::TempDir dir;
    const int32_t photos = kind == Pool::Photos ? 300 : 150;
    bench::makeBenchPhotos(self, dir.str(), photos, 480, 320);
    const std::vector<std::string> paths = bench::jpegFilesIn(dir.str());
    std::vector<SimilarSignature> pool(paths.size());
    parallelFor(static_cast<int64_t>(paths.size()), 0, [&](int64_t i, int32_t) {
        const LoadedPicture loaded = loadPicture(paths[static_cast<std::size_t>(i)], JpegIdct::Fast);
        if (loaded.ok())
            reduceSimilarPicture(loaded.picture, pool[static_cast<std::size_t>(i)]);
    });
    if (kind != Pool::Photos) {
        // Flat backgrounds with discs of colour: far more uneven thirds than
        // the generated landscapes.
        constexpr int32_t kDiscPictures = 150;
        constexpr int32_t kShapes[3][2] = {{480, 320}, {320, 480}, {400, 400}};
        const std::size_t first = pool.size();
        pool.resize(first + kDiscPictures);
        parallelFor(kDiscPictures, 0, [&](int64_t i, int32_t) {
            const auto* shape = kShapes[i % 3];
            const Picture picture = testing_support::photoLikePicture(shape[0], shape[1], 5000u + static_cast<uint32_t>(i));
            reduceSimilarPicture(picture, pool[first + static_cast<std::size_t>(i)]);
        });
    }
    return pool;
}

struct SyntheticSearch {
    FileTable files;
    std::vector<SimilarSignature> signatures;
};

SyntheticSearch syntheticSignatures(const std::vector<SimilarSignature>& pool, int32_t count, bool wholeCodes)
{
    std::mt19937 rng(2024);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const auto any = [&]() -> const SimilarSignature& { return pool[static_cast<std::size_t>(pick(0, static_cast<int>(pool.size()) - 1))]; };
    SyntheticSearch search;
    search.signatures.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        // Every part from another picture of the pool, so that near copies
        // are as rare as in a real collection; each group of three band
        // codes likewise, which keeps the per-group code distribution.
        SimilarSignature s = any();
        for (int32_t group = 0; group < 4 && !wholeCodes; ++group) {
            const SimilarSignature& donor = any();
            for (int32_t e = 3 * group + 1; e <= 3 * group + 3; ++e)
                s.bandCodes[e] = donor.bandCodes[e];
        }
        for (int32_t row = 1; row <= 8; ++row)
            s.profiles[row] = any().profiles[row];
        const SimilarSignature& mapDonor = any();
        const int32_t shiftX = pick(0, 59);
        const int32_t shiftY = pick(0, 59);
        for (int32_t x = 0; x < kInnerSize; ++x) {
            for (int32_t y = 0; y < kInnerSize; ++y)
                s.contrastMap[static_cast<std::size_t>(x * kInnerSize + y)] =
                    mapDonor.contrastMap[static_cast<std::size_t>((x + shiftX) % kInnerSize * kInnerSize + (y + shiftY) % kInnerSize)];
        }
        for (int32_t k = 0; k < 3; ++k)
            s.planeTotals[k] = any().planeTotals[k];
        const SimilarSignature& warmDonor = any();
        s.centroidX[kWarmCentroid] = warmDonor.centroidX[kWarmCentroid];
        s.centroidY[kWarmCentroid] = warmDonor.centroidY[kWarmCentroid];
        s.spreadA = warmDonor.spreadA;
        s.spreadB = warmDonor.spreadB;
        File_rec file;
        file.path = "/photos/img_" + std::to_string(i) + ".jpg";
        file.spreadA = s.spreadA;
        file.spreadB = s.spreadB;
        search.files.push_back(file);
        search.signatures.push_back(s);
    }
    return search;
}

std::vector<std::string> everyPair(const SyntheticSearch& search, int32_t level)
{
    const int32_t n = static_cast<int32_t>(search.files.size());
    std::vector<std::string> lines;
    for (int32_t a = 0; a + 1 < n; ++a) {
        for (int32_t b = a + 1; b < n; ++b) {
            const SimilarSignature& sa = search.signatures[a];
            const SimilarSignature& sb = search.signatures[b];
            if (const auto scores = scoreSimilarPair(sa, sb, level, n))
                lines.push_back(similarResultLine(*scores, a, b, sa, sb, search.files[a].path, search.files[b].path));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void benchPairPass(const std::filesystem::path& self, int32_t count, bool withReference, int32_t onlyLevel, Pool kind)
{
    const std::vector<SimilarSignature> pool = poolOfSignatures(self, kind);
    const SyntheticSearch search = syntheticSignatures(pool, count, kind == Pool::Whole);
    int32_t distinctCodes = 0;
    {
        std::vector<std::array<int32_t, 13>> codes;
        for (const SimilarSignature& s : search.signatures)
            codes.push_back(s.bandCodes);
        std::sort(codes.begin(), codes.end());
        distinctCodes = static_cast<int32_t>(std::unique(codes.begin(), codes.end()) - codes.begin());
    }
    static const char* const kPoolNames[] = {"generated landscapes, codes mixed by group",
                                             "landscapes and disc pictures, codes mixed by group",
                                             "landscapes and disc pictures, whole code vectors"};
    std::printf("pair pass: %d synthetic signatures from a pool of %zu pictures (%s), %d distinct band codes\n", count,
                pool.size(), kPoolNames[static_cast<int>(kind)], distinctCodes);
    {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int32_t> anyIndex(0, count - 1);
        int32_t passed[3] = {0, 0, 0};
        constexpr int32_t kSamples = 1000000;
        for (int32_t i = 0; i < kSamples; ++i) {
            const CodeDistances codes =
                codeDistances(search.signatures[static_cast<std::size_t>(anyIndex(rng))],
                              search.signatures[static_cast<std::size_t>(anyIndex(rng))]);
            for (int32_t level = 0; level <= 2; ++level)
                passed[level] += passesCodeGate(codes, level) ? 1 : 0;
        }
        std::printf("  pairs through the code gate: level 0 %.2f %%, level 1 %.2f %%, level 2 %.2f %%\n",
                    100.0 * passed[0] / kSamples, 100.0 * passed[1] / kSamples, 100.0 * passed[2] / kSamples);
    }
    const std::atomic<bool> abortFlag {false};
    for (int32_t level = 0; level <= 2; ++level) {
        if (onlyLevel >= 0 && level != onlyLevel)
            continue;
        std::vector<std::string> bucketed;
        for (int32_t jobs : {1, 2}) {
            double cpu = 0;
            const double t = seconds([&] {
                cpu = cpuSeconds([&] {
                    bucketed = runSimilarPairPass(SimilarPairPassInput {search.files, search.signatures, level, jobs, abortFlag});
                });
            });
            std::printf("  level %d, %d thread(s)      %8.3f s (processor %.3f s)   %zu lines (target < 5 s)\n", level,
                        jobs, t, cpu, bucketed.size());
        }
        std::sort(bucketed.begin(), bucketed.end());
        if (level == 0 && withReference) {
            std::vector<std::string> plain;
            double cpu = 0;
            const double t = seconds([&] { cpu = cpuSeconds([&] { plain = everyPair(search, level); }); });
            std::printf("  level %d, every pair, 1 thread %8.3f s (processor %.3f s)   same lines: %s\n", level, t, cpu,
                        plain == bucketed ? "yes" : "NO");
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path self = std::filesystem::absolute(argv[0]);
    const int32_t count = argc >= 3 ? std::atoi(argv[2]) : 20000;
    const bool withReference = !(argc >= 4 && std::string(argv[3]) == "quick");
    const int32_t onlyLevel = argc >= 5 && std::string(argv[4]) != "all" ? std::atoi(argv[4]) : -1;
    const std::string poolName = argc >= 6 ? argv[5] : "photos";
    const Pool pool = poolName == "varied" ? Pool::Varied : poolName == "whole" ? Pool::Whole : Pool::Photos;
    if (argc >= 2 && std::string(argv[1]) == "-") {
        // pair pass only
    } else if (argc >= 2) {
        benchFolder(argv[1]);
    } else {
        const testing_support::TempDir dir;
        bench::makeBenchPhotos(self, dir.str(), 24);
        benchFolder(dir.str());
    }
    benchPairPass(self, std::max(2, count), withReference, onlyLevel, pool);
    return 0;
}
