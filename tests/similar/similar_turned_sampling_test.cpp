// The similar sampling of a picture in all eight orientations, taken from the
// stored picture's rows, against the sampling of the picture turned in memory.

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "compare/picture_reduction.h"
#include "compare/picture_rows.h"
#include "compare/similar/similar_reduction.h"
#include "compare/similar/similar_sampler.h"
#include "picture/orientation.h"
#include "support/test_pictures.h"

namespace {

using testing_support::patternPicture;
using testing_support::photoLikePicture;

// Neighbouring pixels differ, so a block read one pixel off changes a cell.
Picture noisePicture(int32_t width, int32_t height, uint32_t seed)
{
    return patternPicture(width, height, [seed](int32_t x, int32_t y) {
        uint32_t h = seed * 2654435761u ^ static_cast<uint32_t>(x) * 40503u ^ static_cast<uint32_t>(y) * 9973u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return (h & 0x7F7F7F) + 0x303030; // never near black: the stretch takes part
    });
}

// Content inside a wide uniform frame on three sides: every orientation
// samples the content window a second time.
Picture framedPicture(int32_t width, int32_t height, uint32_t seed)
{
    const Picture inner = photoLikePicture(width, height, seed);
    return patternPicture(width, height, [&](int32_t x, int32_t y) -> uint32_t {
        if (x < width / 4 || x >= width - width / 5 || y < height / 6)
            return 0x305070;
        const uint8_t* p = inner.row(y) + 3 * x;
        return (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
    });
}

void expectSameSampling(const SampledPicture& got, const SampledPicture& want)
{
    EXPECT_EQ(got.resampled, want.resampled);
    EXPECT_EQ(got.frame.left, want.frame.left);
    EXPECT_EQ(got.frame.right, want.frame.right);
    EXPECT_EQ(got.frame.top, want.frame.top);
    EXPECT_EQ(got.frame.bottom, want.frame.bottom);
    for (int32_t x = 0; x < kSimilarGridSize; ++x) {
        for (int32_t y = 0; y < kSimilarGridSize; ++y) {
            const GridColour& g = got.grid[x][y];
            const GridColour& w = want.grid[x][y];
            ASSERT_TRUE(g.r == w.r && g.g == w.g && g.b == w.b) << "cell " << x << "," << y;
            ASSERT_EQ(got.planes.luma[x][y], want.planes.luma[x][y]);
            ASSERT_EQ(got.planes.chroma[x][y], want.planes.chroma[x][y]);
            ASSERT_EQ(got.planes.hue[x][y], want.planes.hue[x][y]);
        }
    }
}

void expectSameSignature(const SimilarSignature& got, const SimilarSignature& want)
{
    EXPECT_EQ(got.contrastMap, want.contrastMap);
    EXPECT_EQ(got.profiles, want.profiles);
    EXPECT_EQ(got.centroidX, want.centroidX);
    EXPECT_EQ(got.centroidY, want.centroidY);
    EXPECT_EQ(got.planeTotals, want.planeTotals);
    EXPECT_EQ(got.bandCodes, want.bandCodes);
    EXPECT_EQ(got.spreadA, want.spreadA);
    EXPECT_EQ(got.spreadB, want.spreadB);
}

// A source over a picture in memory that counts how often it is streamed.
struct CountingSource {
    const Picture& picture;
    int32_t streams = 0;
    RowSource source()
    {
        return [this](RowSink& sink) {
            ++streams;
            feedPictureRows(picture, sink);
            return StreamResult {};
        };
    }
};

struct TurnedSampling {
    SampledPicture upright;
    std::array<SampledPicture, kOrientationCount - 1> turned;
    int32_t streams = 0;

    const SampledPicture& at(int32_t o) const { return o == 0 ? upright : turned[static_cast<std::size_t>(o - 1)]; }
};

std::unique_ptr<TurnedSampling> sampleTurned(const Picture& picture)
{
    auto out = std::make_unique<TurnedSampling>();
    SimilarSampler sampler;
    CountingSource counting {picture};
    const RowSource source = counting.source();
    EXPECT_TRUE(source(sampler.firstPassTurned()).ok());
    EXPECT_TRUE(sampler.finishTurnedFrom(source, out->upright, out->turned).ok());
    out->streams = counting.streams;
    return out;
}

class TurnedSamplingTest : public ::testing::TestWithParam<Picture (*)()> {};

} // namespace

TEST_P(TurnedSamplingTest, EveryOrientationSamplesAsTheTurnedPicture)
{
    const Picture picture = GetParam()();
    const auto sampled = sampleTurned(picture);
    auto want = std::make_unique<SampledPicture>();
    for (int32_t o = 0; o < kOrientationCount; ++o) {
        SCOPED_TRACE(std::string(orientationName(orientationAt(o))));
        samplePicture(turnedPicture(picture, orientationAt(o)), *want);
        expectSameSampling(sampled->at(o), *want);
    }
}

TEST_P(TurnedSamplingTest, ReductionGivesTheSignaturesOfTheTurnedPicture)
{
    const Picture picture = GetParam()();
    PictureReduction reduction;
    PictureOutcome outcome;
    CountingSource counting {picture};
    reduction.reduce(counting.source(), Reductions {false, true, true}, outcome);
    ASSERT_EQ(outcome.status, PictureOutcome::Status::Loaded);
    ASSERT_TRUE(outcome.hasSimilar);
    ASSERT_EQ(outcome.turnedSimilar.size(), 7u);
    // One stream, and one more for all the orientations that are framed.
    EXPECT_LE(counting.streams, 2);

    SimilarSignature want;
    reduceSimilarPicture(picture, want);
    expectSameSignature(outcome.similar, want);
    for (int32_t o = 1; o < kOrientationCount; ++o) {
        SCOPED_TRACE(std::string(orientationName(orientationAt(o))));
        reduceSimilarPicture(turnedPicture(picture, orientationAt(o)), want);
        expectSameSignature(outcome.turnedSimilar[static_cast<std::size_t>(o - 1)], want);
    }

    // Without turned copies nothing of them is taken.
    reduction.reduce(pictureRowSource(picture), Reductions {false, true, false}, outcome);
    EXPECT_TRUE(outcome.turnedSimilar.empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, TurnedSamplingTest,
                         ::testing::Values([] { return noisePicture(5, 7, 1); },
                                           [] { return noisePicture(301, 297, 2); },
                                           [] { return noisePicture(590, 1183, 3); },
                                           [] { return photoLikePicture(413, 211, 4); },
                                           [] { return framedPicture(301, 297, 5); },
                                           [] { return framedPicture(590, 1183, 6); }));

TEST(TurnedSamplingFrameTest, FramedPictureIsSampledTwiceInEveryOrientationFromOneMoreStream)
{
    const Picture picture = framedPicture(590, 1183, 6);
    const auto sampled = sampleTurned(picture);
    for (int32_t o = 0; o < kOrientationCount; ++o)
        EXPECT_TRUE(sampled->at(o).resampled) << o;
    EXPECT_EQ(sampled->streams, 2);

    const auto plain = sampleTurned(noisePicture(301, 297, 2));
    for (int32_t o = 0; o < kOrientationCount; ++o)
        EXPECT_FALSE(plain->at(o).resampled) << o;
    EXPECT_EQ(plain->streams, 1);
}

TEST(TurnedSamplingFrameTest, TooSmallPictureIsRefusedInEveryOrientation)
{
    const Picture picture = noisePicture(2, 9, 7);
    PictureReduction reduction;
    PictureOutcome outcome;
    reduction.reduce(pictureRowSource(picture), Reductions {false, true, true}, outcome);
    EXPECT_EQ(outcome.status, PictureOutcome::Status::Loaded);
    EXPECT_FALSE(outcome.hasSimilar);
    EXPECT_TRUE(outcome.turnedSimilar.empty());
}
