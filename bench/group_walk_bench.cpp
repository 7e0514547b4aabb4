// Timings of the grouping walk on large pair lists:
//   - cliques: 1,000 groups of 20 files, every pair of a group matching (as
//     exact duplicates do), 190,000 pairs interleaved by score the way a
//     sorted result list interleaves them; the second argument adds that many
//     unrelated pairs (10,000 makes 200,000 pairs). Target: under a second.
//   - chain: one chain of pairs, one GatherGroup level per pair.
//   - overflow: one clique of 500 files, far past MaxGroup.
//   - parse: building the PairList from 200,000 result lines.

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "review/group_walk.h"
#include "search/pair_list.h"

namespace {

struct ScoredPair {
    int32_t score = 0;
    int32_t a = 0;
    int32_t b = 0;
};

// Pairs in result-list order: by score, then IndexA, then IndexB.
std::vector<PairRec> inListOrder(std::vector<ScoredPair> scored)
{
    std::sort(scored.begin(), scored.end(), [](const ScoredPair& x, const ScoredPair& y) {
        return std::tie(x.score, x.a, x.b) < std::tie(y.score, y.a, y.b);
    });
    std::vector<PairRec> pairs;
    pairs.reserve(scored.size());
    for (const ScoredPair& s : scored)
        pairs.push_back(PairRec {PairState::Waiting, s.a, s.b});
    return pairs;
}

std::vector<PairRec> cliquePairs(int32_t cliques, int32_t members, int32_t strays)
{
    std::mt19937 random(42);
    const int32_t fileCount = cliques * members + 2 * strays;
    std::vector<int32_t> fileOf(fileCount);
    std::iota(fileOf.begin(), fileOf.end(), 0);
    std::shuffle(fileOf.begin(), fileOf.end(), random);

    std::vector<ScoredPair> scored;
    for (int32_t c = 0; c < cliques; ++c) {
        for (int32_t x = 0; x < members; ++x) {
            for (int32_t y = x + 1; y < members; ++y) {
                const int32_t a = fileOf[c * members + x];
                const int32_t b = fileOf[c * members + y];
                scored.push_back({static_cast<int32_t>(random() % 1000), std::min(a, b), std::max(a, b)});
            }
        }
    }
    for (int32_t s = 0; s < strays; ++s) {
        const int32_t a = fileOf[cliques * members + 2 * s];
        const int32_t b = fileOf[cliques * members + 2 * s + 1];
        scored.push_back({static_cast<int32_t>(random() % 1000), std::min(a, b), std::max(a, b)});
    }
    return inListOrder(std::move(scored));
}

void runWalk(benchmark::State& state, std::vector<PairRec>& pairs)
{
    int64_t groups = 0;
    int64_t members = 0;
    for (auto _ : state) {
        groups = 0;
        members = 0;
        // Each walk turns the pairs the previous one took back to waiting.
        Graphic_File_Disp(pairs, [&](std::vector<int32_t>& group) {
            ++groups;
            members += static_cast<int64_t>(group.size());
            return ReviewResult::Ok;
        });
    }
    state.counters["pairs"] = static_cast<double>(pairs.size());
    state.counters["groups"] = static_cast<double>(groups);
    state.counters["shown"] = static_cast<double>(members);
}

void BM_WalkCliques(benchmark::State& state)
{
    auto pairs = cliquePairs(static_cast<int32_t>(state.range(0)), 20, static_cast<int32_t>(state.range(1)));
    runWalk(state, pairs);
}
BENCHMARK(BM_WalkCliques)->Args({1000, 0})->Args({1000, 10000})->Unit(benchmark::kMillisecond);

void BM_WalkChain(benchmark::State& state)
{
    const auto links = static_cast<int32_t>(state.range(0));
    std::vector<PairRec> pairs;
    for (int32_t k = 0; k < links; ++k)
        pairs.push_back(PairRec {PairState::Waiting, k, k + 1});
    runWalk(state, pairs);
}
BENCHMARK(BM_WalkChain)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_WalkOverflowClique(benchmark::State& state)
{
    auto pairs = cliquePairs(1, static_cast<int32_t>(state.range(0)), 0);
    runWalk(state, pairs);
}
BENCHMARK(BM_WalkOverflowClique)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_BuildPairList(benchmark::State& state)
{
    const auto pairs = cliquePairs(1000, 20, 10000);
    std::vector<std::string> lines;
    char line[64];
    for (const PairRec& p : pairs) {
        std::snprintf(line, sizeof line, "%.4d, %.6d, %.6d, 0001,0002", 12, p.indexA, p.indexB);
        lines.emplace_back(line);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(buildPairList(lines));
    state.counters["lines"] = static_cast<double>(lines.size());
}
BENCHMARK(BM_BuildPairList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
