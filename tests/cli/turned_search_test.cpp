// `search --turned` and `like --turned` from the command line: copies turned
// and mirrored losslessly (bitmaps written here, JPEGs turned by jpegtran
// -perfect) pair with their original in the orientation they were made in,
// and only with --turned.

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "picture/orientation.h"
#include "support/cli_run.h"
#include "support/test_pictures.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

// The turn that brings a copy turned `made` back: quarter turns undo each
// other, the half turn and every mirror undo themselves.
Orientation undoing(Orientation made)
{
    if (made == Orientation::Turned90)
        return Orientation::Turned270;
    if (made == Orientation::Turned270)
        return Orientation::Turned90;
    return made;
}

// jpegtran's words for turning a picture to each orientation.
const std::map<Orientation, std::vector<std::string>> kJpegtran {
    {Orientation::Turned90, {"-rotate", "90"}},
    {Orientation::Turned180, {"-rotate", "180"}},
    {Orientation::Turned270, {"-rotate", "270"}},
    {Orientation::Mirrored, {"-flip", "horizontal"}},
    {Orientation::MirroredTurned90, {"-transverse"}},
    {Orientation::MirroredTurned180, {"-flip", "vertical"}},
    {Orientation::MirroredTurned270, {"-transpose"}},
};

nlohmann::json searchJson(const std::vector<std::string>& words)
{
    std::vector<std::string> args {"search"};
    args.insert(args.end(), words.begin(), words.end());
    args.push_back("--json");
    const CliRun run = runCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.status == 0 ? nlohmann::json::parse(run.out) : nlohmann::json::object();
}

// The report without what differs from run to run.
std::string stable(nlohmann::json report)
{
    report.erase("elapsed_seconds");
    report.erase("cache");
    return report.dump();
}

std::string fileName(const nlohmann::json& report, int index)
{
    return std::filesystem::path(report["files"][static_cast<std::size_t>(index)]["path"].get<std::string>())
        .filename()
        .string();
}

struct Pair {
    std::string a;
    std::string b;
    std::string orientation;
    int score;
};

std::vector<Pair> pairsOf(const nlohmann::json& report)
{
    std::vector<Pair> pairs;
    const auto& lines = report["result_lines"];
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = lines[i].get<std::string>();
        Pair pair {fileName(report, std::stoi(line.substr(6, 6))), fileName(report, std::stoi(line.substr(14, 6))),
                   report.contains("orientations") ? report["orientations"][i].get<std::string>() : "",
                   std::stoi(line.substr(0, 4))};
        pairs.push_back(pair);
    }
    return pairs;
}

// A folder with "0orig" and its seven turned copies "1-turn90" ... (the
// original sorts first, so it is A in each of its pairs), and one unrelated
// picture.
void writeTurnedBitmaps(const TempDir& dir)
{
    const Picture original = testing_support::photoLikePicture(331, 217, 5);
    testing_support::writeBmp24(dir.file("pics/0orig.BMP"), original);
    for (int32_t o = 1; o < kOrientationCount; ++o) {
        const std::string name = std::to_string(o) + "-" + std::string(orientationName(orientationAt(o))) + ".BMP";
        testing_support::writeBmp24(dir.file("pics/" + name), turnedPicture(original, orientationAt(o)));
    }
    testing_support::writeBmp24(dir.file("pics/9other.BMP"), testing_support::photoLikePicture(331, 217, 6));
}

// Checks that each copy pairs with the original exactly once in the
// orientation that turns B into A's picture (the copy turned back when it is
// B, the original turned as the copy was when the copy comes first in the
// table), and that every pair is reported once.
void expectCopiesPairWithOriginal(const nlohmann::json& report, const std::string& extension, bool lossless)
{
    const std::vector<Pair> pairs = pairsOf(report);
    std::set<std::pair<std::string, std::string>> seen;
    for (const Pair& pair : pairs)
        EXPECT_TRUE(seen.emplace(pair.a, pair.b).second) << "twice: " << pair.a << " " << pair.b;
    const std::string original = "0orig" + extension;
    for (int32_t o = 1; o < kOrientationCount; ++o) {
        const std::string name = std::to_string(o) + "-" + std::string(orientationName(orientationAt(o))) + extension;
        SCOPED_TRACE(name);
        const auto found = std::find_if(pairs.begin(), pairs.end(), [&](const Pair& p) {
            return (p.a == original && p.b == name) || (p.a == name && p.b == original);
        });
        ASSERT_NE(found, pairs.end());
        const Orientation made = orientationAt(o);
        EXPECT_EQ(found->orientation, orientationName(found->a == original ? undoing(made) : made));
        if (lossless) {
            EXPECT_EQ(found->score, 0);
        }
    }
    for (const Pair& pair : pairs)
        EXPECT_TRUE(pair.a.find("other") == std::string::npos && pair.b.find("other") == std::string::npos);
}

} // namespace

