#include "cleanup/batch_actions.h"

#include <filesystem>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "review/trash.h"
#include "support/test_mounts.h"
#include "support/test_pictures.h"

namespace {

using testing_support::pathExists;
using testing_support::readFileText;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::TmpfsMount;
using testing_support::writeBytes;

std::size_t entriesIn(const std::string& folder)
{
    std::error_code ec;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

int64_t mtimeOf(const std::string& path)
{
    return readIdentity(path).value_or(FileIdentity {}).mtimeNs;
}

// A folder with its own trash and journal, and groups of files written there.
class BatchFixture : public ::testing::Test {
protected:
    BatchFixture()
        : m_data("XDG_DATA_HOME", (m_dir.str() + "/data").c_str()),
          m_state("XDG_STATE_HOME", (m_dir.str() + "/state").c_str())
    {
    }

    std::string trashFiles() const { return m_dir.str() + "/data/Trash/files"; }
    std::string trashInfo() const { return m_dir.str() + "/data/Trash/info"; }

    // A file with its own bytes and a modification time in the past.
    std::string makeFile(const std::string& relative, int64_t seconds = 1500000000)
    {
        const std::string path = m_dir.file(relative);
        writeBytes(path, "bytes of " + relative);
        testing_support::setModificationTime(path, seconds);
        return path;
    }

    // A group planned now: the first member kept, `trash` of the rest marked.
    PlanGroup planGroup(const std::vector<std::string>& paths, std::size_t trash)
    {
        PlanGroup group;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const Mark mark = i == 0 ? Mark::Keep : (i <= trash ? Mark::Trash : Mark::None);
            group.members.push_back({paths[i], readIdentity(paths[i]).value(), mark});
        }
        return group;
    }

    std::unique_ptr<BatchJournal> journal()
    {
        std::string problem;
        std::unique_ptr<BatchJournal> opened = BatchJournal::open(BatchJournal::defaultPath(), problem);
        EXPECT_TRUE(opened) << problem;
        return opened;
    }

    TempDir m_dir;
    ScopedEnv m_data;
    ScopedEnv m_state;
};

TEST_F(BatchFixture, ApplyThenUndoGivesBackEveryFileAsItWas)
{
    CleanupPlan plan;
    std::vector<std::string> trashed;
    for (int g = 0; g < 3; ++g) {
        const std::string keep = makeFile("lib/keep" + std::to_string(g) + ".jpg");
        const std::string a = makeFile("lib/sub/a" + std::to_string(g) + ".jpg", 1400000000 + g);
        const std::string b = makeFile("lib/b" + std::to_string(g) + ".jpg", 1300000000 + g);
        plan.groups.push_back(planGroup({keep, a, b}, 2));
        trashed.push_back(a);
        trashed.push_back(b);
    }
    std::vector<std::string> bytes;
    std::vector<int64_t> times;
    for (const std::string& path : trashed) {
        bytes.push_back(readFileText(path));
        times.push_back(mtimeOf(path));
    }

    auto log = journal();
    std::vector<int64_t> progress;
    ApplyOptions options;
    options.progress = [&progress](int64_t done, int64_t total) { progress.push_back(done * 100 + total); };
    const ApplyReport report = applyPlan(plan, log.get(), options);
    EXPECT_TRUE(report.complete());
    EXPECT_EQ(report.acted, trashed);
    EXPECT_EQ(progress, (std::vector<int64_t> {106, 206, 306, 406, 506, 606}));
    ASSERT_TRUE(report.batch);
    for (const std::string& path : trashed)
        EXPECT_FALSE(pathExists(path));
    EXPECT_EQ(entriesIn(trashFiles()), 6u);
    EXPECT_EQ(entriesIn(trashInfo()), 6u);
    const std::vector<BatchSummary> batches = log->batches();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].files, 6);
    EXPECT_EQ(batches[0].state, "done");

    const UndoReport undone = undoBatch(*log, *report.batch);
    EXPECT_TRUE(undone.ok());
    EXPECT_EQ(undone.restored, 6);
    for (std::size_t i = 0; i < trashed.size(); ++i) {
        EXPECT_EQ(readFileText(trashed[i]), bytes[i]);
        EXPECT_EQ(mtimeOf(trashed[i]), times[i]);
    }
    EXPECT_EQ(entriesIn(trashFiles()), 0u);
    EXPECT_EQ(entriesIn(trashInfo()), 0u);
    EXPECT_EQ(log->batches()[0].state, "undone");
}

