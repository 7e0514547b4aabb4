#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "support/cli_run.h"
#include "support/test_pictures.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

using NamePair = std::pair<std::string, std::string>;

// Three pictures that differ in one colour channel by 1 and 2: every two of
// them are identical pictures to the identical engine.
void writeTriple(const TempDir& dir)
{
    for (int32_t shift = 0; shift < 3; ++shift) {
        const Picture picture = testing_support::patternPicture(64, 48, [shift](int32_t x, int32_t y) {
            const auto r = static_cast<uint32_t>(x * 4 % 256);
            const auto g = static_cast<uint32_t>(y * 5 % 256);
            const auto b = static_cast<uint32_t>((x * y + shift) % 256);
            return r << 16 | g << 8 | b;
        });
        testing_support::writeBmp24(dir.file(std::string("pics/") + static_cast<char>('a' + shift) + ".bmp"), picture);
    }
    // Files changed within a clock tick of a search are not kept in the
    // cache; the tests count on the first search warming it.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
}

struct Search {
    CliRun run;
    nlohmann::json report;
    // The pairs of the result list by file name, each in name order.
    std::set<NamePair> pairs() const
    {
        std::set<NamePair> names;
        for (const auto& line : report["result_lines"]) {
            std::smatch m;
            const std::string text = line.get<std::string>();
            if (!std::regex_search(text, m, std::regex(R"(^.{6}\s*(\d+), +(\d+))")))
                continue;
            const auto name = [&](const std::string& index) {
                return std::filesystem::path(report["files"][std::stoul(index)]["path"].get<std::string>())
                    .filename()
                    .string();
            };
            names.insert(std::minmax(name(m[1]), name(m[2])));
        }
        return names;
    }
};

class NotSameTest : public testing::Test {
protected:
    NotSameTest() : m_cache(m_dir.str() + "/cache.sqlite") { writeTriple(m_dir); }

    Search search(std::vector<std::string> more = {}) const
    {
        std::vector<std::string> args {"search", m_dir.str() + "/pics", "--mode", "identical", "--depth", "1",
                                       "--json", "--cache", m_cache};
        args.insert(args.end(), more.begin(), more.end());
        Search result;
        result.run = runCli(args);
        result.report = nlohmann::json::parse(result.run.out, nullptr, false);
        return result;
    }
    CliRun notSame(const std::vector<std::string>& words) const
    {
        std::vector<std::string> args {"not-same"};
        args.insert(args.end(), words.begin(), words.end());
        args.insert(args.end(), {"--cache", m_cache});
        return runCli(args, m_dir.str());
    }
    std::string pic(const std::string& name) const { return m_dir.str() + "/pics/" + name; }

    TempDir m_dir;
    std::string m_cache;
};

// The report with its one varying member taken out.
std::string steady(const std::string& json)
{
    return std::regex_replace(json, std::regex(R"("elapsed_seconds":[0-9.]+)"), "");
}

const std::set<NamePair> kAllThree {{"a.bmp", "b.bmp"}, {"a.bmp", "c.bmp"}, {"b.bmp", "c.bmp"}};

} // namespace

