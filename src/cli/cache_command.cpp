#include "cli/cache_command.h"

#include <cstdio>
#include <memory>

#include <sys/stat.h>

#include "cache/cache_location.h"
#include "cache/signature_store.h"

namespace {

int badArguments(const char* why)
{
    std::fprintf(stderr, "zelvic-cli: %s\nusage: zelvic-cli cache stats|prune|clear [--cache FILE]\n", why);
    return 2;
}

void printStats(const std::string& file, const CacheStats& stats)
{
    std::printf("file: %s\n", file.c_str());
    std::printf("records: %lld\n", static_cast<long long>(stats.records));
    std::printf("load failures: %lld\n", static_cast<long long>(stats.failures));
    std::printf("identical signatures: %lld\n", static_cast<long long>(stats.identicalSignatures));
    std::printf("similar signatures: %lld\n", static_cast<long long>(stats.similarSignatures));
    std::printf("of another version: %lld\n", static_cast<long long>(stats.otherVersion));
    std::printf("bytes: %lld\n", static_cast<long long>(stats.fileBytes));
    if (stats.records > 0)
        std::printf("bytes per record: %lld\n", static_cast<long long>(stats.fileBytes / stats.records));
}

} // namespace

int runCacheCommand(const std::vector<std::string>& args)
{
    std::string action;
    std::string file;
    bool haveFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--cache" && i + 1 < args.size()) {
            file = args[++i];
            haveFile = true;
        } else if (word.rfind("--cache=", 0) == 0) {
            file = word.substr(8);
            haveFile = true;
        } else if (action.empty() && (word == "stats" || word == "prune" || word == "clear")) {
            action = word;
        } else {
            return badArguments(("unexpected argument " + word).c_str());
        }
    }
    if (action.empty())
        return badArguments("stats, prune or clear is missing");
    if (haveFile && file.empty())
        return badArguments("bad value for --cache: an empty file name");
    if (!haveFile)
        file = defaultCacheFile();
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0) {
        // Nothing to count or drop; not creating one keeps these read-only.
        std::printf("no signature cache at %s\n", file.empty() ? "(no home folder)" : file.c_str());
        return 0;
    }

    bool warned = false;
    const CacheWarning warning = [&warned](const std::string& message) {
        std::fprintf(stderr, "zelvic-cli: %s\n", message.c_str());
        warned = true;
    };
    std::unique_ptr<SignatureStore> store = SignatureStore::open(file, warning);
    if (!store)
        return 1;
    if (action == "stats") {
        const std::optional<CacheStats> stats = store->stats();
        if (!stats)
            return 1;
        printStats(file, *stats);
    } else if (action == "prune") {
        const std::optional<PruneResult> pruned = store->prune();
        if (!pruned)
            return 1;
        std::printf("kept %lld, dropped %lld\n", static_cast<long long>(pruned->kept),
                    static_cast<long long>(pruned->dropped));
    } else {
        if (!store->clear())
            return 1;
        std::printf("cleared %s\n", file.c_str());
    }
    store.reset();
    return warned ? 1 : 0;
}
