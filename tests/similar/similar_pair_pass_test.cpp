#include "compare/similar/similar_pair_pass.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "compare/similar/similar_scoring.h"

namespace {

// Signatures around a few prototypes, so that every gate both passes and
// rejects some pairs: codes nudged at random, profiles and maps with noise.
struct Corpus {
    FileTable files;
    std::vector<SimilarSignature> signatures;
};

Corpus randomCorpus(int32_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<SimilarSignature> prototypes(6);
    for (SimilarSignature& p : prototypes) {
        for (int32_t e = 1; e <= 12; ++e)
            p.bandCodes[e] = pick(1, 10) <= 6 ? 2 : pick(0, 1) * 2 + 1;
        for (int32_t row = 1; row <= 8; ++row) {
            for (int32_t i = 5; i <= 64; ++i)
                p.profiles[row][i] = static_cast<uint8_t>(pick(0, 80));
        }
        for (auto& cell : p.contrastMap)
            cell = static_cast<uint8_t>(pick(0, 2) == 0 ? 0 : pick(0, 1) == 0 ? 128 : 255);
        p.planeTotals = {pick(100000, 400000), pick(200000, 700000), pick(50000, 300000)};
        p.centroidX[3] = pick(20, 50);
        p.centroidY[3] = pick(20, 50);
        p.spreadA = pick(4, 20);
        p.spreadB = pick(4, 20);
    }
    Corpus corpus;
    for (int32_t i = 0; i < count; ++i) {
        SimilarSignature s = prototypes[static_cast<std::size_t>(pick(0, 5))];
        for (int32_t n = pick(0, 3); n > 0; --n)
            s.bandCodes[pick(1, 12)] = pick(1, 3);
        const int32_t noise = pick(0, 30);
        for (int32_t row = 3; row <= 6; ++row) {
            for (int32_t i2 = 5; i2 <= 64; ++i2)
                s.profiles[row][i2] = static_cast<uint8_t>(std::clamp(s.profiles[row][i2] + pick(-noise, noise), 0, 120));
        }
        for (int32_t n = pick(0, 2000); n > 0; --n)
            s.contrastMap[static_cast<std::size_t>(pick(0, 3599))] = static_cast<uint8_t>(pick(0, 1) * 255);
        s.planeTotals[0] += pick(-150000, 150000);
        s.planeTotals[1] += pick(-300000, 300000);
        s.centroidX[3] += pick(-3, 3);
        s.spreadA = std::max(1, s.spreadA + pick(-2, 2));
        File_rec file;
        file.path = "/pics/p" + std::to_string(i) + (i % 7 == 0 ? ",x.jpg" : ".jpg");
        file.spreadA = s.spreadA;
        file.spreadB = s.spreadB;
        if (i % 23 == 5)
            file.skip = 1;
        if (i % 31 == 9) {
            file.spreadA = 0; // no signature (an abort left it out)
            s = SimilarSignature {};
        }
        corpus.files.push_back(file);
        corpus.signatures.push_back(s);
    }
    return corpus;
}

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
