#include "compare/similar/similar_pair_pass.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "compare/similar/similar_scoring.h"
#include "similar/random_signatures.h"

using similar_testing::Corpus;
using similar_testing::randomCorpus;

namespace {

std::vector<std::string> everyPairScored(const Corpus& c, int32_t level)
{
    std::vector<std::string> lines;
    const int32_t n = static_cast<int32_t>(c.files.size());
    for (int32_t a = 0; a + 1 < n; ++a) {
        if (c.files[a].skip != 0)
            continue;
        for (int32_t b = a + 1; b < n; ++b) {
            if (c.files[b].skip != 0 || c.files[a].spreadA == 0 || c.files[a].spreadB == 0
                || c.files[b].spreadA == 0 || c.files[b].spreadB == 0)
                continue;
            if (const auto s = scoreSimilarPair(c.signatures[a], c.signatures[b], level, n))
                lines.push_back(similarResultLine(*s, a, b, c.signatures[a], c.signatures[b], c.files[a].path, c.files[b].path));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

TEST(SimilarPairPassTest, BucketsAcceptExactlyThePairsOfTheFullLoop)
{
    const Corpus corpus = randomCorpus(400, 11);
    const std::atomic<bool> abortFlag {false};
    for (int32_t level = 0; level <= 2; ++level) {
        const std::vector<std::string> expected = everyPairScored(corpus, level);
        EXPECT_GT(expected.size(), 20u) << level;
        EXPECT_LT(expected.size(), 400u * 399 / 2 / 4) << level; // and rejects most
        for (int32_t jobs : {1, 3}) {
            std::vector<std::string> lines =
                runSimilarPairPass(SimilarPairPassInput {corpus.files, corpus.signatures, level, jobs, abortFlag});
            std::sort(lines.begin(), lines.end());
            EXPECT_EQ(lines, expected) << "level " << level << " jobs " << jobs;
        }
    }
}

TEST(SimilarPairPassTest, StricterBoundsAboveOneThousandFiles)
{
    // The 1001st file takes part in no pair; only the count changes.
    Corpus corpus = randomCorpus(1001, 5);
    corpus.files.back().skip = 1;
    const std::atomic<bool> abortFlag {false};
    const std::vector<std::string> large =
        runSimilarPairPass(SimilarPairPassInput {corpus.files, corpus.signatures, 0, 2, abortFlag});
    corpus.files.pop_back();
    corpus.signatures.pop_back();
    const std::vector<std::string> small =
        runSimilarPairPass(SimilarPairPassInput {corpus.files, corpus.signatures, 0, 2, abortFlag});
    EXPECT_LT(large.size(), small.size());
    std::vector<std::string> sortedLarge = large;
    std::vector<std::string> sortedSmall = small;
    std::sort(sortedLarge.begin(), sortedLarge.end());
    std::sort(sortedSmall.begin(), sortedSmall.end());
    EXPECT_TRUE(std::includes(sortedSmall.begin(), sortedSmall.end(), sortedLarge.begin(), sortedLarge.end()));
    EXPECT_EQ(sortedSmall, everyPairScored(corpus, 0));
}

TEST(SimilarPairPassTest, AbortScoresNoPair)
{
    const Corpus corpus = randomCorpus(60, 3);
    const std::atomic<bool> abortFlag {true};
    EXPECT_TRUE(runSimilarPairPass(SimilarPairPassInput {corpus.files, corpus.signatures, 2, 2, abortFlag}).empty());
}

TEST(SimilarPairPassTest, AbortMidwayKeepsOnlyLinesOfTheFullRun)
{
    const Corpus corpus = randomCorpus(900, 17);
    const std::atomic<bool> never {false};
    std::vector<std::string> full = runSimilarPairPass(SimilarPairPassInput {corpus.files, corpus.signatures, 2, 2, never});
    std::sort(full.begin(), full.end());

    // Raised from another thread while the pass runs: it must stop cleanly
    // (no hang, no crash) with lines that the full run also has.
    for (int32_t jobs : {1, 3}) {
        std::atomic<bool> abortFlag {false};
        std::thread raiser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            abortFlag = true;
        });
        std::vector<std::string> partial =
            runSimilarPairPass(SimilarPairPassInput {corpus.files, corpus.signatures, 2, jobs, abortFlag});
        raiser.join();
        std::sort(partial.begin(), partial.end());
        EXPECT_LE(partial.size(), full.size());
        EXPECT_TRUE(std::includes(full.begin(), full.end(), partial.begin(), partial.end()));
    }
}
