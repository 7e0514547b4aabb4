// The streamed reductions (rows handed over as a decoder delivers them, only
// the sampled ones kept) against the single-threaded reference engines of
// tests/crosscheck reading the whole decoded picture.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compare/picture_reduction.h"
#include "crosscheck/reference_identical.h"
#include "crosscheck/reference_similar.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"
#include "support/test_pictures.h"

namespace {

using namespace crosscheck;
using namespace testing_support;

// Every pixel differs from its neighbours, so a row or column read one off
// changes the sums.
Picture noisePicture(int32_t width, int32_t height, uint32_t seed)
{
    return patternPicture(width, height, [seed](int32_t x, int32_t y) {
        uint32_t h = seed * 2654435761u ^ static_cast<uint32_t>(x) * 40503u ^ static_cast<uint32_t>(y) * 9973u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        // Keep away from black so that the similar stretch takes part.
        return (h & 0x7F7F7F) + 0x303030;
    });
}

// A picture inside a wide uniform frame: the similar sampling takes a second
// pass over the content window.
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

void expectIdenticalEqual(const IdenticalSignature& sig, const RefIdenticalSignature& ref)
{
    for (int32_t k = 0; k < 4; ++k)
        EXPECT_EQ(sig.centroids[k], ref.centroid[k]) << "centroid " << k;
    for (int32_t k = 0; k < kProfileCount; ++k) {
        for (int32_t p = kFirstPosition; p <= kLastPosition; ++p)
            ASSERT_EQ(sig.at(k, p), ref.profile[k][p]) << "profile " << k << " at " << p;
    }
}

void expectSimilarEqual(const SimilarSignature& sig, const RefSimilarSignature& ref)
{
    for (int32_t x = kInnerFirst; x <= kInnerLast; ++x) {
        for (int32_t y = kInnerFirst; y <= kInnerLast; ++y)
            ASSERT_EQ(sig.contrastAt(x, y), ref.contrastMap[x][y]) << "contrast " << x << "," << y;
    }
    for (int32_t r = 1; r <= kProfileRows; ++r) {
        for (int32_t i = kInnerFirst; i <= kInnerLast; ++i)
            ASSERT_EQ(sig.profiles[r][i], ref.profiles[r][i]) << "profile " << r << " at " << i;
    }
    for (int32_t k = 0; k < 4; ++k) {
        EXPECT_EQ(sig.centroidX[k], ref.centroidX[k]) << k;
        EXPECT_EQ(sig.centroidY[k], ref.centroidY[k]) << k;
    }
    for (int32_t k = 0; k < 3; ++k)
        EXPECT_EQ(sig.planeTotals[k], ref.planeTotals[k]) << k;
    for (int32_t k = 1; k <= 12; ++k)
        EXPECT_EQ(sig.bandCodes[k], ref.bandCodes[k]) << k;
    EXPECT_EQ(sig.spreadA, ref.spreadA);
    EXPECT_EQ(sig.spreadB, ref.spreadB);
}

struct Case {
    int32_t width;
    int32_t height;
    bool framed;
};

// Sides at the edges of both samplings: below and at the 5 x 5 lattice's
// minimum, around the spacing steps at 295 and 590, a long thin strip each
// way, and framed pictures that take the second pass.
const Case kCases[] = {
    {3, 3, false},    {4, 7, false},    {5, 5, false},      {17, 9, false},     {13, 17, false},
    {294, 40, false}, {295, 41, false}, {589, 30, false},   {590, 31, false},   {8, 10000, false},
    {10000, 8, false}, {640, 480, true}, {301, 203, true},   {97, 150, true},
};

} // namespace

TEST(StreamedReductionTest, OneStreamFillsBothSignaturesAsTheWholePictureWould)
{
    TempDir dir;
    PictureStreamer streamer;
    PictureReduction reduction;
    int32_t secondPasses = 0;
    uint32_t seed = 1;
    for (const Case& c : kCases) {
        const Picture picture = c.framed ? framedPicture(c.width, c.height, seed) : noisePicture(c.width, c.height, seed);
        ++seed;
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height);
        writeJpeg(dir.file(name + ".jpg"), picture, 85);
        writeBmp24(dir.file(name + ".bmp"), picture);
        for (const std::string& path : {dir.file(name + ".jpg"), dir.file(name + ".bmp")}) {
            SCOPED_TRACE(path);
            const LoadedPicture whole = loadPicture(path, JpegIdct::Fast);
            ASSERT_TRUE(whole.ok());
            PictureOutcome outcome;
            reduction.reduce([&](RowSink& sink) { return streamer.stream(path, sink, StreamOptions {}); },
                             Reductions {true, true}, outcome);
            ASSERT_EQ(outcome.status, PictureOutcome::Status::Loaded);
            EXPECT_EQ(outcome.width, c.width);
            EXPECT_EQ(outcome.height, c.height);
            ASSERT_EQ(outcome.hasIdentical, c.width >= 5 && c.height >= 5);
            ASSERT_TRUE(outcome.hasSimilar);
            if (outcome.hasIdentical)
                expectIdenticalEqual(outcome.identical, refIdenticalSignature(whole.picture));
            const RefSimilarSignature ref = refSimilarSignature(whole.picture);
            if (ref.frame[1] - ref.frame[0] < 60 || ref.frame[3] - ref.frame[2] < 60)
                ++secondPasses;
            expectSimilarEqual(outcome.similar, ref);
        }
    }
    // The framed cases must take the second pass, or it goes unchecked.
    EXPECT_GE(secondPasses, 6);
}

