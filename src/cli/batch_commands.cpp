#include "cli/batch_commands.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "cleanup/batch_actions.h"
#include "cli/command_line.h"
#include "cli/name_text.h"
#include "common/folder_path.h"
#include "common/integer_text.h"
#include "common/log_categories.h"

namespace {

std::atomic<bool> interrupted {false};

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

// Says what is wrong before the usage lines; the exit status of bad arguments.
int usageError(const std::string& problem)
{
    std::fprintf(stderr, "zelvic-cli: %s\n%s", problem.c_str(), kBatchUsage);
    return 2;
}

std::unique_ptr<BatchJournal> openJournal()
{
    std::string problem;
    std::unique_ptr<BatchJournal> journal = BatchJournal::open(BatchJournal::defaultPath(), problem);
    if (!journal)
        std::fprintf(stderr, "zelvic-cli: %s\n", problem.c_str());
    return journal;
}

void showProgress(int64_t done, int64_t total)
{
    std::fprintf(stderr, "\r\033[K%lld / %lld", static_cast<long long>(done), static_cast<long long>(total));
    std::fflush(stderr);
}

std::string bytesText(int64_t bytes)
{
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    return text;
}

} // namespace

int runApplyCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption moveTo(QStringLiteral("move-to"), {}, QStringLiteral("FOLDER"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({moveTo, dryRun, verbose});
    if (const std::optional<std::string> problem = parseCommandWords(parser, args))
        return usageError(*problem);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional[0].isEmpty())
        return usageError(positional.isEmpty() ? "PLAN is missing" : "one PLAN at a time");
    if (parser.isSet(moveTo) && parser.value(moveTo).isEmpty())
        return usageError("bad value for --move-to: an empty folder name");
    if (parser.isSet(verbose))
        enableVerboseLogging();

    const std::string planPath = wordBytes(positional[0]);
    std::ifstream in(planPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "zelvic-cli: cannot read the plan %s\n", escapedName(planPath).c_str());
        return 1;
    }
    std::string problem;
    const std::optional<CleanupPlan> plan = planFromText(text.str(), problem);
    if (!plan) {
        std::fprintf(stderr, "zelvic-cli: %s: %s\n", escapedName(planPath).c_str(), problem.c_str());
        return 1;
    }

    ApplyOptions options;
    options.dryRun = parser.isSet(dryRun);
    if (parser.isSet(moveTo)) {
        options.moveTo = absoluteFolder(wordBytes(parser.value(moveTo)), currentFolder().value_or("/"));
        struct stat st {};
        if (::stat(options.moveTo.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "zelvic-cli: the folder %s does not exist\n", escapedName(options.moveTo).c_str());
            return 1;
        }
    }
    std::unique_ptr<BatchJournal> journal;
    if (!options.dryRun) {
        journal = openJournal();
        if (!journal)
            return 1;
    }
    if (::isatty(STDERR_FILENO) == 1)
        options.progress = showProgress;
    // Ctrl-C ends the batch between two files, journal complete.
    interrupted.store(false);
    options.abort = &interrupted;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);
    const ApplyReport report = applyPlan(*plan, journal.get(), options);
    ::sigaction(SIGINT, &previous, nullptr);
    if (options.progress)
        std::fputs("\r\033[K", stderr);

    const char* verb = options.dryRun ? "would move" : (options.moveTo.empty() ? "trashed" : "moved");
    if (options.dryRun && options.moveTo.empty())
        verb = "would trash";
    for (const std::string& path : report.acted)
        std::printf("%s\t%s\n", verb, escapedName(path).c_str());
    for (const GroupNotActed& group : report.skipped)
        std::printf("skipped group %zu\t%s\n", group.group + 1, escapedName(group.reason).c_str());
    for (const GroupNotActed& group : report.refused)
        std::printf("refused group %zu\t%s\n", group.group + 1, group.reason.c_str());
    for (const std::string& failure : report.failed)
        std::printf("failed\t%s\n", escapedName(failure).c_str());
    if (!outputWritten())
        return 1;
    if (report.aborted)
        std::fprintf(stderr, "zelvic-cli: interrupted; the files done so far can be put back with undo\n");
    if (!report.stopped.empty())
        std::fprintf(stderr, "zelvic-cli: stopped: %s\n", report.stopped.c_str());
    std::fprintf(stderr, "%s%zu of %lld marked files (%s); %zu groups skipped, %zu refused, %zu files failed\n",
                 report.batch ? ("batch " + std::to_string(*report.batch) + ": ").c_str() : "", report.acted.size(),
                 static_cast<long long>(report.markedFiles), bytesText(report.actedBytes).c_str(),
                 report.skipped.size(), report.refused.size(), report.failed.size());
    return report.complete() ? 0 : 1;
}

int runBatchesCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({verbose});
    if (const std::optional<std::string> problem = parseCommandWords(parser, args))
        return usageError(*problem);
    if (!parser.positionalArguments().isEmpty())
        return usageError("batches takes no argument");
    std::unique_ptr<BatchJournal> journal = openJournal();
    if (!journal)
        return 1;
    for (const BatchSummary& batch : journal->batches()) {
        const std::time_t started = static_cast<std::time_t>(batch.started);
        std::tm local {};
        localtime_r(&started, &local);
        char time[32];
        std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &local);
        // A batch still "running" in the journal was cut short or is running now.
        const std::string state = batch.state == "running" ? "unfinished" : batch.state;
        std::printf("%lld\t%s\t%lld\t%lld\t%s\t%s%s%s\n", static_cast<long long>(batch.id), time,
                    static_cast<long long>(batch.files), static_cast<long long>(batch.bytes), state.c_str(),
                    batch.action.c_str(), batch.destination.empty() ? "" : " ",
                    escapedName(batch.destination).c_str());
    }
    return outputWritten() ? 0 : 1;
}

int runUndoCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({verbose});
    if (const std::optional<std::string> problem = parseCommandWords(parser, args))
        return usageError(*problem);
    const QStringList positional = parser.positionalArguments();
    std::optional<int64_t> wanted;
    if (positional.size() > 1)
        return usageError("one BATCH at a time");
    if (positional.size() == 1) {
        const std::optional<int32_t> number = parseDecimalInt32(wordBytes(positional[0]));
        if (!number || *number <= 0)
            return usageError("bad BATCH: " + wordBytes(positional[0]));
        wanted = *number;
    }
    std::unique_ptr<BatchJournal> journal = openJournal();
    if (!journal)
        return 1;
    const std::vector<BatchSummary> batches = journal->batches();
    std::optional<int64_t> batch;
    for (const BatchSummary& summary : batches) {
        if (wanted ? summary.id == *wanted : summary.state != "undone")
            batch = summary.id;
    }
    if (!batch) {
        std::fprintf(stderr, "zelvic-cli: %s\n",
                     wanted ? ("no batch " + std::to_string(*wanted) + " in the journal").c_str()
                            : "no batch to undo in the journal");
        return 1;
    }
    const UndoReport report = undoBatch(*journal, *batch, ::isatty(STDERR_FILENO) == 1 ? showProgress : BatchProgress {});
    if (::isatty(STDERR_FILENO) == 1)
        std::fputs("\r\033[K", stderr);
    for (const std::string& problem : report.problems)
        std::fprintf(stderr, "zelvic-cli: not put back: %s\n", escapedName(problem).c_str());
    std::fprintf(stderr, "batch %lld: %lld files put back\n", static_cast<long long>(*batch),
                 static_cast<long long>(report.restored));
    return report.ok() ? 0 : 1;
}
