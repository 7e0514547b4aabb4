#include "cli/signature_commands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/json_text.h"
#include "compare/identical/identical_signature.h"

int printIdenticalSignature(const std::string& path)
{
    const auto outcome = std::make_unique<PictureOutcome>();
    if (!reduceForSignature(path, {.identical = true}, *outcome, nullptr))
        return 1;
    if (!outcome->hasIdentical) {
        std::fprintf(stderr, "zelvic-cli: %s: picture smaller than %d x %d pixels\n", path.c_str(), kMinPictureSide,
                     kMinPictureSide);
        return 1;
    }
    const IdenticalSignature& sig = outcome->identical;

    Json profiles = Json::array();
    for (const auto& profile : sig.profiles)
        profiles.push_back(profile);
    const Json json = {{"width", outcome->width},
                       {"height", outcome->height},
                       {"centroids", sig.centroids},
                       {"profiles", std::move(profiles)}};
    std::fputs(jsonText(json).c_str(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
