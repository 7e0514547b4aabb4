#include "cli/cache_command.h"

#include <cstdio>
#include <memory>
#include <optional>

#include <sys/stat.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "cache/cache_location.h"
#include "cache/signature_store.h"
#include "cli/command_line.h"
#include "cli/name_text.h"
#include "common/log_categories.h"

namespace {

int badArguments(const char* why)
{
    // The usage line after "usage:", in place of the blanks that align it under the others.
    std::fprintf(stderr, "zelvic-cli: %s\nusage:%s", why, kCacheUsage + 6);
    return 2;
}

void printStats(const std::string& file, const CacheStats& stats)
{
    std::printf("file: %s\n", escapedName(file).c_str());
    std::printf("records: %lld\n", static_cast<long long>(stats.records));
    std::printf("load failures: %lld\n", static_cast<long long>(stats.failures));
    std::printf("identical signatures: %lld\n", static_cast<long long>(stats.identicalSignatures));
    std::printf("similar signatures: %lld\n", static_cast<long long>(stats.similarSignatures));
    std::printf("of another version: %lld\n", static_cast<long long>(stats.otherVersion));
    std::printf("picture sizes: %lld\n", static_cast<long long>(stats.headerSizes));
    std::printf("pictures with turned signatures: %lld\n", static_cast<long long>(stats.turnedRecords));
    std::printf("bytes: %lld\n", static_cast<long long>(stats.fileBytes));
    // Per picture, not per record: a picture-size search keeps sizes of
    // pictures that have no record.
    if (stats.pictures > 0)
        std::printf("bytes per picture: %lld\n", static_cast<long long>(stats.fileBytes / stats.pictures));
}

} // namespace

int runCacheCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption cacheOption(QStringLiteral("cache"), {}, QStringLiteral("FILE"));
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({cacheOption, verbose});
    if (const std::optional<std::string> problem = parseCommandWords(parser, args))
        return badArguments(problem->c_str());
    const QStringList words = parser.positionalArguments();
    if (words.size() > 1)
        return badArguments(("unexpected argument " + wordBytes(words[1])).c_str());
    const std::string action = words.isEmpty() ? std::string() : wordBytes(words[0]);
    if (action.empty())
        return badArguments("stats, prune or clear is missing");
    if (action != "stats" && action != "prune" && action != "clear")
        return badArguments(("unexpected argument " + action).c_str());
    if (parser.isSet(verbose))
        enableVerboseLogging();
    const bool haveFile = parser.isSet(cacheOption);
    std::string file = wordBytes(parser.value(cacheOption));
    if (haveFile && file.empty())
        return badArguments("bad value for --cache: an empty file name");
    if (!haveFile)
        file = defaultCacheFile();
    struct stat st {};
    if (file.empty() || ::stat(file.c_str(), &st) != 0) {
        // Nothing to count or drop; not creating one keeps these read-only.
        std::printf("no signature cache at %s\n", file.empty() ? "(no home folder)" : escapedName(file).c_str());
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
        std::printf("cleared %s\n", escapedName(file).c_str());
    }
    store.reset();
    return warned ? 1 : 0;
}
