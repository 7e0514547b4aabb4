#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "search/privilege.h"
#include "support/cli_run.h"
#include "support/test_mounts.h"
#include "support/test_pictures.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string withoutTime(std::string json)
{
    const auto at = json.find("\"elapsed_seconds\"");
    if (at != std::string::npos)
        json.erase(at, json.find_first_of(",}", at) - at);
    return json;
}

// Standard error without the lines of the log, and without the seconds that
// begin the summary line.
std::string withoutLogAndTime(const std::string& err)
{
    std::string kept;
    std::size_t from = 0;
    while (from < err.size()) {
        const std::size_t end = std::min(err.find('\n', from), err.size());
        const std::string line = err.substr(from, end - from);
        if (line.rfind("zelvic.", 0) != 0)
            kept += std::regex_replace(line, std::regex("^ *[0-9.]+ "), "T ") + "\n";
        from = end + 1;
    }
    return kept;
}

// A folder with a good picture, a truncated copy that libjpeg still finishes
// (with a warning), and a file that is no picture at all.
void writeDamagedPictures(const TempDir& dir)
{
    testing_support::writeJpeg(dir.file("good.jpg"), testing_support::photoLikePicture(96, 64, 3));
    const std::string bytes = testing_support::readFileText(dir.file("good.jpg"));
    testing_support::writeBytes(dir.file("trunc.jpg"), bytes.substr(0, bytes.size() / 2));
    testing_support::writeBytes(dir.file("broken.jpg"), "not a picture");
}

} // namespace

TEST(VerboseLogTest, DamagedPicturesAreLoggedOnlyWhenAsked)
{
    ::unsetenv("QT_LOGGING_RULES");
    TempDir dir;
    writeDamagedPictures(dir);
    const std::vector<std::string> search = {"search", dir.str(), "--mode", "identical", "--no-cache", "--json"};
    const CliRun quiet = runCli(search);
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, "zelvic.")) << quiet.err;

    std::vector<std::string> verboseSearch = search;
    verboseSearch.push_back("--verbose");
    const CliRun verbose = runCli(verboseSearch);
    ASSERT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_EQ(withoutTime(verbose.out), withoutTime(quiet.out)); // the log never reaches standard output
    EXPECT_TRUE(contains(verbose.err, "zelvic.picture: " + dir.str() + "/broken.jpg is unreadable: ")) << verbose.err;
    EXPECT_TRUE(contains(verbose.err, "zelvic.picture: " + dir.str() + "/trunc.jpg: libjpeg warning: Premature end of JPEG file\n"))
        << verbose.err;
    // One line for the truncated file, however many warnings libjpeg gives.
    EXPECT_EQ(verbose.err.find("trunc.jpg: libjpeg"), verbose.err.rfind("trunc.jpg: libjpeg"));
    // Without the log lines, standard error is what it was (but for the time).
    EXPECT_EQ(withoutLogAndTime(verbose.err), withoutLogAndTime(quiet.err));
    EXPECT_NE(withoutLogAndTime(quiet.err), "");

    // The same through Qt's own rules, one category at a time.
    ::setenv("QT_LOGGING_RULES", "zelvic.picture=true", 1);
    const CliRun byRule = runCli(search);
    ::unsetenv("QT_LOGGING_RULES");
    EXPECT_TRUE(contains(byRule.err, "zelvic.picture: " + dir.str() + "/broken.jpg is unreadable: ")) << byRule.err;
}

TEST(VerboseLogTest, SignatureCommandLogsTheWarning)
{
    ::unsetenv("QT_LOGGING_RULES");
    TempDir dir;
    writeDamagedPictures(dir);
    const CliRun quiet = runCli({"signature", "--engine", "similar", dir.file("trunc.jpg")});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    const CliRun verbose = runCli({"signature", "--verbose", "--engine", "similar", dir.file("trunc.jpg")});
    EXPECT_EQ(verbose.out, quiet.out);
    EXPECT_TRUE(contains(verbose.err, "zelvic.picture: " + dir.file("trunc.jpg") + ": libjpeg warning: ")) << verbose.err;
}

TEST(VerboseLogTest, FolderThatCannotBeOpenedIsLogged)
{
    ::unsetenv("QT_LOGGING_RULES");
    TempDir dir;
    ::chmod(dir.str().c_str(), 0755);
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
    testing_support::writeJpeg(dir.file("locked/b.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
    testing_support::writeJpeg(dir.file(".hidden/c.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
    ::chmod(dir.file("locked").c_str(), 0);
    const int result = testing_support::runUnprivileged([&] {
        const CliRun quiet = runCli({"search", dir.str(), "--depth", "1", "--no-cache"});
        if (quiet.status != 0 || contains(quiet.err, "zelvic."))
            return 10;
        const CliRun verbose = runCli({"search", dir.str(), "--depth", "1", "--no-cache", "--verbose"});
        if (verbose.status != 0 || verbose.out != quiet.out)
            return 11;
        if (!contains(verbose.err, "zelvic.scan: folder " + dir.str() + "/locked/ passed over: Permission denied\n"))
            return 12;
        if (!contains(verbose.err, "zelvic.scan: hidden folder " + dir.str() + "/.hidden not entered\n"))
            return 13;
        return 0;
    });
    ::chmod(dir.file("locked").c_str(), 0755);
    EXPECT_EQ(result, 0);
}

TEST(VerboseLogTest, CacheFolderThatCannotBeMadeIsLogged)
{
    ::unsetenv("QT_LOGGING_RULES");
    TempDir dir;
    testing_support::writeJpeg(dir.file("a.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
    // Under a file, no folder can be made, even by root. Only the default
    // cache's folder is made (an explicit one must exist).
    testing_support::ScopedEnv cacheHome("XDG_CACHE_HOME", (dir.file("a.jpg") + "/cache").c_str());
    const std::string cache = dir.file("a.jpg") + "/cache/zelvic/signatures.sqlite";
    const CliRun quiet = runCli({"search", dir.str(), "--mode", "identical"});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_TRUE(contains(quiet.err, "zelvic-cli: cannot use the signature cache " + cache)) << quiet.err;
    EXPECT_FALSE(contains(quiet.err, "zelvic.cache")) << quiet.err;
    const CliRun verbose = runCli({"search", dir.str(), "--mode", "identical", "--verbose"});
    EXPECT_TRUE(contains(verbose.err, "zelvic.cache: cannot make the folder of " + cache + ": ")) << verbose.err;
    EXPECT_EQ(withoutLogAndTime(verbose.err), withoutLogAndTime(quiet.err));
}
