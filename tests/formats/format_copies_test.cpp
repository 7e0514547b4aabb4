// One photograph saved in every format with the formats' own Debian tools,
// searched as a person's library would be.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cli_run.h"
#include "support/test_pictures.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The groups of a search's text output, each sorted, by file name alone.
std::vector<std::vector<std::string>> groupsOf(const std::string& out)
{
    std::vector<std::vector<std::string>> groups(1);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            groups.emplace_back();
            continue;
        }
        groups.back().push_back(line.substr(line.rfind('/') + 1));
    }
    if (groups.back().empty())
        groups.pop_back();
    for (auto& group : groups)
        std::sort(group.begin(), group.end());
    std::sort(groups.begin(), groups.end());
    return groups;
}

// Copies of one photograph: JPEG, BMP, PNG, WebP lossless and at quality
// 90, TIFF, GIF, HEIC, AVIF and JPEG XL, made by ImageMagick, cwebp,
// heif-enc, avifenc and cjxl; and beside them in `decoded` each copy as its format's own tool
// decodes it, saved as a bitmap under the copy's name.
void writeCopies(const TempDir& dir)
{
    const std::string photo = dir.file("source.png");
    ASSERT_TRUE(run("convert -seed 7 -size 320x240 plasma:fractal -blur 0x2 " + photo));
    const std::string copies = dir.file("copies");
    const std::string decoded = dir.file("decoded");
    ASSERT_TRUE(run("mkdir -p " + copies + " " + decoded));
    ASSERT_TRUE(run("convert " + photo + " -quality 92 " + copies + "/photo.JPG"));
    ASSERT_TRUE(run("convert " + photo + " " + copies + "/photo.bmp"));
    ASSERT_TRUE(run("convert " + photo + " " + copies + "/photo.png"));
    ASSERT_TRUE(run("convert " + photo + " " + copies + "/photo.tif"));
    ASSERT_TRUE(run("convert " + photo + " " + copies + "/photo.gif"));
    ASSERT_TRUE(run("cwebp -quiet -lossless " + photo + " -o " + copies + "/lossless.webp"));
    ASSERT_TRUE(run("cwebp -quiet -q 90 " + photo + " -o " + copies + "/q90.webp"));
    ASSERT_TRUE(run("heif-enc -q 90 " + photo + " -o " + copies + "/photo.heic"));
    ASSERT_TRUE(run("avifenc -s 8 " + photo + " " + copies + "/photo.avif"));
    ASSERT_TRUE(run("cjxl -q 90 " + photo + " " + copies + "/photo.jxl"));
    for (const char* name : {"photo.JPG", "photo.bmp", "photo.png", "photo.tif", "photo.gif"})
        ASSERT_TRUE(run("convert " + copies + "/" + name + " BMP3:" + decoded + "/" + name + ".bmp"));
    for (const char* name : {"lossless.webp", "q90.webp"})
        ASSERT_TRUE(run("dwebp -quiet " + copies + "/" + name + " -bmp -o " + decoded + "/" + name + ".bmp"));
    for (const char* name : {"photo.heic", "photo.avif", "photo.jxl"}) {
        const std::string tool = std::string(name) == "photo.jxl" ? "djxl " : "heif-convert ";
        ASSERT_TRUE(run(tool + copies + "/" + name + " " + dir.file(std::string(name) + ".png")));
        ASSERT_TRUE(run("convert " + dir.file(std::string(name) + ".png") + " BMP3:" + decoded + "/" + name + ".bmp"));
    }
}

} // namespace

TEST(FormatCopies, EveryFormatsCopyIsOneGroupOnlyWhenAllFormatsAreSearched)
{
    TempDir dir;
    writeCopies(dir);
    const std::string copies = dir.file("copies");
    const CliRun all = runCli({"search", copies, "--mode", "identical", "--level", "middle", "--formats", "all", "--no-cache"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(groupsOf(all.out),
              (std::vector<std::vector<std::string>> {{"lossless.webp", "photo.JPG", "photo.avif", "photo.bmp", "photo.gif",
                                                       "photo.heic", "photo.jxl", "photo.png", "photo.tif", "q90.webp"}}));
    const CliRun plain = runCli({"search", copies, "--mode", "identical", "--level", "middle", "--no-cache"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(groupsOf(plain.out), (std::vector<std::vector<std::string>> {{"photo.JPG", "photo.bmp"}}));
}

TEST(FormatCopies, SimilarStrictGroupsAreThoseOfEachToolsOwnDecode)
{
    TempDir dir;
    writeCopies(dir);
    for (const char* mode : {"similar", "identical"}) {
        SCOPED_TRACE(mode);
        const CliRun copies = runCli({"search", dir.file("copies"), "--mode", mode, "--level", "strict", "--formats",
                                      "all", "--no-cache"});
        const CliRun decoded = runCli({"search", dir.file("decoded"), "--mode", mode, "--level", "strict", "--no-cache"});
        ASSERT_EQ(copies.status, 0) << copies.err;
        ASSERT_EQ(decoded.status, 0) << decoded.err;
        std::vector<std::vector<std::string>> expected = groupsOf(decoded.out);
        for (auto& group : expected) {
            for (std::string& name : group)
                name.resize(name.size() - 4); // "photo.heic.bmp" stands for "photo.heic"
            std::sort(group.begin(), group.end());
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(groupsOf(copies.out), expected);
    }
}
