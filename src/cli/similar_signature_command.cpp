#include "cli/signature_commands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/json_text.h"
#include "compare/picture_reduction.h"

int printSimilarSignature(const std::string& path)
{
    const auto outcome = std::make_unique<PictureOutcome>();
    PictureReduction reduction;
    if (!reduceForSignature(path, {.similar = true}, *outcome, &reduction))
        return 1;
    if (!outcome->hasSimilar) {
        std::fprintf(stderr, "zelvic-cli: %s: picture smaller than %d x %d pixels\n", path.c_str(),
                     kMinSimilarPictureSide, kMinSimilarPictureSide);
        return 1;
    }
    const SimilarSignature* signature = &outcome->similar;
    const SampledPicture* sampled = &reduction.lastSimilarSampling();

    Json contrastMap = Json::array();
    for (int32_t x = kInnerFirst; x <= kInnerLast; ++x) {
        Json column = Json::array();
        for (int32_t y = kInnerFirst; y <= kInnerLast; ++y)
            column.push_back(signature->contrastAt(x, y));
        contrastMap.push_back(std::move(column));
    }
    Json profiles = Json::array();
    for (int32_t row = 1; row <= kProfileRows; ++row) {
        const auto& profile = signature->profiles[row];
        profiles.push_back(std::vector<int32_t>(profile.begin() + kInnerFirst, profile.begin() + kInnerLast + 1));
    }
    const auto& frame = sampled->frame;
    const Json json = {
        {"width", outcome->width},
        {"height", outcome->height},
        {"frame", {frame.left, frame.right, frame.top, frame.bottom}},
        {"contrast_map", std::move(contrastMap)},
        {"profiles", std::move(profiles)},
        {"centroid_x", signature->centroidX},
        {"centroid_y", signature->centroidY},
        {"plane_totals", signature->planeTotals},
        {"band_codes", std::vector<int32_t>(signature->bandCodes.begin() + 1, signature->bandCodes.end())},
        {"spread_a", signature->spreadA},
        {"spread_b", signature->spreadB},
    };
    std::fputs(jsonText(json).c_str(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
