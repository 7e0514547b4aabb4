#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "compare/similar/similar_reduction.h"
#include "picture/picture_loader.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

struct CommandOutput {
    int status = -1;
    std::string out;
};

CommandOutput runSignature(const std::string& path)
{
    const std::string command = std::string("'") + ZELVIC_CLI_PATH + "' signature --engine similar '" + path + "' 2>/dev/null";
    CommandOutput result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

template <typename Values>
std::string list(const Values& values, std::size_t first, std::size_t last)
{
    std::string text = "[";
    for (std::size_t i = first; i <= last; ++i)
        text += (i > first ? "," : "") + std::to_string(values[i]);
    return text + "]";
}

} // namespace

TEST(SimilarSignatureCommandTest, PrintsTheSignatureOfTheFile)
{
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    testing_support::writeJpeg(path, testing_support::photoLikePicture(150, 100, 3), 90);

    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    ASSERT_TRUE(loaded.ok());
    auto sampled = std::make_unique<SampledPicture>();
    auto s = std::make_unique<SimilarSignature>();
    reduceSimilarPicture(loaded.picture, *s, *sampled);

    std::string expected = "{\"width\":150,\"height\":100,\"frame\":[" + std::to_string(sampled->frame.left) + ","
        + std::to_string(sampled->frame.right) + "," + std::to_string(sampled->frame.top) + ","
        + std::to_string(sampled->frame.bottom) + "],\"contrast_map\":[";
    for (int32_t x = 5; x <= 64; ++x) {
        std::vector<int32_t> column;
        for (int32_t y = 5; y <= 64; ++y)
            column.push_back(s->contrastAt(x, y));
        expected += (x > 5 ? "," : "") + list(column, 0, 59);
    }
    expected += "],\"profiles\":[";
    for (int32_t row = 1; row <= 8; ++row)
        expected += (row > 1 ? "," : "") + list(s->profiles[row], 5, 64);
    expected += "],\"centroid_x\":" + list(s->centroidX, 0, 3) + ",\"centroid_y\":" + list(s->centroidY, 0, 3)
        + ",\"plane_totals\":" + list(s->planeTotals, 0, 2) + ",\"band_codes\":" + list(s->bandCodes, 1, 12)
        + ",\"spread_a\":" + std::to_string(s->spreadA) + ",\"spread_b\":" + std::to_string(s->spreadB) + "}\n";

    const CommandOutput run = runSignature(path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected);
}

TEST(SimilarSignatureCommandTest, UnreadableOrTinyPictureFails)
{
    TempDir dir;
    testing_support::writeBytes(dir.file("broken.jpg"), "\xFF\xD8 not really");
    testing_support::writeBmp24(dir.file("tiny.bmp"), testing_support::solidPicture(2, 2, 1, 2, 3));
    for (const char* name : {"broken.jpg", "tiny.bmp", "missing.jpg"}) {
        const CommandOutput run = runSignature(dir.file(name));
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_TRUE(run.out.empty()) << name;
    }
}