TEST_F(BatchFixture, ChangedRemovedAndFullyMarkedGroupsAreNotActedOn)
{
    CleanupPlan plan;
    const std::string keep0 = makeFile("g0/keep.jpg");
    const std::string gone = makeFile("g0/gone.jpg");
    plan.groups.push_back(planGroup({keep0, gone}, 1));
    const std::string keep1 = makeFile("g1/keep.jpg");
    const std::string other1 = makeFile("g1/other.jpg");
    plan.groups.push_back(planGroup({keep1, other1}, 1));
    const std::string keep2 = makeFile("g2/keep.jpg");
    const std::string other2 = makeFile("g2/other.jpg");
    plan.groups.push_back(planGroup({keep2, other2}, 1));
    plan.groups[2].members[0].mark = Mark::Trash; // edited by hand: every member marked
    const std::string keep3 = makeFile("g3/keep.jpg");
    const std::string fine = makeFile("g3/fine.jpg");
    plan.groups.push_back(planGroup({keep3, fine}, 1));

    ::unlink(gone.c_str());
    // The kept file rewritten with the same size and time: its change time tells.
    writeBytes(keep1, readFileText(keep1));
    testing_support::setModificationTime(keep1, 1500000000);

    ApplyOptions dry;
    dry.dryRun = true;
    const ApplyReport preview = applyPlan(plan, nullptr, dry);
    EXPECT_EQ(preview.acted, std::vector<std::string> {fine});
    EXPECT_TRUE(pathExists(fine));

    auto log = journal();
    const ApplyReport report = applyPlan(plan, log.get(), {});
    EXPECT_FALSE(report.complete());
    EXPECT_EQ(report.markedFiles, 5);
    EXPECT_EQ(report.acted, std::vector<std::string> {fine});
    ASSERT_EQ(report.skipped.size(), 2u);
    EXPECT_EQ(report.skipped[0].group, 0u);
    EXPECT_EQ(report.skipped[0].reason, gone + ": gone since the plan");
    EXPECT_EQ(report.skipped[1].group, 1u);
    EXPECT_EQ(report.skipped[1].reason, keep1 + ": changed since the plan");
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_EQ(report.refused[0].group, 2u);
    for (const std::string& path : {keep0, keep1, other1, keep2, other2, keep3})
        EXPECT_TRUE(pathExists(path)) << path;
    EXPECT_FALSE(pathExists(fine));
}

TEST_F(BatchFixture, UndoLeavesATakenPathAndItsNewFileAlone)
{
    const std::string keep = makeFile("lib/keep.jpg");
    const std::string a = makeFile("lib/a.jpg");
    const std::string b = makeFile("lib/b.jpg");
    CleanupPlan plan;
    plan.groups.push_back(planGroup({keep, a, b}, 2));
    auto log = journal();
    const ApplyReport report = applyPlan(plan, log.get(), {});
    ASSERT_TRUE(report.complete());
    writeBytes(a, "a new file at the old name");

    const UndoReport undone = undoBatch(*log, *report.batch);
    EXPECT_EQ(undone.restored, 1);
    ASSERT_EQ(undone.problems.size(), 1u);
    EXPECT_EQ(undone.problems[0].rfind(a + ": the path is taken again", 0), 0u) << undone.problems[0];
    EXPECT_EQ(readFileText(a), "a new file at the old name");
    EXPECT_EQ(readFileText(b), "bytes of lib/b.jpg");
    // The old a stays in the trash with its record, for a later try.
    EXPECT_EQ(entriesIn(trashFiles()), 1u);
    EXPECT_EQ(entriesIn(trashInfo()), 1u);
    EXPECT_EQ(log->batches()[0].state, "partly undone");

    ::unlink(a.c_str());
    const UndoReport again = undoBatch(*log, *report.batch);
    EXPECT_TRUE(again.ok());
    EXPECT_EQ(readFileText(a), "bytes of lib/a.jpg");
    EXPECT_EQ(entriesIn(trashInfo()), 0u);
}