TEST(TurnedSearchTest, BitmapsTurnedEveryWayPairOnlyWithTurned)
{
    const TempDir dir;
    writeTurnedBitmaps(dir);
    const std::string pics = dir.str() + "/pics";
    const nlohmann::json plain = searchJson({pics, "--mode", "identical", "--no-cache"});
    EXPECT_TRUE(plain["result_lines"].empty());
    EXPECT_FALSE(plain.contains("orientations"));

    const nlohmann::json turned = searchJson({pics, "--mode", "identical", "--no-cache", "--turned"});
    // All eight show the same picture: every pair of them, once each.
    EXPECT_EQ(turned["result_lines"].size(), 28u);
    EXPECT_EQ(turned["orientations"].size(), turned["result_lines"].size());
    EXPECT_EQ(turned["groups"].size(), 1u);
    expectCopiesPairWithOriginal(turned, ".BMP", true);

    // The same output on any number of threads, and with a cold and a warm cache.
    const std::string cache = dir.str() + "/cache.sqlite";
    const std::string cold = stable(searchJson({pics, "--mode", "identical", "--turned", "--cache", cache}));
    EXPECT_EQ(cold, stable(searchJson({pics, "--mode", "identical", "--turned", "--cache", cache})));
    for (const std::string jobs : {"1", "2", "3"})
        EXPECT_EQ(stable(searchJson({pics, "--mode", "identical", "--turned", "--no-cache", "--jobs", jobs})),
                  stable(turned))
            << jobs;
}

TEST(TurnedSearchTest, JpegsTurnedLosslesslyPairOnlyWithTurned)
{
    const TempDir dir;
    // Sides that are whole JPEG blocks, so that every turn is perfect.
    testing_support::writeJpeg(dir.file("pics/0orig.jpg"), testing_support::photoLikePicture(320, 240, 8), 90);
    for (const auto& [orientation, words] : kJpegtran) {
        const std::string name = std::to_string(static_cast<int>(orientation)) + "-"
                                  + std::string(orientationName(orientation)) + ".jpg";
        std::string command = "jpegtran -perfect";
        for (const std::string& word : words)
            command += " " + word;
        command += " -outfile " + dir.file("pics/" + name) + " " + dir.file("pics/0orig.jpg");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    testing_support::writeJpeg(dir.file("pics/9other.jpg"), testing_support::photoLikePicture(320, 240, 9), 90);
    const std::string pics = dir.str() + "/pics";
    for (const std::string level : {"strict", "loose"}) {
        SCOPED_TRACE(level);
        const nlohmann::json plain = searchJson({pics, "--mode", "identical", "--level", level, "--no-cache"});
        for (const Pair& pair : pairsOf(plain))
            EXPECT_TRUE(pair.a != "0orig.jpg" && pair.b != "0orig.jpg") << pair.a << " " << pair.b;
        const nlohmann::json turned
            = searchJson({pics, "--mode", "identical", "--level", level, "--no-cache", "--turned"});
        expectCopiesPairWithOriginal(turned, ".jpg", false);
        EXPECT_EQ(stable(searchJson({pics, "--mode", "identical", "--level", level, "--no-cache", "--turned",
                                     "--jobs", "2"})),
                  stable(turned));
    }
}

TEST(TurnedSearchTest, SizeModesTakeNoTurnedCopies)
{
    const TempDir dir;
    writeTurnedBitmaps(dir);
    const std::string pics = dir.str() + "/pics";
    std::filesystem::copy_file(pics + "/0orig.BMP", pics + "/8copy.BMP");
    for (const std::string mode : {"size", "dims"}) {
        nlohmann::json turned = searchJson({pics, "--mode", mode, "--no-cache", "--turned"});
        const nlohmann::json plain = searchJson({pics, "--mode", mode, "--no-cache"});
        // The size modes confirm upright pictures only: the plain copy pairs,
        // the turned ones (of equal sizes too) do not.
        EXPECT_EQ(turned["result_lines"].size(), 1u) << mode;
        EXPECT_EQ(turned["orientations"], nlohmann::json(std::vector<std::string> {"upright"}));
        turned.erase("orientations");
        EXPECT_EQ(stable(turned), stable(plain));
    }
}

TEST(TurnedSearchTest, LikeNamesTheTurnedCopiesTheSearchPairs)
{
    const TempDir dir;
    writeTurnedBitmaps(dir);
    const std::string pics = dir.str() + "/pics";
    const nlohmann::json report = searchJson({pics, "--mode", "identical", "--no-cache", "--turned"});
    for (const std::string picture : {"0orig.BMP", "3-turn270.BMP"}) {
        SCOPED_TRACE(picture);
        const CliRun liked
            = runCli({"like", pics + "/" + picture, pics, "--mode", "identical", "--no-cache", "--turned"});
        ASSERT_EQ(liked.status, 0) << liked.err;
        // Each line: the score, how the file is turned to look like the
        // picture (the search's orientation of B, undone when the file is A).
        std::vector<std::pair<std::size_t, std::string>> wanted; // table index, line
        std::vector<std::string> table;
        for (const auto& file : report["files"])
            table.push_back(std::filesystem::path(file["path"].get<std::string>()).filename().string());
        for (const Pair& pair : pairsOf(report)) {
            if (pair.a == picture || pair.b == picture) {
                const std::string file = pair.a == picture ? pair.b : pair.a;
                const Orientation seen = *orientationNamed(pair.orientation);
                const Orientation shown = pair.a == picture ? seen : undoing(seen);
                const auto at = static_cast<std::size_t>(std::find(table.begin(), table.end(), file) - table.begin());
                wanted.emplace_back(at, std::to_string(pair.score) + "\t" + std::string(orientationName(shown)) + "\t"
                                            + pics + "/" + file);
            }
        }
        // All score 0: in file-table order.
        std::sort(wanted.begin(), wanted.end());
        std::vector<std::string> lines;
        std::istringstream in(liked.out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        ASSERT_EQ(lines.size(), 7u);
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i], wanted[i].second);
    }
    // Without --turned nothing pairs.
    const CliRun plain = runCli({"like", pics + "/0orig.BMP", pics, "--mode", "identical", "--no-cache"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "");
}
