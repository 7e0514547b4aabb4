#include "compare/similar/similar_turned_pairs.h"

#include <algorithm>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "compare/similar/packed_similar_signature.h"
#include "compare/similar/similar_scoring.h"
#include "similar/byte_sum_kind.h"
#include "similar/random_signatures.h"

using similar_testing::Corpus;
using similar_testing::randomCorpus;

namespace {

constexpr std::size_t kTurned = kOrientationCount - 1;

bool eligible(const File_rec& file)
{
    return file.skip == 0 && file.spreadA != 0 && file.spreadB != 0;
}

// Another signature of each file: those of the corpus handed round, so that
// many pairs match across the two sets and the lines tell them apart.
std::vector<SimilarSignature> shuffled(const Corpus& c, std::size_t step)
{
    std::vector<SimilarSignature> out(c.signatures.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = c.signatures[(i * step + 1) % out.size()];
    return out;
}

// A's upright signature against B's turned one, for every pair A < B.
std::vector<std::string> everyPairAgainstTurned(const Corpus& c, const std::vector<SimilarSignature>& turned,
                                                int32_t level)
{
    std::vector<std::string> lines;
    const auto n = static_cast<int32_t>(c.files.size());
    for (int32_t a = 0; a < n; ++a) {
        for (int32_t b = a + 1; b < n; ++b) {
            if (!eligible(c.files[a]) || !eligible(c.files[b]) || turned[b].spreadA == 0 || turned[b].spreadB == 0)
                continue;
            if (const auto s = scoreSimilarPair(c.signatures[a], turned[b], level, n))
                lines.push_back(similarResultLine(*s, a, b, c.signatures[a], turned[b], c.files[a].path, c.files[b].path));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> turnedPass(const Corpus& c, const std::vector<SimilarSignature>& turned, int32_t level,
                                    int32_t jobs)
{
    const std::atomic<bool> abortFlag {false};
    SimilarPairPassInput input {c.files, c.signatures, level, jobs, abortFlag};
    input.turned = turned;
    std::vector<std::string> lines = runSimilarPairPass(input);
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

TEST(SimilarTurnedPairsTest, TurnedPassEqualsEveryPairAgainstTheTurnedSignatures)
{
    const Corpus corpus = randomCorpus(400, 21);
    std::vector<SimilarSignature> turned = shuffled(corpus, 7);
    turned[10] = SimilarSignature {}; // a file whose turned signature is missing
    for (int32_t level = 0; level <= 2; ++level) {
        const std::vector<std::string> expected = everyPairAgainstTurned(corpus, turned, level);
        EXPECT_GT(expected.size(), 20u) << level;
        for (int32_t jobs : {1, 3})
            EXPECT_EQ(turnedPass(corpus, turned, level, jobs), expected) << "level " << level << " jobs " << jobs;
        const ByteSumKind before = byteSumKind();
        for (ByteSumKind kind : {ByteSumKind::Plain, ByteSumKind::Shuffles, ByteSumKind::Permutes}) {
            setByteSumKind(kind);
            EXPECT_EQ(turnedPass(corpus, turned, level, 2), expected)
                << "level " << level << ", byte sums " << static_cast<int>(kind);
        }
        setByteSumKind(before);
    }
}

TEST(SimilarTurnedPairsTest, EachPairInTheFirstOrientationThatMatches)
{
    const Corpus corpus = randomCorpus(300, 23);
    const auto n = static_cast<int32_t>(corpus.files.size());
    std::vector<std::vector<SimilarSignature>> orientations {corpus.signatures};
    std::vector<PackedSimilarSignature> packed(corpus.files.size() * kTurned);
    for (std::size_t o = 1; o <= kTurned; ++o) {
        orientations.push_back(shuffled(corpus, 2 * o + 1));
        for (std::size_t f = 0; f < corpus.files.size(); ++f)
            ASSERT_TRUE(packSimilarSignature(orientations[o][f], packed[f * kTurned + o - 1]));
    }
    const int32_t level = 2;

    // The literal loop: every pair, the orientations in order, the first that matches.
    std::vector<std::string> expected;
    std::map<std::pair<int32_t, int32_t>, int32_t> expectedOrientation;
    for (int32_t a = 0; a < n; ++a) {
        for (int32_t b = a + 1; b < n; ++b) {
            if (!eligible(corpus.files[a]) || !eligible(corpus.files[b]))
                continue;
            for (int32_t o = 0; o < kOrientationCount; ++o) {
                const SimilarSignature& sb = orientations[static_cast<std::size_t>(o)][static_cast<std::size_t>(b)];
                if (const auto s = scoreSimilarPair(corpus.signatures[a], sb, level, n)) {
                    expected.push_back(similarResultLine(*s, a, b, corpus.signatures[a], sb, corpus.files[a].path,
                                                         corpus.files[b].path));
                    expectedOrientation[{a, b}] = o;
                    break;
                }
            }
        }
    }
    std::sort(expected.begin(), expected.end());
    std::set<int32_t> orientationsMet;
    for (const auto& [pair, o] : expectedOrientation)
        orientationsMet.insert(o);
    EXPECT_GE(orientationsMet.size(), 6u); // the corpus reaches nearly every orientation

    for (int32_t jobs : {1, 2}) {
        const std::atomic<bool> abortFlag {false};
        const SimilarPairPassInput input {corpus.files, corpus.signatures, level, jobs, abortFlag};
        int64_t counted = 0;
        std::vector<std::string> lines = runSimilarPairPass(input, &counted);
        PairOrientations found;
        addTurnedSimilarPairs(input, packed, counted, lines, &found);
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, expected) << jobs;
        for (const auto& [pair, o] : expectedOrientation)
            EXPECT_EQ(found.of(pair.first, pair.second), orientationAt(o)) << pair.first << "," << pair.second;
        std::size_t turnedPairs = 0;
        for (const auto& [pair, o] : expectedOrientation)
            turnedPairs += o != 0 ? 1 : 0;
        EXPECT_EQ(found.size(), turnedPairs);
    }
}

TEST(SimilarTurnedPairsTest, AbortScoresNoTurnedPair)
{
    const Corpus corpus = randomCorpus(80, 25);
    std::vector<PackedSimilarSignature> packed(corpus.files.size() * kTurned);
    for (std::size_t f = 0; f < corpus.files.size(); ++f) {
        for (std::size_t k = 0; k < kTurned; ++k)
            packSimilarSignature(corpus.signatures[f], packed[f * kTurned + k]);
    }
    const std::atomic<bool> abortFlag {true};
    const SimilarPairPassInput input {corpus.files, corpus.signatures, 2, 2, abortFlag};
    std::vector<std::string> lines;
    PairOrientations found;
    addTurnedSimilarPairs(input, packed, 0, lines, &found);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(found.empty());
}

TEST(PackedSimilarSignatureTest, KeepsWhatThePairPassReads)
{
    const Corpus corpus = randomCorpus(40, 27);
    for (std::size_t i = 0; i < corpus.signatures.size(); ++i) {
        const SimilarSignature& s = corpus.signatures[i];
        PackedSimilarSignature packed;
        ASSERT_TRUE(packSimilarSignature(s, packed));
        SimilarSignature back;
        back.spreadA = -1; // overwritten
        unpackSimilarSignature(packed, back);
        EXPECT_EQ(back.contrastMap, s.contrastMap) << i;
        for (int32_t row = 3; row <= 6; ++row) {
            for (int32_t k = kInnerFirst; k <= kInnerLast; ++k)
                ASSERT_EQ(back.profiles[row][k], s.profiles[row][k]) << i << " row " << row;
        }
        EXPECT_EQ(back.profiles[1], (std::array<uint8_t, kSimilarGridSize> {}));
        EXPECT_EQ(back.bandCodes, s.bandCodes) << i;
        EXPECT_EQ(back.planeTotals, s.planeTotals) << i;
        EXPECT_EQ(back.centroidX[kWarmCentroid], s.centroidX[kWarmCentroid]);
        EXPECT_EQ(back.centroidY[kWarmCentroid], s.centroidY[kWarmCentroid]);
        EXPECT_EQ(back.centroidX[0], 0);
        EXPECT_EQ(back.spreadA, s.spreadA);
        EXPECT_EQ(back.spreadB, s.spreadB);
    }
    EXPECT_LE(sizeof(PackedSimilarSignature), 1200u);

    // A map value the quantisation never writes: no signature, not a wrong one.
    SimilarSignature odd = corpus.signatures[0];
    odd.contrastMap[1234] = 7;
    PackedSimilarSignature packed;
    EXPECT_FALSE(packSimilarSignature(odd, packed));
    EXPECT_EQ(packed.spreadA, 0);
    EXPECT_EQ(packed.spreadB, 0);
}
