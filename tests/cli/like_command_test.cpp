#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/cli_run.h"
#include "support/test_pictures.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

// Every other pixel of every other row.
Picture halved(const Picture& picture)
{
    Picture out(picture.width() / 2, picture.height() / 2);
    for (int32_t y = 0; y < out.height(); ++y) {
        for (int32_t x = 0; x < out.width() * 3; x += 3) {
            for (int32_t c = 0; c < 3; ++c)
                out.row(y)[x + c] = picture.row(2 * y)[2 * x + c];
        }
    }
    return out;
}

Picture brighter(const Picture& picture, int32_t by)
{
    Picture out(picture.width(), picture.height());
    for (std::size_t i = 0; i < picture.byteCount(); ++i)
        out.data()[i] = static_cast<uint8_t>(std::min(255, picture.data()[i] + by));
    return out;
}

// The picture without a border of `by` pixels.
Picture cropped(const Picture& picture, int32_t by)
{
    Picture out(picture.width() - 2 * by, picture.height() - 2 * by);
    for (int32_t y = 0; y < out.height(); ++y)
        std::copy_n(picture.row(y + by) + 3 * by, out.stride(), out.row(y));
    return out;
}

// Four scenes, each as a good JPEG, a coarse one, brighter ones, a halved
// bitmap and a cropped one: pairs for both engines, some only at the looser
// levels, and many that are refused.
void writeScenes(const TempDir& dir, const std::string& folder)
{
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const Picture scene = testing_support::photoLikePicture(320, 240, seed);
        const std::string stem = dir.file(folder + "/s" + std::to_string(seed));
        testing_support::writeJpeg(stem + "good.jpg", scene, 95);
        testing_support::writeJpeg(stem + "coarse.jpg", scene, 40);
        testing_support::writeJpeg(stem + "bright.jpg", brighter(scene, 14), 90);
        testing_support::writeBmp24(stem + "half.bmp", halved(scene));
        testing_support::writeJpeg(stem + "glare.jpg", brighter(scene, 30 + 6 * static_cast<int32_t>(seed)), 90);
        testing_support::writeJpeg(stem + "crop.jpg", cropped(scene, 6 + 4 * static_cast<int32_t>(seed)), 90);
    }
}

// "SCORE<tab>PATH" lines.
std::vector<std::string> likeLines(const CliRun& run)
{
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What a search reports with `picture`, in the form `like` gives it: the
// other file of each result line with the line's score, best first.
std::vector<std::string> pairedInSearch(const nlohmann::json& report, const std::string& picture)
{
    std::vector<std::pair<int, int>> found; // score, then the other file's table index
    std::vector<std::string> paths;
    for (const auto& file : report["files"])
        paths.push_back(file["path"].get<std::string>());
    for (const auto& item : report["result_lines"]) {
        const std::string line = item.get<std::string>();
        const int score = std::stoi(line.substr(0, 4));
        const int a = std::stoi(line.substr(6, 6));
        const int b = std::stoi(line.substr(14, 6));
        if (paths[static_cast<std::size_t>(a)] == picture)
            found.emplace_back(score, b);
        else if (paths[static_cast<std::size_t>(b)] == picture)
            found.emplace_back(score, a);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> lines;
    for (const auto& [score, index] : found)
        lines.push_back(std::to_string(score) + "\t" + paths[static_cast<std::size_t>(index)]);
    return lines;
}

} // namespace

// The check of `like` against the search itself: for both engines and every
// level, the picture in the folder and outside it.
TEST(LikeCommandTest, NamesExactlyTheFilesTheSearchPairsWithThePicture)
{
    const TempDir dir;
    writeScenes(dir, "lib/pics");
    std::filesystem::create_directories(dir.path() / "lib" / "query");
    testing_support::writeJpeg(dir.file("lib/query/q.jpg"), brighter(testing_support::photoLikePicture(320, 240, 2), 6),
                               70);
    const std::string cache = dir.str() + "/cache.sqlite";
    int pairedSomewhere = 0;
    for (const std::string mode : {"identical", "similar"}) {
        std::size_t strictPairs = 0;
        std::size_t middlePairs = 0;
        std::size_t loosePairs = 0;
        for (const std::string level : {"strict", "middle", "loose"}) {
            const std::vector<std::string> options {"--mode", mode, "--level", level, "--cache", cache};
            std::vector<std::string> search {"search", dir.str() + "/lib", "--depth", "1", "--json"};
            search.insert(search.end(), options.begin(), options.end());
            const CliRun searched = runCli(search);
            ASSERT_EQ(searched.status, 0) << searched.err;
            const nlohmann::json report = nlohmann::json::parse(searched.out);
            for (const std::string picture : {"/lib/pics/s1good.jpg", "/lib/pics/s3half.bmp", "/lib/query/q.jpg"}) {
                // The query picture lies outside the folder searched by `like`;
                // the search over "lib" holds it and the same other files.
                std::vector<std::string> like {"like", dir.str() + picture, dir.str() + "/lib/pics"};
                like.insert(like.end(), options.begin(), options.end());
                const CliRun liked = runCli(like);
                ASSERT_EQ(liked.status, 0) << liked.err;
                const std::vector<std::string> wanted = pairedInSearch(report, dir.str() + picture);
                EXPECT_EQ(likeLines(liked), wanted) << mode << " " << level << " " << picture;
                pairedSomewhere += wanted.empty() ? 0 : 1;
                (level == "strict" ? strictPairs : level == "loose" ? loosePairs : middlePairs) += wanted.size();
            }
        }
        // The levels' bounds are met at the edges too: some pairs pass only
        // the looser ones.
        EXPECT_LT(strictPairs, middlePairs) << mode;
        EXPECT_LE(middlePairs, loosePairs) << mode;
    }
    EXPECT_EQ(pairedSomewhere, 18);
}

TEST(LikeCommandTest, MarkedFilesAndBadWords)
{
    const TempDir dir;
    writeScenes(dir, "pics");
    const std::string cache = dir.str() + "/cache.sqlite";
    const std::string picture = dir.str() + "/pics/s1good.jpg";
    const std::vector<std::string> like {"like", picture, dir.str() + "/pics", "--mode", "identical", "--cache", cache};
    const std::vector<std::string> before = likeLines(runCli(like));
    ASSERT_GE(before.size(), 2U);
    const std::string marked = before.front().substr(before.front().find('\t') + 1);
    ASSERT_EQ(runCli({"not-same", "add", picture, marked, "--cache", cache}).status, 0);
    const std::vector<std::string> after = likeLines(runCli(like));
    EXPECT_EQ(after, std::vector<std::string>(before.begin() + 1, before.end()));

    EXPECT_EQ(runCli({"like", picture}).status, 2);
    EXPECT_EQ(runCli({"like", picture, dir.str(), "--mode", "size"}).status, 2);
    EXPECT_EQ(runCli({"like", picture, dir.str(), "--cache", cache, "--no-cache"}).status, 2);
    const CliRun missing = runCli({"like", dir.str() + "/none.jpg", dir.str() + "/pics", "--no-cache"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    const CliRun noFolder = runCli({"like", picture, dir.str() + "/nowhere", "--no-cache"});
    EXPECT_EQ(noFolder.status, 1);
}
