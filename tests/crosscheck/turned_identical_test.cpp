// Turned and mirrored copies in the identical-picture engine: the signatures
// of the seven other orientations taken in the one streaming decode, against
// the signature of the picture turned in memory; and the pair phase over all
// orientations against the reference engine's literal loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "compare/identical/identical_engine.h"
#include "compare/identical/identical_signature.h"
#include "compare/picture_reduction.h"
#include "crosscheck/reference_identical.h"
#include "picture/orientation.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"
#include "search/engine_context.h"
#include "search/line_order.h"
#include "search/pair_orientations.h"
#include "support/test_pictures.h"

namespace {

using namespace crosscheck;
using namespace testing_support;

// Every pixel differs from its neighbours, so a lattice read one row or
// column off, or on the wrong side, changes the sums.
Picture noisePicture(int32_t width, int32_t height, uint32_t variant)
{
    return patternPicture(width, height, [variant](int32_t x, int32_t y) {
        uint32_t h = variant * 2654435761u ^ static_cast<uint32_t>(x) * 40503u ^ static_cast<uint32_t>(y) * 9973u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return h & 0xFFFFFF;
    });
}

void expectSameSignature(const IdenticalSignature& got, const IdenticalSignature& want)
{
    EXPECT_EQ(got.centroids, want.centroids);
    for (int32_t k = 0; k < kProfileCount; ++k) {
        for (int32_t p = kFirstPosition; p <= kLastPosition; ++p)
            ASSERT_EQ(got.at(k, p), want.at(k, p)) << "profile " << k << " at " << p;
    }
}

PictureOutcome reduceFile(const std::string& path, Reductions wanted)
{
    PictureStreamer streamer;
    PictureReduction reduction;
    PictureOutcome outcome;
    reduction.reduce([&](RowSink& sink) { return streamer.stream(path, sink, StreamOptions {}); }, wanted, outcome);
    return outcome;
}

} // namespace

TEST(TurnedIdenticalTest, TurnedSignaturesEqualThoseOfTheTurnedPicture)
{
    // Odd sides, a side at the lattice's minimum, sides on both sides of the
    // sampling steps (295, 590), and a long strip that swaps to a tall one.
    const std::pair<int32_t, int32_t> sizes[] = {{5, 7}, {301, 297}, {590, 1183}, {296, 5}, {1200, 31}};
    TempDir dir;
    uint32_t variant = 3;
    for (const auto& [width, height] : sizes) {
        const std::string stem = dir.file(std::to_string(width) + "x" + std::to_string(height));
        writeBmp24(stem + ".bmp", noisePicture(width, height, variant));
        writeJpeg(stem + ".jpg", photoLikePicture(width, height, variant), 85);
        ++variant;
        for (const std::string& path : {stem + ".bmp", stem + ".jpg"}) {
            SCOPED_TRACE(path);
            const LoadedPicture whole = loadPicture(path, JpegIdct::Fast);
            ASSERT_TRUE(whole.ok());
            // Alone, and beside the similar sampling in the same stream.
            for (const bool similarToo : {false, true}) {
                const PictureOutcome outcome = reduceFile(path, Reductions {true, similarToo, true});
                ASSERT_EQ(outcome.status, PictureOutcome::Status::Loaded);
                ASSERT_TRUE(outcome.hasIdentical);
                ASSERT_EQ(outcome.turnedIdentical.size(), static_cast<std::size_t>(kOrientationCount - 1));
                expectSameSignature(outcome.identical, ComputeSignature(whole.picture));
                for (int32_t o = 1; o < kOrientationCount; ++o) {
                    SCOPED_TRACE(orientationName(orientationAt(o)));
                    const Picture turned = turnedPicture(whole.picture, orientationAt(o));
                    expectSameSignature(outcome.turnedIdentical[static_cast<std::size_t>(o - 1)],
                                        ComputeSignature(turned));
                    if (width == 301) {
                        // The plain reference too, once: it shares no sampling code.
                        const RefIdenticalSignature ref = refIdenticalSignature(turned);
                        const IdenticalSignature& got = outcome.turnedIdentical[static_cast<std::size_t>(o - 1)];
                        for (int32_t k = 0; k < 4; ++k)
                            EXPECT_EQ(got.centroids[k], ref.centroid[k]);
                        for (int32_t k = 0; k < kProfileCount; ++k)
                            for (int32_t p = kFirstPosition; p <= kLastPosition; ++p)
                                ASSERT_EQ(got.at(k, p), ref.profile[k][p]) << k << " " << p;
                    }
                }
            }
        }
    }
}

TEST(TurnedIdenticalTest, PlainReductionTakesNoTurnedSignatures)
{
    TempDir dir;
    writeBmp24(dir.file("a.bmp"), noisePicture(40, 30, 1));
    EXPECT_TRUE(reduceFile(dir.file("a.bmp"), Reductions {true, false, false}).turnedIdentical.empty());
    // Too small for the signature: no upright one, so no turned ones either.
    writeBmp24(dir.file("tiny.bmp"), noisePicture(4, 9, 2));
    const PictureOutcome tiny = reduceFile(dir.file("tiny.bmp"), Reductions {true, false, true});
    EXPECT_FALSE(tiny.hasIdentical);
    EXPECT_TRUE(tiny.turnedIdentical.empty());
}

