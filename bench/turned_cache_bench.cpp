// What the turned signatures cost the signature cache, warm:
//
//   turned_cache_bench [--pictures N] [--folder DIR]
//
// Takes the real signatures (upright and the seven turned) of the
// photographs in DIR (default /usr/share/backgrounds), keeps them under N
// paths in a new cache, once plain and once with the turned signatures, and
// reports the file's bytes per picture and the time of one lookup: as a
// plain search asks (its engine's upright signature) and as a search for
// turned copies asks (also that engine's seven turned ones), for each engine.
// One thread; the lookups of a search run on every core.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cache/signature_store.h"
#include "compare/similar/similar_reduction.h"
#include "picture/orientation.h"
#include "picture/picture_loader.h"
#include "support/test_pictures.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<PictureOutcome> outcomesOf(const std::string& folder)
{
    std::vector<PictureOutcome> outcomes;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".jpg" && extension != ".png")
            continue;
        LoadedPicture loaded = loadPicture(entry.path().string(), JpegIdct::Accurate);
        if (!loaded.ok() || !canComputeSignature(loaded.picture))
            continue;
        PictureOutcome outcome;
        outcome.status = PictureOutcome::Status::Loaded;
        outcome.width = loaded.picture.width();
        outcome.height = loaded.picture.height();
        outcome.hasIdentical = true;
        outcome.identical = ComputeSignature(loaded.picture);
        outcome.hasSimilar = true;
        reduceSimilarPicture(loaded.picture, outcome.similar);
        for (int32_t o = 1; o < kOrientationCount; ++o) {
            const Picture turned = turnedPicture(loaded.picture, orientationAt(o));
            outcome.turnedIdentical.push_back(ComputeSignature(turned));
            reduceSimilarPicture(turned, outcome.turnedSimilar.emplace_back());
        }
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

FileVersion versionOf(int64_t i)
{
    FileVersion version;
    version.device = 1;
    version.inode = static_cast<uint64_t>(i);
    version.size = 1000 + i;
    version.mtimeNs = 1'600'000'000'000'000'000;
    version.ctimeNs = version.mtimeNs;
    version.seenNs = version.ctimeNs + 10'000'000'000;
    return version;
}

std::string pathOf(int64_t i)
{
    return "/photos/" + std::to_string(i / 1000) + "/" + std::to_string(i) + ".jpg";
}

// Microseconds a lookup, over every picture.
double timeLookups(SignatureStore& store, int64_t pictures, Reductions read)
{
    const auto start = Clock::now();
    int64_t found = 0;
    for (int64_t i = 0; i < pictures; ++i)
        found += store.find(pathOf(i), versionOf(i), read).has_value() ? 1 : 0;
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / pictures;
    if (found != pictures)
        std::printf("  (only %lld of %lld found)\n", static_cast<long long>(found), static_cast<long long>(pictures));
    store.endReads();
    return us;
}

} // namespace

int main(int argc, char** argv)
{
    int64_t pictures = 20000;
    std::string folder = "/usr/share/backgrounds";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--pictures") == 0)
            pictures = std::stoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--folder") == 0)
            folder = argv[i + 1];
    }
    const std::vector<PictureOutcome> outcomes = outcomesOf(folder);
    if (outcomes.empty()) {
        std::fprintf(stderr, "no photographs in %s\n", folder.c_str());
        return 1;
    }
    std::printf("%zu photographs of %s kept under %lld paths\n", outcomes.size(), folder.c_str(),
                static_cast<long long>(pictures));
    for (const bool turned : {false, true}) {
        testing_support::TempDir dir;
        const std::string file = dir.file("c.sqlite");
        {
            auto store = SignatureStore::open(file, nullptr);
            for (int64_t i = 0; i < pictures; ++i) {
                PictureOutcome outcome = outcomes[static_cast<std::size_t>(i) % outcomes.size()];
                if (!turned) {
                    outcome.turnedIdentical.clear();
                    outcome.turnedSimilar.clear();
                }
                store->add(pathOf(i), versionOf(i), outcome);
            }
        } // closing folds the write-ahead log into the file
        const auto bytes = static_cast<double>(std::filesystem::file_size(file));
        auto store = SignatureStore::open(file, nullptr);
        timeLookups(*store, pictures, Reductions {true, false}); // the file in the page cache
        std::printf("%s: %.0f bytes a picture\n", turned ? "with turned signatures" : "plain", bytes / pictures);
        std::printf("  identical lookup %.1f us, similar lookup %.1f us\n",
                    timeLookups(*store, pictures, Reductions {true, false}),
                    timeLookups(*store, pictures, Reductions {false, true}));
        if (turned)
            std::printf("  identical lookup with turned %.1f us, similar lookup with turned %.1f us\n",
                        timeLookups(*store, pictures, Reductions {true, false, true}),
                        timeLookups(*store, pictures, Reductions {false, true, true}));
    }
    return 0;
}
