#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "search/privilege.h"
#include "support/cli_run.h"
#include "support/test_pictures.h"
#include "support/test_png.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> operator+(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// What zelvic-cli writes to standard output when that is a terminal (a
// pseudo-terminal in raw mode, so that the bytes arrive as written).
std::string terminalOutput(const std::vector<std::string>& args)
{
    int master = -1;
    int slave = -1;
    termios raw {};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0)
        return "openpty failed";
    const std::string command = testing_support::cliCommand(args) + " 2>/dev/null";
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(slave, STDOUT_FILENO);
        ::close(master);
        ::close(slave);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(slave);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // EIO once the last writer has closed the terminal
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(master);
    int status = 0;
    ::waitpid(child, &status, 0);
    return out;
}

// The value of `"name":N` at its `nth` appearance in a JSON text; -1 when missing.
long jsonNumber(const std::string& json, const std::string& name, int nth)
{
    const std::regex member("\"" + name + "\":(-?[0-9]+)");
    auto it = std::sregex_iterator(json.begin(), json.end(), member);
    for (int i = 0; i < nth && it != std::sregex_iterator(); ++i)
        ++it;
    return it == std::sregex_iterator() ? -1 : std::stol((*it)[1]);
}

} // namespace

TEST(SearchCommandTest, BadArgumentsExitWithTwo)
{
    TempDir dir;
    for (const auto& args : std::vector<std::vector<std::string>> {
             {},
             {"frobnicate"},
             {"search"},
             {"search", dir.str(), "--depth", "4"},
             {"search", dir.str(), "--mode", "colour"},
             {"search", dir.str(), "--level=lenient"},
             {"search", dir.str(), "--screen", "3"},
             {"search", dir.str(), "--jobs", "0"},
             {"search", dir.str(), "--depth"},
             {"search", dir.str(), "--bogus", "1"},
             {"search", dir.str(), ""},
             {"signature", "--engine", "fuzzy", "x.jpg"},
             {"signature", "--engine", "identical"},
         }) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(runCli({"search", dir.str() + "/missing"}).status, 1);
}

