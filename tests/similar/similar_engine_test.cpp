#include "compare/similar/similar_engine.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

struct EngineRun {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
};

EngineRun runEngine(FileTable files, int32_t level, int32_t jobs, bool abortAtStart = false)
{
    EngineRun run;
    run.files = std::move(files);
    const std::atomic<bool> abortFlag {abortAtStart};
    EngineContext ctx {run.files, run.lines, run.unreadable, run.counters, abortFlag};
    ctx.mode = CheckMode::Similar;
    ctx.level = level;
    ctx.jobs = jobs;
    CompareSimilar(ctx);
    std::sort(run.lines.begin(), run.lines.end());
    return run;
}

class SimilarEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Picture photo = testing_support::photoLikePicture(240, 180, 1);
        testing_support::writeJpeg(m_dir.file("a.jpg"), photo, 92);
        testing_support::writeBmp24(m_dir.file("b.bmp"), photo);
        testing_support::writeJpeg(m_dir.file("c.jpg"), testing_support::photoLikePicture(240, 180, 2), 92);
        testing_support::writeBytes(m_dir.file("d.jpg"), "not a picture");
        testing_support::writeBmp24(m_dir.file("e.bmp"), testing_support::solidPicture(2, 5, 9, 9, 9));
        testing_support::writeJpeg(m_dir.file("f.JPG"), photo, 80);
        for (const char* name : {"a.jpg", "b.bmp", "c.jpg", "d.jpg", "e.bmp", "f.JPG", "g.jpg"}) {
            File_rec file;
            file.path = m_dir.file(name);
            m_files.push_back(file);
        }
        m_files[0].skip = 1; // a JPEG that loads is taken part again
    }

    TempDir m_dir;
    FileTable m_files;
};

} // namespace

TEST_F(SimilarEngineTest, UnreadableFilesAreListedInOrderAndLeftOut)
{
    const EngineRun run = runEngine(m_files, 0, 1);
    EXPECT_EQ(run.unreadable, (std::vector<std::string> {m_dir.file("d.jpg"), m_dir.file("e.bmp"), m_dir.file("g.jpg")}));
    EXPECT_EQ(run.counters.loadCount, 4);
    EXPECT_EQ(run.counters.pairCount, static_cast<int32_t>(run.lines.size()));
    const std::vector<int32_t> skips {0, 0, 0, 1, 1, 0, 1};
    for (std::size_t i = 0; i < skips.size(); ++i) {
        EXPECT_EQ(run.files[i].skip, skips[i]) << i;
        EXPECT_EQ(run.files[i].spreadA != 0, skips[i] == 0) << i;
        EXPECT_EQ(run.files[i].spreadB != 0, skips[i] == 0) << i;
    }
    for (const std::string& line : run.lines) {
        for (const char* index : {"000003", "000004", "000006"})
            EXPECT_EQ(line.substr(0, 20).find(index), std::string::npos) << line;
    }
    // The same picture as JPEG and as bitmap.
    const auto pair01 = std::find_if(run.lines.begin(), run.lines.end(),
                                     [](const std::string& l) { return l.substr(4, 16) == ", 000000, 000001"; });
    ASSERT_NE(pair01, run.lines.end());
    EXPECT_NE(pair01->find(",a.jpg,b.bmp"), std::string::npos);
}

TEST_F(SimilarEngineTest, AnyJobCountGivesTheSameResult)
{
    const EngineRun one = runEngine(m_files, 2, 1);
    for (int32_t jobs : {2, 5}) {
        const EngineRun many = runEngine(m_files, 2, jobs);
        EXPECT_EQ(many.lines, one.lines);
        EXPECT_EQ(many.unreadable, one.unreadable);
        EXPECT_EQ(many.counters.loadCount, one.counters.loadCount);
        EXPECT_EQ(many.counters.pairCount, one.counters.pairCount);
        for (std::size_t i = 0; i < one.files.size(); ++i) {
            EXPECT_EQ(many.files[i].skip, one.files[i].skip);
            EXPECT_EQ(many.files[i].spreadA, one.files[i].spreadA);
            EXPECT_EQ(many.files[i].spreadB, one.files[i].spreadB);
        }
    }
}

TEST_F(SimilarEngineTest, AbortStopsAfterTheFirstLoadedPicture)
{
    const EngineRun run = runEngine(m_files, 2, 1, true);
    EXPECT_EQ(run.counters.loadCount, 1);
    EXPECT_TRUE(run.unreadable.empty());
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.files[0].skip, 0);
    EXPECT_EQ(run.files[0].spreadA, 0);

    const EngineRun parallel = runEngine(m_files, 2, 3, true);
    EXPECT_TRUE(parallel.lines.empty());
    EXPECT_GE(parallel.counters.loadCount, 1);
}

TEST(SimilarEngineEmptyTest, NoFilesNoWork)
{
    const EngineRun run = runEngine({}, 0, 2);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.counters.loadCount, 0);
}
