// The similar engine asked for turned copies against the reference engine's
// literal loop (each pair tried upright, then with the second picture turned
// in memory to each orientation in order), on a folder of pictures turned,
// mirrored, resized, re-saved, framed and left alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "compare/similar/similar_engine.h"
#include "crosscheck/reference_similar.h"
#include "picture/orientation.h"
#include "search/engine_context.h"
#include "search/line_order.h"
#include "support/test_pictures.h"

namespace {

using namespace crosscheck;
using namespace testing_support;

Picture resized(const Picture& source, int32_t width, int32_t height)
{
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * source.height() / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = static_cast<int32_t>(static_cast<int64_t>(x) * source.width() / width);
            const uint8_t* p = source.row(sy) + sx * 3;
            setPixel(out, x, y, p[2], p[1], p[0]);
        }
    }
    return out;
}

Picture brighter(const Picture& source, int32_t offset)
{
    Picture out(source.width(), source.height());
    for (int32_t y = 0; y < source.height(); ++y) {
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = source.row(y) + x * 3;
            const auto up = [offset](uint8_t v) { return static_cast<uint8_t>(std::min(255, v + offset)); };
            setPixel(out, x, y, up(p[2]), up(p[1]), up(p[0]));
        }
    }
    return out;
}

// A wide uniform band on the left and at the top: the sampling takes the
// content window a second time, in some orientations only.
Picture framed(const Picture& source)
{
    return patternPicture(source.width(), source.height(), [&](int32_t x, int32_t y) -> uint32_t {
        if (x < source.width() / 4 || y < source.height() / 5)
            return 0x283C50;
        const uint8_t* p = source.row(y) + 3 * x;
        return (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[0];
    });
}

class TurnedFolder {
public:
    TurnedFolder()
    {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            const Picture photo = photoLikePicture(260, 190, seed);
            const std::string base = "p" + std::to_string(seed);
            add(base + "-0.bmp", photo);
            add(base + "-turn90.jpg", turnedPicture(photo, Orientation::Turned90), 92);
            add(base + "-mirror-small.bmp", resized(turnedPicture(photo, Orientation::Mirrored), 173, 127));
            add(base + "-turn270-bright.jpg", brighter(turnedPicture(photo, Orientation::Turned270), 25), 88);
            add(base + "-mt90.bmp", turnedPicture(photo, Orientation::MirroredTurned90));
            add(base + "-flip.jpg", turnedPicture(photo, Orientation::MirroredTurned180), 95);
        }
        const Picture boxed = framed(photoLikePicture(300, 220, 7));
        add("f-0.bmp", boxed);
        add("f-turn180.bmp", turnedPicture(boxed, Orientation::Turned180));
        add("f-mt270.jpg", turnedPicture(boxed, Orientation::MirroredTurned270), 90);
        add("tiny.bmp", solidPicture(2, 9, 30, 60, 90));
        writeBytes(m_dir.file("broken.jpg"), "not a picture");
        addPath(m_dir.file("broken.jpg"));
        std::vector<std::string> paths;
        for (const File_rec& file : m_files)
            paths.push_back(file.path);
        sortLines(paths);
        for (std::size_t i = 0; i < paths.size(); ++i)
            m_files[i].path = paths[i];
    }

    const FileTable& files() const { return m_files; }

private:
    void add(const std::string& name, const Picture& picture, int quality = 0)
    {
        if (quality > 0)
            writeJpeg(m_dir.file(name), picture, quality);
        else
            writeBmp24(m_dir.file(name), picture);
        addPath(m_dir.file(name));
    }
    void addPath(const std::string& path)
    {
        File_rec file;
        file.path = path;
        m_files.push_back(file);
    }

    TempDir m_dir;
    FileTable m_files;
};

const TurnedFolder& folder()
{
    static const auto made = std::make_unique<TurnedFolder>();
    return *made;
}

struct TurnedRun {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    PairOrientations orientations;
};

std::unique_ptr<TurnedRun> runReal(int32_t level, int32_t jobs)
{
    auto run = std::make_unique<TurnedRun>();
    run->files = folder().files();
    run->counters.fileCount = static_cast<int32_t>(run->files.size());
    const std::atomic<bool> abortFlag {false};
    EngineContext ctx {run->files, run->lines, run->unreadable, run->counters, abortFlag};
    ctx.mode = CheckMode::Similar;
    ctx.level = level;
    ctx.jobs = jobs;
    ctx.turned = true;
    ctx.orientations = &run->orientations;
    CompareSimilar(ctx);
    sortLines(run->lines);
    return run;
}

} // namespace

TEST(TurnedSimilarCrosscheckTest, EngineMatchesTheLiteralLoopOverOrientations)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        FileTable refFiles = folder().files();
        RefTurnedPairs refTurned;
        RefOutcome ref = refCompareSimilar(refFiles, level, &refTurned);
        sortLines(ref.lines);
        // The folder reaches turned pairs in every orientation.
        std::set<Orientation> met;
        for (const auto& [pair, o] : refTurned)
            met.insert(o);
        EXPECT_EQ(met.size(), 7u);

        for (int32_t jobs : {1, 3}) {
            const auto real = runReal(level, jobs);
            EXPECT_EQ(real->lines, ref.lines) << "jobs " << jobs;
            EXPECT_EQ(real->unreadable, ref.unreadable);
            EXPECT_EQ(real->counters.loadCount, ref.loadCount);
            EXPECT_EQ(real->counters.pairCount, ref.pairCount);
            EXPECT_EQ(real->orientations.size(), refTurned.size());
            for (const auto& [pair, o] : refTurned)
                EXPECT_EQ(real->orientations.of(pair.first, pair.second), o) << pair.first << "," << pair.second;
            for (std::size_t i = 0; i < refFiles.size(); ++i) {
                EXPECT_EQ(real->files[i].skip, refFiles[i].skip) << refFiles[i].path;
                EXPECT_EQ(real->files[i].spreadA, refFiles[i].spreadA) << refFiles[i].path;
            }
        }
    }
}