TEST(SearchCommandTest, JsonObjectOfAPictureSizeSearch)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::solidPicture(64, 48, 10, 20, 30));
    testing_support::writeBmp24(dir.file("sub/b.BMP"), testing_support::solidPicture(30, 20, 1, 2, 3));
    testing_support::writeBytes(dir.file("sub/deeper/c.jpg"), "not reached at depth 1");
    testing_support::setModificationTime(dir.file("a.jpg"), 1'000'000'000);
    testing_support::setModificationTime(dir.file("sub/b.BMP"), 1'000'000'000);
    ::setenv("TZ", "UTC", 1);
    const CliRun run = runCli({"search", "./sub/..//", "--mode", "dims", "--depth=1", "--level", "loose", "--screen", "1", "--jobs", "2", "--json"}, dir.str());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string head = "{\"folder\":\"" + dir.str() + "\",\"mode\":1,\"level\":2,\"depth\":1,\"files\":[";
    EXPECT_EQ(run.out.substr(0, head.size()), head);
    EXPECT_TRUE(contains(run.out, "{\"path\":\"" + dir.str() + "/sub/b.BMP\",\"stamp\":\"2001/09/09 01/46/40\",\"size\":1894,"
                                  "\"width\":30,\"height\":20,\"spread_a\":0,\"spread_b\":0,\"skip\":0}"));
    EXPECT_TRUE(contains(run.out, "\"scan_lines\":[\"00002000300000001894 2001/09/09 01/46/40 " + dir.str() + "/sub/b.BMP\",\"0000480064"));
    EXPECT_TRUE(contains(run.out, "\"result_lines\":[],\"unreadable\":[],\"groups\":[],\"counts\":{\"files\":2,\"loaded\":0,\"pairs\":0},\"elapsed_seconds\":"));
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_TRUE(contains(run.err, " ファイル：2 読込：0 選択：0"));
}

TEST(SearchCommandTest, FoldersAndNames)
{
    TempDir dir;
    testing_support::writeBytes(dir.file("\xFF\xFEname.jpg"), "x");
    const CliRun run = runCli({"search", dir.str() + "/", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "{\"folder\":\"" + dir.str() + "\","));
    EXPECT_TRUE(contains(run.out, "\"path\":\"" + dir.str() + "/\xEF\xBF\xBD\xEF\xBF\xBDname.jpg\""));

    const CliRun root = runCli({"search", "/.", "--json"});
    EXPECT_EQ(root.status, 0) << root.err;
    EXPECT_EQ(root.out.substr(0, 15), "{\"folder\":\"/\",\"");

    const CliRun empty = runCli({"search", dir.str() + "/none/.."}, dir.str());
    EXPECT_EQ(empty.status, 0);
    EXPECT_TRUE(empty.out.empty());
    EXPECT_TRUE(contains(empty.err, "重複ファイルなし"));
}

TEST(SearchCommandTest, SeveralFoldersAndExclusions)
{
    TempDir dir;
    testing_support::writeBytes(dir.file("a/x.jpg"), "x");
    testing_support::writeBytes(dir.file("b/y.jpg"), "yy");
    testing_support::writeBytes(dir.file("b/skip/z.jpg"), "zzz");
    testing_support::writeBytes(dir.file("b/w.bmp"), "x");
    const CliRun run = runCli({"search", "a", "./b/", "--exclude", "*/skip/*", "a/.", "--depth", "1", "--json",
                               "--exclude=*.bmp", "--no-cache"},
                              dir.str());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string head = "{\"folder\":\"" + dir.str() + "/a\",\"folders\":[\"" + dir.str() + "/a\",\"" + dir.str()
                             + "/b\"],\"mode\":0,\"level\":0,\"depth\":1,\"files\":[{\"path\":\"" + dir.str() + "/a/x.jpg\"";
    EXPECT_EQ(run.out.substr(0, head.size()), head);
    EXPECT_TRUE(contains(run.out, "\"counts\":{\"files\":2,")) << run.out;
    EXPECT_FALSE(contains(run.out, "z.jpg"));

    // One folder named twice is one folder: no "folders", the bytes of a
    // search of it alone (but for the time).
    const auto withoutTime = [](std::string json) { return json.erase(json.find("\"elapsed_seconds\"")); };
    const CliRun twice = runCli({"search", "b", "b/", "--json", "--no-cache"}, dir.str());
    const CliRun once = runCli({"search", "b", "--json", "--no-cache"}, dir.str());
    ASSERT_EQ(once.status, 0) << once.err;
    EXPECT_EQ(withoutTime(twice.out), withoutTime(once.out));
    EXPECT_TRUE(contains(once.out, "{\"folder\":\"" + dir.str() + "/b\",\"mode\":0,"));

    // Every folder must be readable, the first or a later one.
    const CliRun missing = runCli({"search", "a", "gone", "--json"}, dir.str());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "フォルダ " + dir.str() + "/gone は開けません\n");
    EXPECT_TRUE(missing.out.empty());
}

TEST(SearchCommandTest, PictureThatCannotBeOpenedEndsTheSearch)
{
    TempDir dir;
    ::chmod(dir.str().c_str(), 0755);
    testing_support::writeBytes(dir.file("locked.jpg"), "x");
    ::chmod(dir.file("locked.jpg").c_str(), 0);
    const int result = testing_support::runUnprivileged([&] {
        const CliRun bySize = runCli({"search", dir.str()});
        if (bySize.status != 0)
            return 10;
        const CliRun run = runCli({"search", dir.str(), "--mode", "dims", "--json"});
        if (!run.out.empty())
            return 11;
        if (run.err != "ファイル " + dir.str() + "/locked.jpg は開けません\n")
            return 12;
        return run.status;
    });
    EXPECT_EQ(result, 1);
}

