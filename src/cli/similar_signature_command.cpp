#include "cli/signature_commands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/json_writer.h"
#include "compare/similar/similar_reduction.h"
#include "picture/picture_loader.h"

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
    json.intArray(std::vector<int32_t>(signature->centroidX.begin(), signature->centroidX.end()));
    json.key("centroid_y");
    json.intArray(std::vector<int32_t>(signature->centroidY.begin(), signature->centroidY.end()));
    json.key("plane_totals");
    json.intArray(std::vector<int32_t>(signature->planeTotals.begin(), signature->planeTotals.end()));
    json.key("band_codes");
    json.intArray(std::vector<int32_t>(signature->bandCodes.begin() + 1, signature->bandCodes.end()));
    json.field("spread_a", signature->spreadA);
    json.field("spread_b", signature->spreadB);
    json.endObject();
    std::fputs(json.text().c_str(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
