#include "compare/similar/similar_pair_pass.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "compare/similar/similar_byte_sums.h"
#include "compare/similar/similar_scoring.h"
#include "similar/byte_sum_kind.h"
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

std::vector<std::string> passLines(const Corpus& c, int32_t level, int32_t jobs)
{
    const std::atomic<bool> abortFlag {false};
    std::vector<std::string> lines = runSimilarPairPass(SimilarPairPassInput {c.files, c.signatures, level, jobs, abortFlag});
    std::sort(lines.begin(), lines.end());
    return lines;
}

void expectSameAsFullLoop(const Corpus& c, const char* what)
{
    for (int32_t level = 0; level <= 2; ++level) {
        const std::vector<std::string> expected = everyPairScored(c, level);
        EXPECT_FALSE(expected.empty()) << what << ", level " << level;
        for (int32_t jobs : {1, 2, 3})
            EXPECT_EQ(passLines(c, level, jobs), expected) << what << ", level " << level << ", jobs " << jobs;
        // The pass without the vector lanes (processors without byte
        // permutes) and with them give the same lines.
        const ByteSumKind before = byteSumKind();
        for (ByteSumKind kind : {ByteSumKind::Plain, ByteSumKind::Shuffles, ByteSumKind::Permutes}) {
            setByteSumKind(kind);
            EXPECT_EQ(passLines(c, level, 2), expected)
                << what << ", level " << level << ", byte sums " << static_cast<int>(kind);
        }
        setByteSumKind(before);
    }
}

void addFile(Corpus& c, const SimilarSignature& s)
{
    File_rec file;
    file.path = "/pics/e" + std::to_string(c.files.size()) + ".jpg";
    file.spreadA = s.spreadA;
    file.spreadB = s.spreadB;
    c.files.push_back(file);
    c.signatures.push_back(s);
}

// One picture, everything but the band codes shared: every pair scores 0,
// so the lines are exactly the pairs the code gate lets through.
SimilarSignature sharedPicture()
{
    SimilarSignature s;
    s.bandCodes.fill(2);
    s.bandCodes[0] = 0;
    for (int32_t row = 1; row <= 8; ++row) {
        for (int32_t i = kInnerFirst; i <= kInnerLast; ++i)
            s.profiles[row][i] = static_cast<uint8_t>(20 + (i * 7 + row * 13) % 60);
    }
    for (std::size_t i = 0; i < s.contrastMap.size(); ++i)
        s.contrastMap[i] = static_cast<uint8_t>((i * 37) % 3 * 127);
    s.planeTotals = {200000, 400000, 150000};
    s.centroidX[kWarmCentroid] = 33;
    s.centroidY[kWarmCentroid] = 37;
    s.spreadA = 12;
    s.spreadB = 9;
    return s;
}

} // namespace

TEST(SimilarPairPassTest, CodesInOneBucketAndAtEveryGateDistanceEqualTheFullLoop)
{
    // Half the pictures in one bucket (all codes 2); the rest with 0 to 6
    // codes of a half turned to 1 or 3, so that pairs meet the code gate at
    // each distance up to its limit and past it, bonuses included.
    std::mt19937 rng(41);
    const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Corpus corpus;
    for (int32_t i = 0; i < 360; ++i) {
        SimilarSignature s = sharedPicture();
        if (i % 2 == 1) {
            for (int32_t half : {0, 1}) {
                const int32_t changed = pick(0, 6);
                for (int32_t e = 0; e < changed; ++e)
                    s.bandCodes[static_cast<std::size_t>(6 * half + 1 + e)] = pick(0, 1) == 0 ? 1 : 3;
            }
        }
        addFile(corpus, s);
    }
    expectSameAsFullLoop(corpus, "codes");
    // All in one bucket: every pair is accepted.
    Corpus one;
    for (int32_t i = 0; i < 80; ++i)
        addFile(one, sharedPicture());
    for (int32_t level = 0; level <= 2; ++level)
        EXPECT_EQ(passLines(one, level, 2).size(), 80u * 79u / 2u);
}

TEST(SimilarPairPassTest, ScoresAtTheirBoundsAndWindowsAtTheirEdgesEqualTheFullLoop)
{
    // Pictures that differ from a common one in one score by amounts that
    // run across that score's bound at every level, so that some pairs sit
    // on each side of it; warm centroids 21 and 22 cells apart (the window
    // there or not), at the grid's ends, and spreads from 1 to far beyond
    // those of real pictures.
    std::mt19937 rng(43);
    const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Corpus corpus;
    for (int32_t i = 0; i < 300; ++i) {
        SimilarSignature s = sharedPicture();
        const int32_t amount = pick(20, 95);
        switch (i % 6) {
        case 0: // luminance profile along x lowered by `amount` on average (plain sum)
            for (int32_t k = kInnerFirst; k <= kInnerLast; ++k)
                s.profiles[3][k] = static_cast<uint8_t>(s.profiles[3][k] + amount / 3);
            break;
        case 1: // the contrast map shifted by `amount` in every cell
            for (auto& cell : s.contrastMap)
                cell = static_cast<uint8_t>(std::min(255, cell + amount));
            break;
        case 2: // chroma contrast profiles
            for (int32_t k = kInnerFirst; k <= kInnerLast; ++k)
                s.profiles[5 + pick(0, 1)][k] = static_cast<uint8_t>(s.profiles[5][k] + amount / 2);
            break;
        case 3: // plane totals: the terms added to each score
            s.planeTotals[static_cast<std::size_t>(pick(0, 2))] += pick(-1, 1) * amount * 9000;
            break;
        default:
            break;
        }
        // Warm centroids and spreads.
        switch (pick(0, 5)) {
        case 0:
            s.centroidX[kWarmCentroid] = 33 + (pick(0, 1) == 0 ? 21 : 22);
            break;
        case 1:
            s.centroidY[kWarmCentroid] = 37 - (pick(0, 1) == 0 ? 21 : 22);
            break;
        case 2:
            s.centroidX[kWarmCentroid] = pick(0, 1) == 0 ? kInnerFirst : kInnerLast;
            break;
        case 3:
            s.spreadA = pick(0, 1) == 0 ? 1 : pick(60, 300);
            break;
        case 4:
            s.spreadB = pick(1, 3);
            break;
        default:
            break;
        }
        addFile(corpus, s);
    }
    expectSameAsFullLoop(corpus, "bounds");
}

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

// The pass sums most maps from their bit planes; a map holding another value
// than 0, 128 and 255 keeps the byte sums, alone or against a packed map.
TEST(SimilarPairPassTest, PackedAndUnpackedMapsEqualTheFullLoop)
{
    Corpus corpus = randomCorpus(300, 13);
    for (std::size_t i = 0; i < corpus.signatures.size(); i += 3)
        corpus.signatures[i].contrastMap[(i * 61) % 3600] = static_cast<uint8_t>(1 + i % 200);
    expectSameAsFullLoop(corpus, "packed and unpacked maps");
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