namespace {

// Scenes, each with copies of it turned and mirrored: lossless ones, re-saved
// ones, a cropped one; and pictures that are symmetric, so that the upright
// match wins over the turned ones.
class TurnedFolder {
public:
    TurnedFolder()
    {
        const struct { int32_t w, h; uint32_t variant; } scenes[] = {{320, 240, 11}, {257, 301, 23}, {400, 150, 37}};
        int32_t s = 0;
        for (const auto& scene : scenes) {
            const std::string stem = "s" + std::to_string(s++) + "_";
            const Picture original = photoLikePicture(scene.w, scene.h, scene.variant);
            writeJpeg(m_dir.file(stem + "orig.jpg"), original, 92);
            for (int32_t o = 1; o < kOrientationCount; ++o) {
                const Picture turned = turnedPicture(original, orientationAt(o));
                const std::string name = stem + std::string(orientationName(orientationAt(o)));
                if ((o + s) % 2 == 0)
                    writeBmp24(m_dir.file(name + ".BMP"), turned);
                else
                    writeJpeg(m_dir.file(name + ".jpg"), turned, 60 + 5 * o);
            }
            // Cropped a little, then turned a quarter.
            Picture crop(scene.w - 12, scene.h - 8);
            for (int32_t y = 0; y < crop.height(); ++y)
                std::copy_n(original.row(y + 5) + 3 * 7, 3 * crop.width(), crop.row(y));
            writeJpeg(m_dir.file(stem + "crop_turn90.jpg"), turnedPicture(crop, Orientation::Turned90), 90);
            writeJpeg(m_dir.file(stem + "other.jpg"), photoLikePicture(scene.w, scene.h, scene.variant + 500), 90);
        }
        // Symmetric pictures match themselves turned: upright comes first.
        writeBmp24(m_dir.file("flat_a.BMP"), solidPicture(120, 120, 90, 90, 90));
        writeBmp24(m_dir.file("flat_b.BMP"), solidPicture(140, 100, 200, 200, 200));
        writeBytes(m_dir.file("bad.jpg"), "not a picture");
        writeBmp24(m_dir.file("tiny.BMP"), noisePicture(4, 4, 9));

        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
            paths.push_back(entry.path().string());
        sortLines(paths);
        for (const std::string& path : paths) {
            File_rec rec;
            rec.path = path;
            rec.size = static_cast<int64_t>(std::filesystem::file_size(path));
            m_table.push_back(rec);
        }
    }

    const FileTable& table() const { return m_table; }

private:
    TempDir m_dir;
    FileTable m_table;
};

const TurnedFolder& turnedFolder()
{
    static const TurnedFolder made;
    return made;
}

struct TurnedRun {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    PairOrientations orientations;
};

TurnedRun runTurned(int32_t level, int32_t jobs, bool turned)
{
    TurnedRun run;
    run.files = turnedFolder().table();
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {run.files, run.lines, run.unreadable, run.counters, abortFlag, CheckMode::Identical, level, jobs};
    ctx.turned = turned;
    ctx.orientations = &run.orientations;
    CompareIdentical(ctx);
    sortLines(run.lines);
    return run;
}

} // namespace

TEST(TurnedIdenticalTest, PairPhaseEqualsTheLoopOverEveryOrientation)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        FileTable refFiles = turnedFolder().table();
        RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, level, true);
        sortLines(ref.lines);
        // Every scene pairs with each of its seven turned copies, so the
        // folder proves something only with plenty of turned pairs.
        EXPECT_GE(ref.turnedPairs.size(), 3u * 7u);
        for (int32_t jobs : {1, 2, 3}) {
            SCOPED_TRACE("jobs " + std::to_string(jobs));
            const TurnedRun real = runTurned(level, jobs, true);
            EXPECT_EQ(real.lines, ref.lines);
            EXPECT_EQ(real.unreadable, ref.unreadable);
            EXPECT_EQ(real.counters.loadCount, ref.loadCount);
            EXPECT_EQ(real.counters.pairCount, ref.pairCount);
            EXPECT_EQ(real.orientations.size(), ref.turnedPairs.size());
            for (const RefOutcome::TurnedPair& pair : ref.turnedPairs)
                EXPECT_EQ(real.orientations.of(pair.a, pair.b), pair.orientation) << pair.a << "," << pair.b;
        }
    }
}

TEST(TurnedIdenticalTest, EachPairOnceAndEveryPlainLineKept)
{
    const TurnedRun plain = runTurned(kLevelMiddle, 2, false);
    const TurnedRun turned = runTurned(kLevelMiddle, 2, true);
    EXPECT_TRUE(plain.orientations.empty());
    std::set<std::pair<std::string, std::string>> seen;
    for (const std::string& line : turned.lines)
        EXPECT_TRUE(seen.emplace(line.substr(6, 6), line.substr(14, 6)).second) << "twice: " << line;
    // What a plain search finds, a turned one reports with the same line.
    for (const std::string& line : plain.lines)
        EXPECT_NE(std::find(turned.lines.begin(), turned.lines.end(), line), turned.lines.end()) << line;
    EXPECT_GT(turned.lines.size(), plain.lines.size() + 20);

    // Each scene's original pairs with every turned copy, in the orientation
    // the copy was made in (the copy is B: "s0_orig" sorts after "s0_mirror...").
    const FileTable& table = turnedFolder().table();
    const auto indexOf = [&](const std::string& name) {
        for (std::size_t i = 0; i < table.size(); ++i)
            if (std::filesystem::path(table[i].path).filename() == name)
                return static_cast<int32_t>(i);
        return -1;
    };
    const int32_t original = indexOf("s1_orig.jpg");
    const int32_t turn90 = indexOf("s1_turn90.BMP") >= 0 ? indexOf("s1_turn90.BMP") : indexOf("s1_turn90.jpg");
    ASSERT_GE(original, 0);
    ASSERT_GT(turn90, original);
    // B is the turned copy seen from the original: the original is the copy
    // turned back, a quarter anticlockwise.
    EXPECT_EQ(turned.orientations.of(original, turn90), Orientation::Turned270);
}
