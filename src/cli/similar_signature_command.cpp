#include "cli/signature_commands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/json_writer.h"
#include "compare/similar/similar_reduction.h"
#include "picture/picture_loader.h"

namespace {

std::vector<int32_t> entries(const int32_t* values, int32_t first, int32_t last)
{
    return std::vector<int32_t>(values + first, values + last + 1);
}

} // namespace

int printSimilarSignature(const std::string& path)
{
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    if (!loaded.ok()) {
        std::fprintf(stderr, "zelvic-cli: %s: %s\n", path.c_str(), loaded.error.c_str());
        return 1;
    }
    if (!canReduceSimilar(loaded.picture)) {
        std::fprintf(stderr, "zelvic-cli: %s: picture smaller than 3 x 3 pixels\n", path.c_str());
        return 1;
    }
    const auto sampled = std::make_unique<SampledPicture>();
    const auto signature = std::make_unique<SimilarSignature>();
    reduceSimilarPicture(loaded.picture, *signature, *sampled);

    JsonWriter json;
    json.beginObject();
    json.field("width", loaded.picture.width());
    json.field("height", loaded.picture.height());
    json.key("frame");
    json.intArray({sampled->frame.left, sampled->frame.right, sampled->frame.top, sampled->frame.bottom});
    json.key("contrast_map");
    json.beginArray();
    for (int32_t x = kInnerFirst; x <= kInnerLast; ++x) {
        std::vector<int32_t> column;
        for (int32_t y = kInnerFirst; y <= kInnerLast; ++y)
            column.push_back(signature->contrastAt(x, y));
        json.intArray(column);
    }
    json.endArray();
    json.key("profiles");
    json.beginArray();
    for (int32_t row = 1; row <= kProfileRows; ++row) {
        const auto& profile = signature->profiles[row];
        json.intArray(std::vector<int32_t>(profile.begin() + kInnerFirst, profile.begin() + kInnerLast + 1));
    }
    json.endArray();
    json.key("centroid_x");
    json.intArray(entries(signature->centroidX.data(), 0, 3));
    json.key("centroid_y");
    json.intArray(entries(signature->centroidY.data(), 0, 3));
    json.key("plane_totals");
    json.intArray(entries(signature->planeTotals.data(), 0, 2));
    json.key("band_codes");
    json.intArray(entries(signature->bandCodes.data(), 1, 12));
    json.field("spread_a", signature->spreadA);
    json.field("spread_b", signature->spreadB);
    json.endObject();
    std::printf("%s\n", json.text().c_str());
    return 0;
}
