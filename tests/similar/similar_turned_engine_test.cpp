// The similar engine asked for turned copies, on pictures written by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

#include "compare/similar/similar_engine.h"
#include "picture/orientation.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

struct TurnedRun {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    PairOrientations orientations;
};

std::unique_ptr<TurnedRun> runEngine(const FileTable& files, bool turned, int32_t jobs, int32_t level = 0)
{
    auto run = std::make_unique<TurnedRun>();
    run->files = files;
    const std::atomic<bool> abortFlag {false};
    EngineContext ctx {run->files, run->lines, run->unreadable, run->counters, abortFlag};
    ctx.mode = CheckMode::Similar;
    ctx.level = level;
    ctx.jobs = jobs;
    ctx.turned = turned;
    ctx.orientations = &run->orientations;
    CompareSimilar(ctx);
    std::sort(run->lines.begin(), run->lines.end());
    return run;
}

std::pair<int32_t, int32_t> indicesOf(const std::string& line)
{
    return {std::stoi(line.substr(6, 6)), std::stoi(line.substr(14, 6))};
}

const std::string* lineOf(const TurnedRun& run, int32_t a, int32_t b)
{
    for (const std::string& line : run.lines) {
        if (indicesOf(line) == std::pair {a, b})
            return &line;
    }
    return nullptr;
}

// Nothing in it is symmetric, not even about a diagonal: a warm disc near
// the top right, a blue bar at the top left, a checkered corner at the
// bottom left, light growing downwards. No turn of it looks like it to the
// engine.
Picture unevenPicture(int32_t width, int32_t height)
{
    return testing_support::patternPicture(width, height, [=](int32_t x, int32_t y) -> uint32_t {
        const int32_t dx = x - width * 4 / 5;
        const int32_t dy = y - height / 4;
        if (dx * dx + dy * dy < height * height / 25)
            return 0xF09628;
        if (x >= width / 10 && x < width / 5 && y < height * 3 / 10)
            return 0x1428C8;
        if (x < width * 2 / 5 && y > height * 11 / 20)
            return ((x / 8 + y / 8) % 2) != 0 ? 0xFAFAFA : 0x0A0A0A;
        const auto r = static_cast<uint32_t>(40 + 150 * y / height);
        return r << 16 | r << 8 | 60;
    });
}

// The orientation that brings a copy turned to `o` back upright.
Orientation undoing(Orientation o)
{
    if (o == Orientation::Turned90)
        return Orientation::Turned270;
    if (o == Orientation::Turned270)
        return Orientation::Turned90;
    return o; // the others undo themselves
}

// The original (file 0), its seven turned and mirrored copies (files 1..7,
// file o turned to orientation o), and an unrelated picture (file 8).
class SimilarTurnedEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Picture photo = unevenPicture(240, 180);
        for (int32_t o = 0; o < kOrientationCount; ++o) {
            const std::string name = std::to_string(o) + ".bmp";
            testing_support::writeBmp24(m_dir.file(name), turnedPicture(photo, orientationAt(o)));
            addFile(name);
        }
        testing_support::writeBmp24(m_dir.file("9.bmp"), testing_support::photoLikePicture(200, 200, 12));
        addFile("9.bmp");
    }

    void addFile(const std::string& name)
    {
        File_rec file;
        file.path = m_dir.file(name);
        m_files.push_back(file);
    }

    TempDir m_dir;
    FileTable m_files;
};

} // namespace