TEST(SearchCommandTest, FolderThatCannotBeReadIsAnError)
{
    TempDir dir;
    ::chmod(dir.str().c_str(), 0755);
    testing_support::writeBytes(dir.file("file.jpg"), "x");
    // What even root cannot read: a file, and a path through one.
    for (const std::string& folder : {dir.str() + "/file.jpg", dir.str() + "/file.jpg/sub", dir.str() + "/missing"}) {
        const CliRun run = runCli({"search", folder, "--json"});
        EXPECT_EQ(run.status, 1) << folder;
        EXPECT_EQ(run.err, "フォルダ " + folder + " は開けません\n");
        EXPECT_TRUE(run.out.empty());
    }
    // A folder without read permission cannot be listed; one without search
    // permission lists names whose files cannot be reached. Either once
    // printed "画像ファイルなし" and exited 0.
    testing_support::writeBytes(dir.file("pics/a.jpg"), "x");
    for (const mode_t mode : {0300, 0600}) {
        ::chmod(dir.file("pics").c_str(), mode);
        const int result = testing_support::runUnprivileged([&] {
            const CliRun run = runCli({"search", dir.file("pics"), "--mode", "dims"});
            if (run.err != "フォルダ " + dir.file("pics") + " は開けません\n")
                return 10;
            return run.status;
        });
        EXPECT_EQ(result, 1) << std::oct << mode;
    }
    ::chmod(dir.file("pics").c_str(), 0755);
}

