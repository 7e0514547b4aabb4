#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/search_command.h"
#include "search/folder_scan.h"
#include "support/cli_run.h"
#include "support/test_pictures.h"

namespace {

struct Parsed {
    std::optional<std::string> problem;
    SearchArguments arguments;
};

Parsed parse(const std::vector<std::string>& words)
{
    Parsed parsed;
    parsed.problem = parseSearchArguments(words, parsed.arguments);
    return parsed;
}

} // namespace

TEST(SearchArgumentsTest, ValuesBothSpellingsAndTheLastOneCounts)
{
    const Parsed parsed = parse({"--mode", "identical", "pics", "--level=loose", "--depth", "3", "--screen=2",
                                 "--jobs", "4096", "--mode=similar", "--json", "--cache", "/c.sqlite"});
    ASSERT_FALSE(parsed.problem) << *parsed.problem;
    const SearchOptions& options = parsed.arguments.options;
    EXPECT_EQ(options.folder, "pics");
    EXPECT_EQ(options.mode, CheckMode::Similar);
    EXPECT_EQ(options.level, 2);
    EXPECT_EQ(options.depth, 3);
    EXPECT_EQ(options.screen, 2);
    EXPECT_EQ(options.jobs, 4096);
    EXPECT_EQ(options.cacheFile, "/c.sqlite");
    EXPECT_TRUE(parsed.arguments.json);
    EXPECT_FALSE(parsed.arguments.noCache);
    EXPECT_FALSE(options.turned);
    EXPECT_TRUE(parse({"pics", "--turned"}).arguments.options.turned);

    const Parsed plain = parse({"pics", "--no-cache"});
    ASSERT_FALSE(plain.problem);
    EXPECT_EQ(plain.arguments.options.mode, CheckMode::FileSize);
    EXPECT_EQ(plain.arguments.options.jobs, 0);
    EXPECT_TRUE(plain.arguments.options.cacheFile.empty());
    EXPECT_FALSE(plain.arguments.json);
}

TEST(SearchArgumentsTest, WhatIsWrongIsNamed)
{
    EXPECT_EQ(parse({"pics", "--depth", "4"}).problem, "bad value for --depth: 4");
    EXPECT_EQ(parse({"pics", "--jobs=0"}).problem, "bad value for --jobs: 0");
    // Digits only, at most six: no sign, no blank, nothing that overflows.
    for (const char* value : {"+1", "-0", " 1", "0000001", "", "1x"})
        EXPECT_TRUE(parse({"pics", "--depth", value}).problem) << value;
    EXPECT_FALSE(parse({"pics", "--depth", "000003"}).problem);
    EXPECT_EQ(parse({"pics", "--mode=Size"}).problem, "bad value for --mode: Size");
    EXPECT_EQ(parse({"pics", "--cache="}).problem, "bad value for --cache: an empty file name");
    EXPECT_EQ(parse({"pics", "--cache", "c", "--no-cache"}).problem, "--cache and --no-cache together");
    EXPECT_EQ(parse({"a", ""}).problem, "an empty FOLDER");
    EXPECT_EQ(parse({"a", "--exclude="}).problem, "bad value for --exclude: an empty pattern");
    EXPECT_EQ(parse({"--json"}).problem, "FOLDER is missing");
    EXPECT_EQ(parse({""}).problem, "FOLDER is missing");
    EXPECT_TRUE(parse({"pics", "--bogus"}).problem);
    EXPECT_TRUE(parse({"pics", "--json=yes"}).problem);
    EXPECT_TRUE(parse({"pics", "--level"}).problem);
}

TEST(SearchArgumentsTest, SeveralFoldersAndExclusionsInOrder)
{
    const Parsed parsed = parse({"a", "--exclude", "*/.thumbnails/*", "b", "--exclude=*/Lightroom/*", "a", "--", "-c"});
    ASSERT_FALSE(parsed.problem) << *parsed.problem;
    const SearchOptions& options = parsed.arguments.options;
    EXPECT_EQ(options.folder, "a");
    EXPECT_EQ(options.moreFolders, (std::vector<std::string> {"b", "a", "-c"}));
    EXPECT_EQ(options.excludes, (std::vector<std::string> {"*/.thumbnails/*", "*/Lightroom/*"}));
    // A folder named twice is searched once.
    EXPECT_EQ(searchFoldersOf(options), (std::vector<std::string> {"a", "b", "-c"}));
    const Parsed one = parse({"a"});
    EXPECT_TRUE(one.arguments.options.moreFolders.empty());
    EXPECT_TRUE(one.arguments.options.excludes.empty());
}

TEST(SearchArgumentsTest, WordsKeepTheirBytes)
{
    // A value is taken as it stands even when it looks like an option.
    EXPECT_EQ(parse({"pics", "--cache", "--json"}).arguments.options.cacheFile, "--json");
    const Parsed parsed = parse({"\xFF\xFE/\xE3\x81", "--cache=/tmp/\x80.sqlite"});
    ASSERT_FALSE(parsed.problem);
    EXPECT_EQ(parsed.arguments.options.folder, "\xFF\xFE/\xE3\x81");
    EXPECT_EQ(parsed.arguments.options.cacheFile, "/tmp/\x80.sqlite");
    // A FOLDER that begins with "-" follows "--"; alone it is an unknown option.
    EXPECT_EQ(parse({"--json", "--", "-x"}).arguments.options.folder, "-x");
    EXPECT_TRUE(parse({"-x"}).problem);
    EXPECT_EQ(parse({"-"}).arguments.options.folder, "-");
}

TEST(SearchArgumentsTest, FolderNotInUtf8IsSearched)
{
    testing_support::TempDir dir;
    testing_support::writeBmp24(dir.file("\xFF\xFE/a.bmp"), testing_support::solidPicture(8, 8, 1, 2, 3));
    const testing_support::CliRun run =
        testing_support::runCli({"search", "--no-cache", "--json", "--", "\xFF\xFE"}, dir.str());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"counts\":{\"files\":1,"), std::string::npos) << run.out;
    const testing_support::CliRun bad = testing_support::runCli({"search", "-x"}, dir.str());
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("usage: zelvic-cli search FOLDER"), std::string::npos) << bad.err;
}

TEST(SearchArgumentsTest, FormatsListIsReadAndBadListsAreNamed)
{
    EXPECT_EQ(parse({"pics"}).arguments.options.formats, PictureFormats::defaults());
    const Parsed bmp = parse({"pics", "--formats", "jpg", "--formats=bmp"});
    ASSERT_FALSE(bmp.problem) << *bmp.problem;
    EXPECT_EQ(bmp.arguments.options.formats.words(), "bmp");
    const Parsed all = parse({"pics", "--formats", "all"});
    ASSERT_FALSE(all.problem) << *all.problem;
    EXPECT_EQ(all.arguments.options.formats, PictureFormats::all());
    EXPECT_EQ(parse({"pics", "--formats", "jpg,tga"}).problem, "bad value for --formats: jpg,tga (unknown format tga)");
    EXPECT_EQ(parse({"pics", "--formats="}).problem, "bad value for --formats:  (an empty format in the list)");
}