TEST_F(SimilarTurnedEngineTest, EveryTurnedCopyPairsWithTheOriginalOnlyWhenAskedFor)
{
    const auto plain = runEngine(m_files, false, 2);
    const auto turned = runEngine(m_files, true, 2);
    EXPECT_TRUE(plain->orientations.empty());
    for (int32_t o = 1; o < kOrientationCount; ++o) {
        SCOPED_TRACE(std::string(orientationName(orientationAt(o))));
        EXPECT_EQ(lineOf(*plain, 0, o), nullptr);
        const std::string* line = lineOf(*turned, 0, o);
        ASSERT_NE(line, nullptr);
        // Turned back, the copy is the original pixel for pixel.
        EXPECT_EQ(turned->orientations.of(0, o), undoing(orientationAt(o)));
        EXPECT_EQ(line->substr(0, 4), "0000") << *line;
        EXPECT_NE(line->find("," + std::to_string(o) + ".bmp"), std::string::npos);
    }
    for (int32_t f = 0; f < 8; ++f) {
        EXPECT_EQ(lineOf(*turned, f, 8), nullptr) << f;
        EXPECT_EQ(turned->orientations.of(f, 8), Orientation::Upright);
    }
    // Every pair a plain search reports, a turned one reports with the same line, upright.
    for (const std::string& line : plain->lines) {
        EXPECT_NE(std::find(turned->lines.begin(), turned->lines.end(), line), turned->lines.end()) << line;
        const auto [a, b] = indicesOf(line);
        EXPECT_EQ(turned->orientations.of(a, b), Orientation::Upright);
    }
    EXPECT_EQ(turned->counters.pairCount, static_cast<int32_t>(turned->lines.size()));
}

TEST_F(SimilarTurnedEngineTest, EachPairOnceInTheSameLinesForAnyJobCount)
{
    const auto one = runEngine(m_files, true, 1, 2);
    std::set<std::pair<int32_t, int32_t>> pairs;
    for (const std::string& line : one->lines) {
        const auto ab = indicesOf(line);
        EXPECT_LT(ab.first, ab.second);
        EXPECT_TRUE(pairs.insert(ab).second) << line;
    }
    // The eight copies of one picture: every pair of them matches.
    EXPECT_EQ(pairs.size(), 28u);
    for (int32_t jobs : {2, 3}) {
        const auto many = runEngine(m_files, true, jobs, 2);
        EXPECT_EQ(many->lines, one->lines);
        for (const auto& [a, b] : pairs)
            EXPECT_EQ(many->orientations.of(a, b), one->orientations.of(a, b)) << a << "," << b;
    }
}

TEST_F(SimilarTurnedEngineTest, PairsOfTwoCopiesMatchInTheOrientationBetweenThem)
{
    const auto run = runEngine(m_files, true, 2);
    // Copy 1 is turned a quarter clockwise and copy 3 a quarter the other
    // way: a half turn of copy 3 gives copy 1.
    EXPECT_EQ(run->orientations.of(1, 3), Orientation::Turned180);
    // The mirrored copy against the one upside down: a half turn.
    EXPECT_EQ(run->orientations.of(4, 6), Orientation::Turned180);
    ASSERT_NE(lineOf(*run, 1, 3), nullptr);
    EXPECT_EQ(lineOf(*run, 1, 3)->substr(0, 4), "0000");
}

TEST_F(SimilarTurnedEngineTest, PairProgressRunsOnceThroughAllOrientations)
{
    FileTable files = m_files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    PairOrientations orientations;
    std::vector<SearchProgress> reports;
    ProgressThrottle progress([&](const SearchProgress& p) {
        if (p.phase == SearchProgress::Phase::Pairs)
            reports.push_back(p);
    });
    const std::atomic<bool> abortFlag {false};
    EngineContext ctx {files, lines, unreadable, counters, abortFlag};
    ctx.mode = CheckMode::Similar;
    ctx.jobs = 2;
    ctx.progress = &progress;
    ctx.turned = true;
    ctx.orientations = &orientations;
    CompareSimilar(ctx);

    // The plain pass and the seven turned ones each report their start and end.
    ASSERT_GE(reports.size(), 16u);
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].done, reports[i - 1].done) << i;
        EXPECT_LE(reports[i].done, reports[i].total) << i;
    }
    EXPECT_GT(reports.back().total, 0);
    EXPECT_EQ(reports.back().done, reports.back().total);
}