TEST(SearchCommandTest, WidePictureSizesKeepTheirOwnKeys)
{
    // 12,000 x 60 and 2,000 x 61 once shared the key 612000: one run, compared,
    // and the wide one reported as 2,000 x 61.
    TempDir dir;
    const auto frameHeader = [](int width, int height) {
        const char bytes[] = {'\xFF', '\xD8', '\xFF', '\xC0', 0, 11, 8, static_cast<char>(height >> 8),
                              static_cast<char>(height & 0xFF), static_cast<char>(width >> 8),
                              static_cast<char>(width & 0xFF), 1, 1, 0x11, 0, '\xFF', '\xDA'};
        return std::string(bytes, sizeof bytes);
    };
    testing_support::writeBytes(dir.file("wide.jpg"), frameHeader(12000, 60));
    testing_support::writeBytes(dir.file("narrow.jpg"), frameHeader(2000, 61));
    testing_support::setModificationTime(dir.file("wide.jpg"), 1'000'000'000);
    testing_support::setModificationTime(dir.file("narrow.jpg"), 1'000'000'000);
    ::setenv("TZ", "UTC", 1);
    const CliRun run = runCli({"search", dir.str(), "--mode", "dims", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "\"scan_lines\":[\"00006120000000000017 2001/09/09 01/46/40 " + dir.str()
                                      + "/narrow.jpg\",\"10060120000000000017 2001/09/09 01/46/40 " + dir.str()
                                      + "/wide.jpg\"]"));
    EXPECT_TRUE(contains(run.out, "/wide.jpg\",\"stamp\":\"2001/09/09 01/46/40\",\"size\":17,\"width\":12000,"
                                  "\"height\":60,"));
    EXPECT_TRUE(contains(run.out, "/narrow.jpg\",\"stamp\":\"2001/09/09 01/46/40\",\"size\":17,\"width\":2000,"
                                  "\"height\":61,"));
    // Two runs of one file each: nothing is loaded, so nothing is unreadable.
    EXPECT_TRUE(contains(run.out, "\"result_lines\":[],\"unreadable\":[],\"groups\":[],\"counts\":{\"files\":2,"
                                  "\"loaded\":0,\"pairs\":0}"));
}

TEST(SearchCommandTest, GroupsOfAFileSizeSearch)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::photoLikePicture(64, 48, 7));
    std::filesystem::create_directories(dir.path() / "sub");
    std::filesystem::copy_file(dir.file("a.jpg"), dir.file("sub/b.jpg"));
    testing_support::writeJpeg(dir.file("c.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
    for (const char* name : {"a.jpg", "sub/b.jpg"})
        testing_support::setModificationTime(dir.file(name), 1'000'000'000);

    const CliRun human = runCli({"search", dir.str(), "--depth", "1"});
    ASSERT_EQ(human.status, 0) << human.err;
    EXPECT_EQ(human.out, dir.str() + "/a.jpg\n" + dir.str() + "/sub/b.jpg\n");
    EXPECT_TRUE(contains(human.err, "検索終了\n"));

    const CliRun json = runCli({"search", dir.str(), "--depth", "1", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_TRUE(contains(json.out, "\"unreadable\":[],\"groups\":[[1,2]],\"counts\":{\"files\":3,\"loaded\":2,\"pairs\":1}"));
    EXPECT_TRUE(contains(json.out, "\"result_lines\":[\"0000, 000001, 000002, "));
}

// Whatever the number of threads, a search prints the same bytes: the
// loading threads commit in table order and the pair phases merge in order.
TEST(SearchCommandTest, JobCountsPrintTheSameJson)
{
    TempDir dir;
    for (int32_t i = 0; i < 14; ++i) {
        const Picture picture = testing_support::photoLikePicture(180 + (i % 3) * 20, 120, static_cast<uint32_t>(i % 9));
        const std::string name = "f" + std::to_string(i);
        if (i % 5 == 4)
            testing_support::writeBmp24(dir.file(name + ".bmp"), picture);
        else
            testing_support::writeJpeg(dir.file(name + ".jpg"), picture, 70 + i);
    }
    testing_support::writeBytes(dir.file("broken.jpg"), "not a picture");
    testing_support::writeBytes(dir.file("short.jpg"), testing_support::readFileText(dir.file("f0.jpg")).substr(0, 200));
    // The time and the signature cache's counts (the first run fills it).
    const auto withoutTime = [](std::string json) {
        const auto at = json.find("\"elapsed_seconds\"");
        if (at != std::string::npos)
            json.erase(at, json.find_first_of(",}", at) - at);
        const auto cache = json.find(",\"cache\":{");
        if (cache != std::string::npos)
            json.erase(cache, json.find('}', cache) + 1 - cache);
        return json;
    };
    for (const char* mode : {"size", "dims", "identical", "similar"}) {
        for (const char* level : {"strict", "loose"}) {
            const CliRun one = runCli({"search", dir.str(), "--mode", mode, "--level", level, "--jobs", "1", "--json"});
            ASSERT_EQ(one.status, 0) << one.err;
            EXPECT_TRUE(contains(one.out, "broken.jpg")) << mode;
            if (std::string(mode) == "identical" || std::string(mode) == "similar")
                EXPECT_TRUE(contains(one.out, ".jpg,f")) << mode << ": the re-saved copies pair";
            for (const char* jobs : {"2", "3"}) {
                const CliRun other = runCli({"search", dir.str(), "--mode", mode, "--level", level, "--jobs", jobs, "--json"});
                EXPECT_EQ(withoutTime(other.out), withoutTime(one.out)) << mode << " " << level << " jobs " << jobs;
            }
        }
    }
}

// Names that would drive a terminal or read as two paths: escaped on a
// terminal and in a pipe, raw only with --null, which ends each path with a
// NUL and puts one more between groups. The JSON keeps its own escaping.
TEST(SearchCommandTest, NamesAreShownEscapedAndRawOnlyWithNull)
{
    TempDir dir;
    const std::string picture = dir.file("a.jpg");
    testing_support::writeJpeg(picture, testing_support::photoLikePicture(64, 48, 7));
    testing_support::writeJpeg(dir.file("z.jpg"), testing_support::photoLikePicture(64, 48, 8));
    const std::string named[] = {"a\nb.jpg", "\x1B]0;owned\x07.jpg", "\xFF\xFE.jpg"};
    for (const std::string& name : named)
        std::filesystem::copy_file(picture, dir.file(name));
    std::filesystem::copy_file(dir.file("z.jpg"), dir.file("z copy.jpg"));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        testing_support::setModificationTime(entry.path().string(), 1'000'000'000);
    const std::vector<std::string> args = {"search", dir.str(), "--mode", "identical"};
    const std::string d = dir.str() + "/";

    // In the order of the raw bytes: "\n" sorts before ".".
    const std::string escaped = d + "\\x1B]0;owned\\x07.jpg\n" + d + "a\\nb.jpg\n" + d + "a.jpg\n" + d
                                + "\\xFF\\xFE.jpg\n\n" + d + "z copy.jpg\n" + d + "z.jpg\n";
    EXPECT_EQ(terminalOutput(args), escaped);
    const CliRun piped = runCli(args);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, escaped);

    const std::string nul(1, '\0');
    const std::string raw = d + named[1] + nul + d + named[0] + nul + d + "a.jpg" + nul + d + named[2] + nul + nul + d
                            + "z copy.jpg" + nul + d + "z.jpg" + nul;
    for (const char* option : {"--null", "-0"}) {
        const CliRun null = runCli(args + std::vector<std::string> {option});
        ASSERT_EQ(null.status, 0) << null.err;
        EXPECT_EQ(null.out, raw) << option;
    }
    // A terminal never gets the raw bytes, not even with --null.
    EXPECT_EQ(terminalOutput(args + std::vector<std::string> {"--null"}).find('\x1B'), std::string::npos);

    const CliRun json = runCli(args + std::vector<std::string> {"--json"});
    EXPECT_TRUE(contains(json.out, "\"path\":\"" + d + "a\\nb.jpg\""));
    EXPECT_TRUE(contains(json.out, "\"path\":\"" + d + "\\u001b]0;owned\\u0007.jpg\""));
    const CliRun both = runCli(args + std::vector<std::string> {"--json", "--null"});
    EXPECT_EQ(both.status, 2);
    EXPECT_TRUE(contains(both.err, "--json and --null together")) << both.err;
}

// Each command says when its output could not be written, and fails.
TEST(SearchCommandTest, FailedWritesAreReported)
{
    TempDir dir;
    const std::string picture = dir.file("a.jpg");
    testing_support::writeJpeg(picture, testing_support::photoLikePicture(64, 48, 7));
    std::filesystem::copy_file(picture, dir.file("b.jpg"));
    const std::string cache = dir.file("c.sqlite");
    const std::vector<std::vector<std::string>> commands = {
        {"search", dir.str(), "--mode", "identical", "--no-cache"},
        {"search", dir.str(), "--json", "--cache", cache},
        {"signature", "--engine", "similar", picture},
        {"signature", "--engine", "identical", picture},
        {"cache", "stats", "--cache", cache},
        {"cache", "prune", "--cache", cache},
        {"cache", "clear", "--cache", cache},
        {"--help"},
    };
    for (const auto& words : commands) {
        SCOPED_TRACE(testing_support::cliCommand(words));
        const std::string command = testing_support::cliCommand(words) + " >/dev/full 2>" + dir.file("err");
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const std::string err = testing_support::readFileText(dir.file("err"));
        EXPECT_TRUE(contains(err, "zelvic-cli: cannot write the output")) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

// An explicit cache's folder must be there; only the default one is made.
TEST(SearchCommandTest, ExplicitCacheInAMissingFolderIsAnError)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::photoLikePicture(64, 48, 7));
    const CliRun run = runCli({"search", dir.str(), "--cache", dir.str() + "/missing/dir/x.sqlite"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "the folder of the signature cache " + dir.str() + "/missing/dir/x.sqlite does not exist"))
        << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.str() + "/missing"));

    // The default one is made where it is missing.
    const std::string base = dir.str() + "/new/cache";
    const std::string command = "export XDG_CACHE_HOME=" + testing_support::shellQuoted(base) + "; "
                                + testing_support::cliCommand({"search", dir.str()}) + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(base + "/zelvic/signatures.sqlite"));
}

// The JSON's spreads of each file are the similar signature's own, each in
// its own member.
TEST(SearchCommandTest, SimilarSearchListsBothSpreadsOfEachFile)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::photoLikePicture(160, 120, 31));
    testing_support::writeJpeg(dir.file("b.jpg"), testing_support::photoLikePicture(120, 160, 32));
    const CliRun search = runCli({"search", dir.str(), "--mode", "similar", "--json", "--no-cache"});
    ASSERT_EQ(search.status, 0) << search.err;
    int checked = 0;
    for (const char* name : {"a.jpg", "b.jpg"}) {
        SCOPED_TRACE(name);
        const CliRun signature = runCli({"signature", "--engine", "similar", dir.file(name)});
        ASSERT_EQ(signature.status, 0) << signature.err;
        const long spreadA = jsonNumber(signature.out, "spread_a", 0);
        const long spreadB = jsonNumber(signature.out, "spread_b", 0);
        EXPECT_NE(spreadA, spreadB) << "the same spreads would not tell the members apart";
        const int index = checked++;
        EXPECT_EQ(jsonNumber(search.out, "spread_a", index), spreadA);
        EXPECT_EQ(jsonNumber(search.out, "spread_b", index), spreadB);
    }
}

