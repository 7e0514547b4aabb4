// The signature command's numbers against the reference engines' signatures
// of the same pictures of the cross-check folder.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "crosscheck/crosscheck_folder.h"
#include "crosscheck/reference_identical.h"
#include "crosscheck/reference_similar.h"
#include "picture/picture_loader.h"

namespace {

using namespace crosscheck;

// Every integer of one key's value in a JSON object, in order (arrays are
// read depth-first). Enough for the signature command's flat output.
std::vector<int64_t> jsonInts(const std::string& json, const std::string& key)
{
    std::vector<int64_t> values;
    size_t at = json.find(std::string("\"") + key + "\"");
    if (at == std::string::npos)
        return values;
    at = json.find(':', at) + 1;
    int depth = 0;
    while (at < json.size()) {
        const char c = json[at];
        if (c == '[') {
            ++depth;
            ++at;
        } else if (c == ']') {
            --depth;
            ++at;
            if (depth == 0)
                break;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t used = 0;
            values.push_back(std::stoll(json.substr(at), &used));
            at += used;
            if (depth == 0)
                break;
        } else if ((c == ',' || c == '}') && depth == 0) {
            break;
        } else {
            ++at;
        }
    }
    return values;
}

std::string runCommand(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string signatureJson(const std::string& engine, const std::string& path)
{
    return runCommand(std::string("'") + ZELVIC_CLI_PATH + "' signature --engine " + engine + " '" + path + "'");
}

const char* const kSignatureSamples[] = {
    "s0_orig.jpg", "s1_framed.jpg", "s2_sidebars.jpg", "s3_pale.jpg", "s6_orig.jpg",
    "blocks_a.jpg", "flat_colour.jpg", "strip_600x40.jpg", "tiny_5x5.jpg", "small_12x9.jpg",
};

TEST(EngineCrosscheckTest, IdenticalSignatureCommandMatchesReference)
{
    if (!std::filesystem::exists(ZELVIC_CLI_PATH))
        GTEST_SKIP() << "zelvic-cli not built";
    for (const char* name : kSignatureSamples) {
        SCOPED_TRACE(name);
        const std::string path = folder().path(name);
        const std::string json = signatureJson("identical", path);
        LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
        ASSERT_TRUE(loaded.ok());
        const RefIdenticalSignature ref = refIdenticalSignature(loaded.picture);
        EXPECT_EQ(jsonInts(json, "width"), std::vector<int64_t> {loaded.picture.width()});
        EXPECT_EQ(jsonInts(json, "height"), std::vector<int64_t> {loaded.picture.height()});
        EXPECT_EQ(jsonInts(json, "centroids"),
                  (std::vector<int64_t> {ref.centroid[0], ref.centroid[1], ref.centroid[2], ref.centroid[3]}));
        std::vector<int64_t> profiles;
        for (int32_t k = 0; k < 4 * kRefDivCount; ++k)
            for (int32_t p = 1; p <= 58; ++p)
                profiles.push_back(ref.profile[k][p]);
        EXPECT_EQ(jsonInts(json, "profiles"), profiles);
    }
}

TEST(EngineCrosscheckTest, SimilarSignatureCommandMatchesReference)
{
    if (!std::filesystem::exists(ZELVIC_CLI_PATH))
        GTEST_SKIP() << "zelvic-cli not built";
    int32_t resampled = 0;
    for (const char* name : kSignatureSamples) {
        SCOPED_TRACE(name);
        const std::string path = folder().path(name);
        const std::string json = signatureJson("similar", path);
        LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
        ASSERT_TRUE(loaded.ok());
        const RefSimilarSignature ref = refSimilarSignature(loaded.picture);
        if (ref.frame[1] - ref.frame[0] < 60 || ref.frame[3] - ref.frame[2] < 60)
            ++resampled;
        EXPECT_EQ(jsonInts(json, "frame"), (std::vector<int64_t>(ref.frame.begin(), ref.frame.end())));
        std::vector<int64_t> map, profiles;
        for (int32_t x = 5; x <= 64; ++x)
            for (int32_t y = 5; y <= 64; ++y)
                map.push_back(ref.contrastMap[x][y]);
        for (int32_t r = 1; r <= 8; ++r)
            for (int32_t i = 5; i <= 64; ++i)
                profiles.push_back(ref.profiles[r][i]);
        EXPECT_EQ(jsonInts(json, "contrast_map"), map);
        EXPECT_EQ(jsonInts(json, "profiles"), profiles);
        EXPECT_EQ(jsonInts(json, "centroid_x"), (std::vector<int64_t>(ref.centroidX.begin(), ref.centroidX.begin() + 4)));
        EXPECT_EQ(jsonInts(json, "centroid_y"), (std::vector<int64_t>(ref.centroidY.begin(), ref.centroidY.begin() + 4)));
        EXPECT_EQ(jsonInts(json, "plane_totals"),
                  (std::vector<int64_t>(ref.planeTotals.begin(), ref.planeTotals.end())));
        EXPECT_EQ(jsonInts(json, "band_codes"),
                  (std::vector<int64_t>(ref.bandCodes.begin() + 1, ref.bandCodes.end())));
        EXPECT_EQ(jsonInts(json, "spread_a"), std::vector<int64_t> {ref.spreadA});
        EXPECT_EQ(jsonInts(json, "spread_b"), std::vector<int64_t> {ref.spreadB});
    }
    // The framed samples must take the second sampling, or it goes unchecked.
    EXPECT_GE(resampled, 2);
}

} // namespace
