#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/cli_run.h"
#include "support/test_mounts.h"
#include "support/test_pictures.h"

namespace {

using testing_support::pathExists;
using testing_support::readFileText;
using testing_support::TempDir;

// A folder of two pictures with copies: a.jpg twice (one older, in sub/),
// b.jpg three times, all at one time; every command runs with its own trash and journal.
class CleanupCli : public ::testing::Test {
protected:
    CleanupCli()
    {
        const std::string lib = m_dir.str() + "/lib";
        testing_support::writeJpeg(m_dir.file("lib/a.jpg"), testing_support::photoLikePicture(160, 120, 1));
        testing_support::writeJpeg(m_dir.file("lib/b.jpg"), testing_support::photoLikePicture(200, 150, 2));
        std::filesystem::copy_file(lib + "/a.jpg", m_dir.file("lib/a_copy.jpg"));
        testing_support::setModificationTime(lib + "/a_copy.jpg", 1000000000);
        std::filesystem::copy_file(lib + "/b.jpg", lib + "/b (1).jpg");
        std::filesystem::copy_file(lib + "/b.jpg", lib + "/bb.jpg");
        for (const char* name : {"/a.jpg", "/b.jpg", "/b (1).jpg", "/bb.jpg"})
            testing_support::setModificationTime(lib + name, 1600000000);
    }

    // zelvic-cli with this test's own trash and journal.
    testing_support::CliRun cli(const std::vector<std::string>& args)
    {
        std::string command = "env";
        for (const std::string& word : {"XDG_DATA_HOME=" + m_dir.str() + "/data", "XDG_STATE_HOME=" + m_dir.str() + "/state",
                                        std::string(ZELVIC_CLI_PATH)})
            appendWord(command, word);
        for (const std::string& word : args)
            appendWord(command, word);
        const TempDir out;
        const std::string outPath = out.str() + "/out";
        const std::string errPath = out.str() + "/err";
        command += " >";
        command += outPath;
        command += " 2>";
        command += errPath;
        const int status = std::system(command.c_str());
        testing_support::CliRun run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = readFileText(outPath);
        run.err = readFileText(errPath);
        return run;
    }

    std::vector<std::string> search(std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"search", m_dir.str() + "/lib", "--mode", "identical", "--no-cache"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    TempDir m_dir;

private:
    static void appendWord(std::string& command, const std::string& word)
    {
        command += ' ';
        command += testing_support::shellQuoted(word);
    }
};

TEST_F(CleanupCli, KeepAddsMarksAndChangesNothingElse)
{
    const auto plain = cli(search({"--json"}));
    const auto marked = cli(search({"--json", "--keep", "oldest,path"}));
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(marked.status, 0) << marked.err;
    // Up to the time taken, byte for byte the plain report; the marks come last.
    const std::string upToTime = plain.out.substr(0, plain.out.find("\"elapsed_seconds\""));
    ASSERT_EQ(marked.out.substr(0, upToTime.size()), upToTime);
    EXPECT_EQ(plain.out.find("\"marks\""), std::string::npos);
    const nlohmann::json json = nlohmann::json::parse(marked.out);
    const auto& files = json["files"];
    const auto name = [&files](int index) {
        return std::filesystem::path(files[index]["path"].get<std::string>()).filename().string();
    };
    ASSERT_EQ(json["marks"].size(), json["groups"].size());
    for (std::size_t g = 0; g < json["groups"].size(); ++g)
        EXPECT_EQ(json["marks"][g]["members"], json["groups"][g]);
    // a_copy.jpg is the oldest; of the b's, equal dates leave the shortest path.
    std::vector<std::string> kept;
    std::size_t trashed = 0;
    for (const auto& group : json["marks"]) {
        kept.push_back(name(group["keep"].get<int>()));
        trashed += group["trash"].size();
        EXPECT_TRUE(std::is_sorted(group["trash"].begin(), group["trash"].end()));
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string> {"a_copy.jpg", "b.jpg"}));
    EXPECT_EQ(trashed, 3u);