TEST_F(NotSameTest, MarkedPairLeavesTheSearchAndShowMarkedKeepsIt)
{
    ASSERT_EQ(search().run.status, 0); // warm, as every search below
    const Search before = search();
    ASSERT_EQ(before.run.status, 0) << before.run.err;
    EXPECT_EQ(before.pairs(), kAllThree);
    EXPECT_FALSE(before.report.contains("not_same"));
    EXPECT_EQ(before.report["groups"], nlohmann::json::parse("[[0,1,2]]"));

    const CliRun added = notSame({"add", "pics/a.bmp", "pics/b.bmp"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "marked " + pic("a.bmp") + " and " + pic("b.bmp") + "\n");
    EXPECT_EQ(notSame({"add", "pics/b.bmp", "pics/a.bmp"}).out,
              "already marked " + pic("b.bmp") + " and " + pic("a.bmp") + "\n");

    // The group of three splits: a and b are never shown together again.
    const Search after = search();
    EXPECT_EQ(after.run.err.find("zelvic-cli:"), std::string::npos) << after.run.err;
    EXPECT_EQ(after.pairs(), (std::set<NamePair> {{"a.bmp", "c.bmp"}, {"b.bmp", "c.bmp"}}));
    EXPECT_EQ(after.report["not_same"], 1);
    EXPECT_EQ(after.report["counts"]["pairs"], 2);
    EXPECT_EQ(after.report["groups"], nlohmann::json::parse("[[1,2]]"));

    const Search shown = search({"--show-marked"});
    EXPECT_EQ(shown.pairs(), kAllThree);
    EXPECT_EQ(shown.report["not_same"], 1);
    EXPECT_EQ(shown.report["groups"], before.report["groups"]);

    // Once the last mark is gone the report is the unmarked one, byte for byte.
    EXPECT_EQ(notSame({"remove", "pics/b.bmp", "pics/a.bmp"}).status, 0);
    EXPECT_EQ(steady(search().run.out), steady(before.run.out));
    EXPECT_EQ(notSame({"remove", "pics/b.bmp", "pics/a.bmp"}).status, 1);
}

TEST_F(NotSameTest, MarksFollowTheContentsThroughRenameMoveAndCopy)
{
    ASSERT_EQ(notSame({"add", "pics/a.bmp", "pics/b.bmp"}).status, 0);
    ASSERT_EQ(search().report["not_same"], 1); // hashes kept under the old names
    std::filesystem::rename(pic("a.bmp"), pic("renamed.bmp"));
    std::filesystem::create_directories(pic("sub"));
    std::filesystem::rename(pic("b.bmp"), pic("sub/b.bmp"));
    std::filesystem::copy_file(pic("renamed.bmp"), pic("copy.bmp"));

    // The copy carries the mark against b too; the copy and its original are
    // byte for byte the same, never marked.
    const Search moved = search();
    ASSERT_EQ(moved.run.status, 0) << moved.run.err;
    EXPECT_EQ(moved.pairs(), (std::set<NamePair> {{"c.bmp", "copy.bmp"},
                                                  {"copy.bmp", "renamed.bmp"},
                                                  {"c.bmp", "renamed.bmp"},
                                                  {"b.bmp", "c.bmp"}}));
    EXPECT_EQ(moved.report["not_same"], 2);
    EXPECT_EQ(search({"--show-marked"}).pairs().size(), 6U);

    const CliRun same = notSame({"add", "pics/renamed.bmp", "pics/copy.bmp"});
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.err.find("have the same content"), std::string::npos) << same.err;

    const CliRun listed = notSame({"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(std::regex_match(listed.out, std::regex("[0-9a-f]{64} [0-9a-f]{64}\t.*/a\\.bmp\t.*/b\\.bmp\n")))
        << listed.out;
    EXPECT_EQ(notSame({"clear"}).out, "cleared 1 marks\n");
    EXPECT_EQ(notSame({"list"}).out, "");
}

TEST_F(NotSameTest, AFileRewrittenInPlaceLosesItsMark)
{
    ASSERT_EQ(notSame({"add", "pics/a.bmp", "pics/b.bmp"}).status, 0);
    ASSERT_EQ(search().report["not_same"], 1); // b's hash is kept under its path and version
    // b now holds c's picture: its kept hash must not be taken for the new bytes.
    std::filesystem::copy_file(pic("c.bmp"), pic("b.bmp"), std::filesystem::copy_options::overwrite_existing);
    const Search rewritten = search();
    EXPECT_EQ(rewritten.report["not_same"], 0);
    EXPECT_EQ(rewritten.pairs().count({"a.bmp", "b.bmp"}), 1U);
    // Put back, the old content finds its mark again.
    writeTriple(m_dir);
    EXPECT_EQ(search().report["not_same"], 1);
}

TEST_F(NotSameTest, DamagedMarksTableWarnsOnceAndLeavesTheSearchAlone)
{
    const Search plain = search();
    ASSERT_EQ(plain.run.status, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_cache.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE not_same; CREATE TABLE not_same(x); INSERT INTO not_same VALUES (1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const Search damaged = search();
    EXPECT_EQ(damaged.run.status, 0);
    EXPECT_EQ(damaged.pairs(), kAllThree);
    EXPECT_FALSE(damaged.report.contains("not_same"));
    const std::string warning = "zelvic-cli: the not-same marks in " + m_cache + " cannot be used";
    ASSERT_EQ(damaged.run.err.rfind(warning, 0), 0U) << damaged.run.err;
    EXPECT_EQ(damaged.run.err.find(warning, 1), std::string::npos);
    EXPECT_EQ(damaged.report["counts"], plain.report["counts"]);

    // The marks command says so and fails; the cache itself still serves.
    EXPECT_EQ(notSame({"list"}).status, 1);
    EXPECT_EQ(damaged.report["cache"]["hits"], 3);
}

TEST_F(NotSameTest, NoCacheMeansNoMarks)
{
    ASSERT_EQ(notSame({"add", "pics/a.bmp", "pics/b.bmp"}).status, 0);
    const CliRun run = runCli({"search", m_dir.str() + "/pics", "--mode", "identical", "--json", "--no-cache"});
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["counts"]["pairs"], 3);
    EXPECT_FALSE(report.contains("not_same"));
}

TEST_F(NotSameTest, BadWordsAreRefused)
{
    EXPECT_EQ(notSame({}).status, 2);
    EXPECT_EQ(notSame({"add", "pics/a.bmp"}).status, 2);
    EXPECT_EQ(notSame({"list", "pics/a.bmp"}).status, 2);
    EXPECT_EQ(notSame({"forget"}).status, 2);
    const CliRun missing = notSame({"add", "pics/a.bmp", "pics/none.bmp"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("pics/none.bmp is not a file"), std::string::npos) << missing.err;
    // No database is made by a command that only reads or removes.
    EXPECT_EQ(notSame({"list"}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(m_cache));
}