TEST(SearchCommandTest, FormatsChooseTheFilesAndOnlyOtherFormatsAreNamedInTheJson)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.JPG"), testing_support::solidPicture(16, 16, 10, 20, 30));
    testing_support::writeBmp24(dir.file("b.bmp"), testing_support::solidPicture(16, 16, 10, 20, 30));
    testing_support::writeBytes(dir.file("c.txt"), "not a picture");
    const CliRun plain = runCli({"search", dir.str(), "--mode", "dims", "--json", "--no-cache"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_FALSE(contains(plain.out, "\"formats\""));
    EXPECT_EQ(jsonNumber(plain.out, "files", 0), 2);

    const CliRun same = runCli({"search", dir.str(), "--mode", "dims", "--json", "--no-cache", "--formats", "bmp,jpg"});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_FALSE(contains(same.out, "\"formats\""));

    const CliRun bmp = runCli({"search", dir.str(), "--mode", "dims", "--json", "--no-cache", "--formats", "bmp"});
    ASSERT_EQ(bmp.status, 0) << bmp.err;
    EXPECT_TRUE(contains(bmp.out, "\"depth\":0,\"formats\":\"bmp\",\"files\":[{\"path\":\"" + dir.str() + "/b.bmp\""));
    EXPECT_FALSE(contains(bmp.out, "a.JPG"));
    EXPECT_EQ(jsonNumber(bmp.out, "files", 0), 1);

    const CliRun bad = runCli({"search", dir.str(), "--formats", "gif,"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(contains(bad.err, "bad value for --formats: gif,"));
}

TEST(SearchCommandTest, LosslessCopiesJoinTheirJpegOnlyWhenTheirFormatsAreSearched)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(160, 120, 11);
    testing_support::writeJpeg(dir.file("photo.JPG"), photo, 95);
    testing_support::writeBytes(dir.file("photo.png"), testing_support::encodePng(photo));
    testing_support::writeBytes(dir.file("photo-interlaced.PNG"), testing_support::encodePng(photo, true));
    testing_support::writeBmp24(dir.file("photo.bmp"), photo);
    ASSERT_EQ(std::system(("cwebp -quiet -lossless -exact " + dir.file("photo.png") + " -o " + dir.file("photo.webp")).c_str()), 0);
    ASSERT_EQ(std::system(("convert " + dir.file("photo.png") + " -compress lzw " + dir.file("photo.tif")).c_str()), 0);
    testing_support::writeJpeg(dir.file("other.JPG"), testing_support::photoLikePicture(160, 120, 12), 95);
    const std::vector<std::string> search {"search", dir.str(), "--mode", "identical", "--level", "middle", "--no-cache"};

    const CliRun all = runCli(search + std::vector<std::string> {"--formats", "all"});
    ASSERT_EQ(all.status, 0) << all.err;
    // One group of every copy (in the engine's order, which follows the
    // encoders' file sizes: compared sorted).
    std::vector<std::string> group;
    std::istringstream lines(all.out);
    for (std::string line; std::getline(lines, line);)
        group.push_back(line);
    std::sort(group.begin(), group.end());
    EXPECT_EQ(group, (std::vector<std::string> {dir.file("photo-interlaced.PNG"), dir.file("photo.JPG"),
                                                dir.file("photo.bmp"), dir.file("photo.png"), dir.file("photo.tif"),
                                                dir.file("photo.webp")}));

    const CliRun plain = runCli(search);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, dir.str() + "/photo.JPG\n" + dir.str() + "/photo.bmp\n");

    // A lossless copy of the same pixels has the bitmap's signatures.
    for (const char* engine : {"identical", "similar"}) {
        const CliRun bmp = runCli({"signature", "--engine", engine, dir.file("photo.bmp")});
        for (const char* copy : {"photo.png", "photo-interlaced.PNG", "photo.webp", "photo.tif"}) {
            const CliRun lossless = runCli({"signature", "--engine", engine, dir.file(copy)});
            ASSERT_EQ(lossless.status, 0) << lossless.err;
            EXPECT_EQ(lossless.out, bmp.out) << engine << " " << copy;
        }
    }
}
