#include "cli/like_command.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <optional>

#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "cache/cache_location.h"
#include "cli/command_line.h"
#include "cli/name_text.h"
#include "common/folder_path.h"
#include "common/integer_text.h"
#include "common/log_categories.h"
#include "driver/like_job.h"
#include "picture/orientation.h"

namespace {

int badArguments(const std::string& why)
{
    std::fprintf(stderr, "zelvic-cli: %s\nusage:%s", why.c_str(), kLikeUsage + 6);
    return 2;
}

// Digits only, within [low, high].
std::optional<int32_t> boundedNumber(const std::string& text, int32_t low, int32_t high)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::optional<int32_t> value = parseDecimalInt32(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return value;
}

} // namespace

int runLikeCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption mode(QStringLiteral("mode"), {}, QStringLiteral("mode"));
    const QCommandLineOption level(QStringLiteral("level"), {}, QStringLiteral("level"));
    const QCommandLineOption depth(QStringLiteral("depth"), {}, QStringLiteral("depth"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), {}, QStringLiteral("N"));
    const QCommandLineOption cache(QStringLiteral("cache"), {}, QStringLiteral("FILE"));
    const QCommandLineOption noCache(QStringLiteral("no-cache"));
    const QCommandLineOption turned(QStringLiteral("turned"));
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({mode, level, depth, jobs, cache, noCache, turned, verbose});
    if (const std::optional<std::string> problem = parseCommandWords(parser, args))
        return badArguments(*problem);
    const auto valueOf = [&parser](const QCommandLineOption& option) { return wordBytes(parser.value(option)); };
    const auto badValue = [&](const QCommandLineOption& option) {
        return badArguments("bad value for --" + option.names().front().toStdString() + ": " + valueOf(option));
    };

    LikeOptions options;
    options.turned = parser.isSet(turned);
    if (parser.isSet(mode)) {
        if (valueOf(mode) == "identical")
            options.mode = CheckMode::Identical;
        else if (valueOf(mode) != "similar")
            return badValue(mode);
    }
    if (parser.isSet(level)) {
        const std::string name = valueOf(level);
        if (name == "strict" || name == "middle" || name == "loose")
            options.level = name == "strict" ? kLevelStrict : name == "middle" ? kLevelMiddle : kLevelLoose;
        else
            return badValue(level);
    }
    if (parser.isSet(depth)) {
        const std::optional<int32_t> value = boundedNumber(valueOf(depth), 0, 3);
        if (!value)
            return badValue(depth);
        options.depth = *value;
    }
    if (parser.isSet(jobs)) {
        const std::optional<int32_t> value = boundedNumber(valueOf(jobs), 1, 4096);
        if (!value)
            return badValue(jobs);
        options.jobs = *value;
    }
    if (parser.isSet(cache) && parser.isSet(noCache))
        return badArguments("--cache and --no-cache together");
    if (parser.isSet(cache)) {
        if (parser.value(cache).isEmpty())
            return badArguments("bad value for --cache: an empty file name");
        options.cacheFile = valueOf(cache);
    } else if (!parser.isSet(noCache)) {
        options.cacheFile = defaultCacheFile();
    }
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() || words[0].isEmpty())
        return badArguments("PICTURE is missing");
    if (words.size() < 2)
        return badArguments("FOLDER is missing");
    if (parser.isSet(verbose))
        enableVerboseLogging();

    const std::string base = currentFolder().value_or("/");
    options.picture = absoluteFolder(wordBytes(words[0]), base);
    for (qsizetype i = 1; i < words.size(); ++i) {
        if (words[i].isEmpty())
            return badArguments("an empty FOLDER");
        options.folders.push_back(absoluteFolder(wordBytes(words[i]), base));
    }
    std::atomic<bool> abortFlag {false};
    try {
        const LikeOutcome outcome = findLikePictures(options, abortFlag);
        if (!outcome.cacheWarning.empty())
            std::fprintf(stderr, "zelvic-cli: %s\n", outcome.cacheWarning.c_str());
        if (!outcome.marksWarning.empty())
            std::fprintf(stderr, "zelvic-cli: %s\n", outcome.marksWarning.c_str());
        if (outcome.pictureUnreadable) {
            std::fprintf(stderr, "zelvic-cli: %s cannot be read as a picture for this comparison\n",
                         escapedName(options.picture).c_str());
            return 1;
        }
        for (const LikeMatch& match : outcome.matches) {
            if (options.turned)
                std::printf("%d\t%s\t%s\n", match.score, std::string(orientationName(match.orientation)).c_str(),
                            escapedName(match.path).c_str());
            else
                std::printf("%d\t%s\n", match.score, escapedName(match.path).c_str());
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