TEST_F(BatchFixture, ABatchKilledHalfWayIsUndoneCompletely)
{
    CleanupPlan plan;
    std::vector<std::string> marked;
    for (int g = 0; g < 10; ++g) {
        const std::string keep = makeFile("lib/keep" + std::to_string(g) + ".jpg");
        const std::string copy = makeFile("lib/copy" + std::to_string(g) + ".jpg");
        plan.groups.push_back(planGroup({keep, copy}, 1));
        marked.push_back(copy);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string problem;
        std::unique_ptr<BatchJournal> log = BatchJournal::open(BatchJournal::defaultPath(), problem);
        ApplyOptions options;
        options.progress = [](int64_t done, int64_t) {
            if (done == 4)
                ::kill(::getpid(), SIGKILL);
        };
        applyPlan(plan, log.get(), options);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(entriesIn(trashFiles()), 4u);

    auto log = journal();
    const std::vector<BatchSummary> batches = log->batches();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].state, "running");
    const UndoReport undone = undoBatch(*log, batches[0].id);
    EXPECT_TRUE(undone.ok());
    EXPECT_EQ(undone.restored, 4);
    for (const std::string& path : marked)
        EXPECT_TRUE(pathExists(path)) << path;
    EXPECT_EQ(entriesIn(trashFiles()), 0u);
    EXPECT_EQ(entriesIn(trashInfo()), 0u);
}

TEST_F(BatchFixture, AMoveWrittenAheadButNotRecordedIsFoundInTheTrash)
{
    // What a crash between the move and its record leaves: the entry is
    // only written ahead, the file is in the trash under a clashing name.
    const std::string file = makeFile("lib/photo.jpg");
    makeFile("other/photo.jpg");
    ASSERT_TRUE(moveFileToTrash(m_dir.str() + "/other/photo.jpg").ok());
    auto log = journal();
    std::string problem;
    const std::optional<int64_t> batch = log->beginBatch("trash", "", problem);
    ASSERT_TRUE(batch);
    ASSERT_TRUE(log->writeAhead(*batch, file, readIdentity(file).value(), "", problem));
    const FileActionResult trashed = moveFileToTrash(file);
    ASSERT_TRUE(trashed.ok());
    EXPECT_EQ(trashed.trashed.filePath, trashFiles() + "/photo.jpg.2");

    const UndoReport undone = undoBatch(*log, *batch);
    EXPECT_TRUE(undone.ok()) << (undone.problems.empty() ? "" : undone.problems[0]);
    EXPECT_EQ(readFileText(file), "bytes of lib/photo.jpg");
    // The other file of that name stays in the trash with its record.
    EXPECT_TRUE(pathExists(trashFiles() + "/photo.jpg"));
    EXPECT_TRUE(pathExists(trashInfo() + "/photo.jpg.trashinfo"));
    EXPECT_FALSE(pathExists(trashInfo() + "/photo.jpg.2.trashinfo"));
}