    const auto csv = cli(search({"--csv", "--keep", "oldest,path"}));
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')), "group,path,size,width,height,date,score,mark,rule");
    EXPECT_NE(csv.out.find("/lib/a_copy.jpg\"," + std::to_string(std::filesystem::file_size(m_dir.str() + "/lib/a.jpg")) +
                           ",160,120,2001-09-09 "),
              std::string::npos)
        << csv.out;
    EXPECT_NE(csv.out.find(",trash,path\n"), std::string::npos) << csv.out;
    // Without a rule nothing is proposed.
    const auto unmarked = cli(search({"--csv"}));
    EXPECT_EQ(unmarked.out.find(",keep,"), std::string::npos) << unmarked.out;
    EXPECT_EQ(unmarked.out.find(",trash,"), std::string::npos) << unmarked.out;
    EXPECT_NE(unmarked.out.find(",none,\n"), std::string::npos) << unmarked.out;
}

TEST_F(CleanupCli, PlanApplyBatchesAndUndo)
{
    const std::string plan = m_dir.str() + "/plan.json";
    const auto searched = cli(search({"--keep", "bytes,path", "--plan", plan}));
    ASSERT_EQ(searched.status, 0) << searched.err;
    nlohmann::json json = nlohmann::json::parse(readFileText(plan));
    EXPECT_EQ(json["version"], 1);
    EXPECT_EQ(json["options"]["keep"], (nlohmann::json {"bytes", "path"}));
    ASSERT_EQ(json["groups"].size(), 2u);

    // A script marks every member of the first group: that group is refused.
    for (auto& member : json["groups"][0]["members"])
        member["mark"] = "trash";
    std::ofstream(plan) << json.dump();

    const auto dry = cli({"apply", plan, "--dry-run"});
    EXPECT_EQ(dry.status, 1);
    EXPECT_NE(dry.out.find("refused group 1\t"), std::string::npos) << dry.out;
    const auto applied = cli({"apply", plan});
    EXPECT_EQ(applied.status, 1) << applied.err;
    std::size_t trashedLines = 0;
    for (std::size_t at = applied.out.find("trashed\t"); at != std::string::npos; at = applied.out.find("trashed\t", at + 1))
        ++trashedLines;
    EXPECT_EQ(trashedLines, json["groups"][1]["members"].size() - 1);

    const auto batches = cli({"batches"});
    ASSERT_EQ(batches.status, 0);
    EXPECT_EQ(batches.out.substr(0, 2), "1\t");
    EXPECT_NE(batches.out.find("\tdone\ttrash\n"), std::string::npos) << batches.out;

    // Applied again: every marked file is gone since the plan.
    const auto again = cli({"apply", plan});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("skipped group 2\t"), std::string::npos) << again.out;

    const auto undone = cli({"undo"});
    EXPECT_EQ(undone.status, 0) << undone.err;
    for (const char* name : {"a.jpg", "a_copy.jpg", "b.jpg", "b (1).jpg", "bb.jpg"})
        EXPECT_TRUE(pathExists(m_dir.str() + "/lib/" + name)) << name;
    EXPECT_NE(cli({"batches"}).out.find("\tundone\t"), std::string::npos);
    EXPECT_EQ(cli({"undo"}).status, 1); // nothing left to undo
    EXPECT_EQ(cli({"undo", "7"}).status, 1);
}

TEST_F(CleanupCli, BadWordsAreRefusedBeforeAnythingHappens)
{
    EXPECT_EQ(cli(search({"--keep", "largest"})).status, 2);
    EXPECT_EQ(cli(search({"--reference", "/x"})).status, 2);
    EXPECT_EQ(cli(search({"--csv", "--json"})).status, 2);
    EXPECT_EQ(cli({"apply"}).status, 2);
    EXPECT_EQ(cli({"undo", "last"}).status, 2);
    const auto missing = cli({"apply", m_dir.str() + "/no-plan.json"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot read the plan"), std::string::npos);
    testing_support::writeBytes(m_dir.str() + "/bad.json", "{\"version\":1,\"groups\":[{}]}");
    EXPECT_EQ(cli({"apply", m_dir.str() + "/bad.json"}).status, 1);
    EXPECT_FALSE(pathExists(m_dir.str() + "/state/zelvic/batches.sqlite"));
}

} // namespace