TEST(StreamedReductionTest, EachEngineAloneGivesTheSameSignature)
{
    TempDir dir;
    const Picture picture = framedPicture(400, 300, 77);
    const std::string path = dir.file("framed.jpg");
    writeJpeg(path, picture, 90);
    PictureStreamer streamer;
    PictureReduction reduction;
    const auto source = [&](RowSink& sink) { return streamer.stream(path, sink, StreamOptions {}); };
    PictureOutcome both, identicalOnly, similarOnly;
    reduction.reduce(source, Reductions {true, true}, both);
    reduction.reduce(source, Reductions {true, false}, identicalOnly);
    reduction.reduce(source, Reductions {false, true}, similarOnly);
    ASSERT_TRUE(identicalOnly.hasIdentical && !identicalOnly.hasSimilar);
    ASSERT_TRUE(similarOnly.hasSimilar && !similarOnly.hasIdentical);
    EXPECT_EQ(identicalOnly.identical.centroids, both.identical.centroids);
    EXPECT_EQ(identicalOnly.identical.profiles, both.identical.profiles);
    EXPECT_EQ(similarOnly.similar.contrastMap, both.similar.contrastMap);
    EXPECT_EQ(similarOnly.similar.profiles, both.similar.profiles);
    EXPECT_EQ(similarOnly.similar.spreadA, both.similar.spreadA);
}

TEST(StreamedReductionTest, FailuresAndInterruptionsCarryNoSignature)
{
    TempDir dir;
    writeBytes(dir.file("broken.jpg"), "not a picture");
    writeJpeg(dir.file("fine.jpg"), noisePicture(64, 48, 5));
    PictureStreamer streamer;
    PictureReduction reduction;
    PictureOutcome outcome;
    reduction.reduce([&](RowSink& sink) { return streamer.stream(dir.file("broken.jpg"), sink, StreamOptions {}); },
                     Reductions {true, true}, outcome);
    EXPECT_EQ(outcome.status, PictureOutcome::Status::Failed);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_FALSE(outcome.hasIdentical || outcome.hasSimilar);

    const std::atomic<bool> aborted {true};
    StreamOptions options;
    options.abortFlag = &aborted;
    reduction.reduce([&](RowSink& sink) { return streamer.stream(dir.file("fine.jpg"), sink, options); },
                     Reductions {true, true}, outcome);
    EXPECT_EQ(outcome.status, PictureOutcome::Status::Interrupted);
    EXPECT_FALSE(outcome.hasIdentical || outcome.hasSimilar);
}

namespace {

// Passes a stream on and counts the rows the reduction asks for.
class CountingSink : public RowSink {
public:
    explicit CountingSink(RowSink& inner) : m_inner(inner) {}
    bool begin(int32_t width, int32_t height) override
    {
        if (!m_inner.begin(width, height))
            return false;
        for (int32_t y = 0; y < height; ++y)
            wanted += m_inner.wantsRow(y) ? 1 : 0;
        return true;
    }
    bool wantsRow(int32_t y) const override { return m_inner.wantsRow(y); }
    void row(int32_t y, const uint8_t* bgr) override { m_inner.row(y, bgr); }
    bool needsWholeFile() const override { return m_inner.needsWholeFile(); }
    std::size_t wanted = 0;

private:
    RowSink& m_inner;
};

} // namespace

TEST(StreamedReductionTest, ReductionsTakeOnlyTheRowsTheySampleAndAFramedPictureTwice)
{
    TempDir dir;
    writeJpeg(dir.file("tall.jpg"), noisePicture(40, 6000, 3), 80);
    writeJpeg(dir.file("framed.jpg"), framedPicture(300, 3000, 4), 80);
    PictureStreamer streamer;
    PictureReduction reduction;
    struct Expect {
        const char* name;
        Reductions wanted;
        std::size_t maxRows;
        int32_t streams;
    };
    // 60 lattices of 5 rows, 68 blocks of 3 rows; the framed picture's
    // second pass reads 68 blocks again.
    const Expect expects[] = {
        {"tall.jpg", {true, false}, 300, 1},   {"tall.jpg", {false, true}, 204, 1},
        {"tall.jpg", {true, true}, 504, 1},    {"framed.jpg", {false, true}, 408, 2},
        {"framed.jpg", {true, true}, 708, 2},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(std::string(e.name) + (e.wanted.identical ? " identical" : "") + (e.wanted.similar ? " similar" : ""));
        int32_t streams = 0;
        std::size_t rows = 0;
        std::vector<bool> wholeFile;
        PictureOutcome outcome;
        reduction.reduce(
            [&](RowSink& sink) {
                ++streams;
                CountingSink counting(sink);
                wholeFile.push_back(counting.needsWholeFile());
                const StreamResult result = streamer.stream(dir.file(e.name), counting, StreamOptions {});
                rows += counting.wanted;
                return result;
            },
            e.wanted, outcome);
        ASSERT_EQ(outcome.status, PictureOutcome::Status::Loaded);
        EXPECT_EQ(streams, e.streams);
        // Only the first pass reads the file to its end; the second may
        // stop at its last row.
        const std::vector<bool> expectedWholeFile = e.streams == 2 ? std::vector<bool> {true, false} : std::vector<bool> {true};
        EXPECT_EQ(wholeFile, expectedWholeFile);
        EXPECT_GT(rows, 0u);
        EXPECT_LE(rows, e.maxRows);
    }
}