TEST_F(BatchFixture, MovesIntoAFolderAcrossFileSystemsAndBack)
{
    TmpfsMount volume(m_dir.str() + "/vol", "1m");
    if (!volume.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    const std::string keep = makeFile("lib/keep.jpg");
    const std::string a = makeFile("lib/a.jpg", 1234567890);
    std::filesystem::create_directories(m_dir.str() + "/vol/kept");
    writeBytes(m_dir.str() + "/vol/kept/a.jpg", "a file already there");
    CleanupPlan plan;
    plan.groups.push_back(planGroup({keep, a}, 1));
    auto log = journal();
    ApplyOptions options;
    options.moveTo = m_dir.str() + "/vol/kept";
    const ApplyReport report = applyPlan(plan, log.get(), options);
    ASSERT_TRUE(report.complete()) << (report.failed.empty() ? "" : report.failed[0]);
    EXPECT_FALSE(pathExists(a));
    // The name was taken there: the file takes the next free one.
    EXPECT_EQ(readFileText(m_dir.str() + "/vol/kept/a (2).jpg"), "bytes of lib/a.jpg");
    EXPECT_EQ(readFileText(m_dir.str() + "/vol/kept/a.jpg"), "a file already there");
    EXPECT_TRUE(log->entries(*report.batch)[0].copied); // another file system: by copy

    const UndoReport undone = undoBatch(*log, *report.batch);
    EXPECT_TRUE(undone.ok()) << (undone.problems.empty() ? "" : undone.problems[0]);
    EXPECT_EQ(readFileText(a), "bytes of lib/a.jpg");
    EXPECT_EQ(mtimeOf(a) / 1000000000, 1234567890);
    EXPECT_FALSE(pathExists(m_dir.str() + "/vol/kept/a (2).jpg"));
}

TEST_F(BatchFixture, AbortStopsBetweenFilesAndTheBatchCanBeUndone)
{
    CleanupPlan plan;
    for (const char* name : {"0", "1", "2", "3", "4"})
        plan.groups.push_back(planGroup({makeFile(std::string("k") + name), makeFile(std::string("c") + name)}, 1));
    std::atomic<bool> abort {false};
    ApplyOptions options;
    options.abort = &abort;
    options.progress = [&abort](int64_t done, int64_t) { abort.store(done == 2); };
    auto log = journal();
    const ApplyReport report = applyPlan(plan, log.get(), options);
    EXPECT_TRUE(report.aborted);
    EXPECT_EQ(report.acted.size(), 2u);
    EXPECT_FALSE(report.complete());
    EXPECT_EQ(log->batches()[0].state, "aborted");
    EXPECT_EQ(undoBatch(*log, *report.batch).restored, 2);
    EXPECT_EQ(entriesIn(trashFiles()), 0u);
}

TEST_F(BatchFixture, AFullDiskStopsTheBatchBeforeAnUnrecordedMove)
{
    TmpfsMount stateVolume(m_dir.str() + "/state", "1m");
    if (!stateVolume.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    CleanupPlan plan;
    std::vector<std::string> marked;
    for (const char* name : {"0", "1", "2", "3", "4", "5"}) {
        marked.push_back(makeFile(std::string("lib/c") + name));
        plan.groups.push_back(planGroup({makeFile(std::string("lib/k") + name), marked.back()}, 1));
    }
    auto log = journal();
    const std::string filler = m_dir.str() + "/state/filler";
    ApplyOptions options;
    options.progress = [&filler](int64_t done, int64_t) {
        if (done != 2)
            return;
        // The journal's disk fills up.
        const std::string block(4096, 'f');
        std::FILE* file = std::fopen(filler.c_str(), "wb");
        while (file != nullptr && std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {
        }
        if (file != nullptr)
            std::fclose(file);
    };
    const ApplyReport report = applyPlan(plan, log.get(), options);
    EXPECT_FALSE(report.stopped.empty());
    EXPECT_FALSE(report.complete());
    // Nothing moved past what the journal holds: two files in the trash, four where they were.
    EXPECT_EQ(report.acted.size(), 2u);
    EXPECT_EQ(entriesIn(trashFiles()), 2u);
    for (std::size_t i = 2; i < marked.size(); ++i)
        EXPECT_TRUE(pathExists(marked[i])) << marked[i];

    ::unlink(filler.c_str());
    const UndoReport undone = undoBatch(*log, *report.batch);
    EXPECT_TRUE(undone.ok()) << (undone.problems.empty() ? "" : undone.problems[0]);
    EXPECT_EQ(undone.restored, 2);
    for (const std::string& path : marked)
        EXPECT_TRUE(pathExists(path)) << path;
}

TEST(CleanupPlanText, ReadsBackWhatItWritesAndRefusesBadPlans)
{
    CleanupPlan plan;
    plan.folder = "/lib";
    plan.optionsJson = "{\"keep\":[\"pixels\"]}";
    plan.groups.push_back(PlanGroup {{{"/lib/a.jpg", FileIdentity {3, 4, 5, 6, 7}, Mark::Keep},
                                      {"/lib/\xff\xfe.jpg", FileIdentity {3, 9, 5, 6, 7}, Mark::Trash},
                                      {"/lib/c.jpg", FileIdentity {3, 10, 5, 6, 7}, Mark::None}}});
    std::string problem;
    const std::optional<CleanupPlan> back = planFromText(planText(plan), problem);
    ASSERT_TRUE(back) << problem;
    ASSERT_EQ(back->groups.size(), 1u);
    ASSERT_EQ(back->groups[0].members.size(), 3u);
    EXPECT_EQ(back->groups[0].members[1].path, "/lib/\xff\xfe.jpg");
    EXPECT_EQ(back->groups[0].members[1].identity, (FileIdentity {3, 9, 5, 6, 7}));
    EXPECT_EQ(back->groups[0].members[2].mark, Mark::None);
    EXPECT_EQ(back->optionsJson, plan.optionsJson);

    EXPECT_FALSE(planFromText("{\"version\":2,\"groups\":[]}", problem));
    EXPECT_EQ(problem, "unknown plan version 2");
    EXPECT_FALSE(planFromText("{\"version\":1,\"groups\":[{\"members\":[{\"path\":\"/a\",\"size\":1,\"mtime_ns\":1,"
                              "\"device\":1,\"inode\":1,\"mark\":\"delete\"}]}]}",
                              problem));
    EXPECT_EQ(problem, "group 1: unknown mark \"delete\"");
    EXPECT_FALSE(planFromText("{\"version\":1}", problem));
}

} // namespace
