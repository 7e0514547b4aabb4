#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "cli/batch_commands.h"
#include "cli/cache_command.h"
#include "cli/command_line.h"
#include "cli/like_command.h"
#include "cli/not_same_command.h"
#include "cli/search_command.h"
#include "cli/signature_commands.h"
#include "common/log_categories.h"

namespace {

constexpr const char* kSignatureUsage = "       zelvic-cli signature --engine identical|similar [--verbose] FILE\n";
constexpr const char* kVerboseUsage =
    "--verbose logs on standard error what went wrong along the way: folders passed over, unreadable\n"
    "pictures and why, libjpeg's warnings, faults of the signature cache (QT_LOGGING_RULES=\"zelvic.*=true\"\n"
    "does the same, and \"zelvic.scan\", \"zelvic.picture\" or \"zelvic.cache\" picks one kind).\n";

void printUsage(std::FILE* to)
{
    std::fputs(kSearchUsage, to);
    std::fputs(kSignatureUsage, to);
    std::fputs(kCacheUsage, to);
    std::fputs(kBatchUsage, to);
    std::fputs(kNotSameUsage, to);
    std::fputs(kLikeUsage, to);
    std::fputs(kVerboseUsage, to);
}

int runSignatureCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption engineOption(QStringLiteral("engine"), {}, QStringLiteral("engine"));
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({engineOption, verbose});
    const std::optional<std::string> problem = parseCommandWords(parser, args);
    const QStringList files = parser.positionalArguments();
    const QString engine = parser.value(engineOption);
    if (problem || files.size() != 1 || files[0].isEmpty()
        || (engine != QLatin1String("identical") && engine != QLatin1String("similar"))) {
        printUsage(stderr);
        return 2;
    }
    if (parser.isSet(verbose))
        enableVerboseLogging();
    const std::string file = wordBytes(files[0]);
    return engine == QLatin1String("identical") ? printIdenticalSignature(file) : printSimilarSignature(file);
}

int runCommand(const std::vector<std::string>& words)
{
    if (words.empty()) {
        printUsage(stderr);
        return 2;
    }
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (words[0] == "search")
        return runSearchCommand(rest);
    if (words[0] == "signature")
        return runSignatureCommand(rest);
    if (words[0] == "cache")
        return runCacheCommand(rest);
    if (words[0] == "apply")
        return runApplyCommand(rest);
    if (words[0] == "batches")
        return runBatchesCommand(rest);
    if (words[0] == "undo")
        return runUndoCommand(rest);
    if (words[0] == "like")
        return runLikeCommand(rest);
    if (words[0] == "not-same")
        return runNotSameCommand(rest);
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(stdout);
        return 0;
    }
    printUsage(stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const int status = runCommand(std::vector<std::string>(argv + 1, argv + argc));
    // Whatever a command printed must have reached its reader.
    return outputWritten() ? status : 1;
}
