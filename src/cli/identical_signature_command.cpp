#include "cli/signature_commands.h"

#include <cstdio>
#include <vector>

#include "cli/json_text.h"
#include "compare/identical/identical_signature.h"
#include "picture/picture_loader.h"

int printIdenticalSignature(const std::string& path)
{
    // The same decoding as the search, so that the numbers are the search's.
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    if (!loaded.ok()) {
        std::fprintf(stderr, "zelvic-cli: %s: %s\n", path.c_str(), loaded.error.c_str());
        return 1;
    }
    const Picture& picture = loaded.picture;
    if (!canComputeSignature(picture)) {
        std::fprintf(stderr, "zelvic-cli: %s: picture smaller than %d x %d pixels\n", path.c_str(), kMinPictureSide,
                     kMinPictureSide);
        return 1;
    }
    const IdenticalSignature sig = ComputeSignature(picture);

    Json profiles = Json::array();
    for (const auto& profile : sig.profiles)
        profiles.push_back(profile);
    const Json json = {{"width", picture.width()},
                       {"height", picture.height()},
                       {"centroids", sig.centroids},
                       {"profiles", std::move(profiles)}};
    std::fputs(jsonText(json).c_str(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
