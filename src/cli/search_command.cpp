#include "cli/search_command.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include "cache/cache_location.h"
#include "cleanup/cleanup_list.h"
#include "cleanup/cleanup_plan.h"
#include "cli/cleanup_output.h"
#include "cli/command_line.h"
#include "cli/json_object_text.h"
#include "cli/name_text.h"
#include "common/folder_path.h"
#include "common/integer_text.h"
#include "common/log_categories.h"
#include "driver/search_job.h"
#include "picture/orientation.h"
#include "review/group_walk.h"
#include "search/folder_scan.h"

namespace {

// Digits only (no blank, no sign), at most six of them, within [low, high].
std::optional<int32_t> smallNumber(std::string_view text, int32_t low, int32_t high)
{
    if (text.empty() || text.size() > 6 || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    const std::optional<int32_t> value = parseDecimalInt32(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return value;
}

std::optional<int32_t> indexOf(std::string_view text, std::initializer_list<std::string_view> names)
{
    int32_t i = 0;
    for (std::string_view name : names) {
        if (text == name)
            return i;
        ++i;
    }
    return std::nullopt;
}

// A progress line for a person watching a terminal.
void showProgress(const SearchProgress& progress)
{
    switch (progress.phase) {
    case SearchProgress::Phase::Scan:
        std::fprintf(stderr, "\r\033[K検索中 ファイル：%lld", static_cast<long long>(progress.done));
        break;
    case SearchProgress::Phase::Load:
        std::fprintf(stderr, "\r\033[K読込 %lld / %lld", static_cast<long long>(progress.done),
                     static_cast<long long>(progress.total));
        if (progress.fromCache > 0)
            std::fprintf(stderr, " キャッシュ %lld", static_cast<long long>(progress.fromCache));
        break;
    case SearchProgress::Phase::Pairs:
        std::fprintf(stderr, "\r\033[K比較 %lld / %lld", static_cast<long long>(progress.done),
                     static_cast<long long>(progress.total));
        break;
    }
    std::fflush(stderr);
}


std::string jsonReport(const SearchOutcome& outcome, const std::vector<std::vector<int32_t>>& groups)
{
    const auto text = [](const std::string& line) { return Json(utf8Text(line)); };
    // Member by member and its long arrays element by element: one Json value
    // of the whole report would hold about 1.4 KB a file beside the text (a
    // peak of 81 MB instead of 34 MB for 30,000 files).
    JsonObjectText report;
    report.member("folder", utf8Text(outcome.options.folder));
    // "folders" only for a search of several, so that a search of one
    // prints what it always has.
    if (const std::vector<std::string> folders = searchFoldersOf(outcome.options); folders.size() > 1)
        report.arrayMember("folders", folders, text);
    report.member("mode", static_cast<int32_t>(outcome.options.mode));
    report.member("level", outcome.options.level);
    report.member("depth", outcome.options.depth);
    // Only a search of other formats than the default says which it took.
    if (outcome.options.formats != PictureFormats::defaults())
        report.member("formats", outcome.options.formats.words());
    report.arrayMember("files", outcome.files, [](const File_rec& file) {
        return Json {{"path", utf8Text(file.path)}, {"stamp", utf8Text(file.stamp)}, {"size", file.size},
                     {"width", file.width},         {"height", file.height},         {"spread_a", file.spreadA},
                     {"spread_b", file.spreadB},    {"skip", file.skip}};
    });
    report.arrayMember("scan_lines", outcome.scanLines, text);
    report.arrayMember("result_lines", outcome.resultLines, text);
    report.arrayMember("unreadable", outcome.unreadable, text);
    report.arrayMember("groups", groups, [](const std::vector<int32_t>& group) { return Json(group); });
    report.member("counts", {{"files", outcome.counters.fileCount},
                             {"loaded", outcome.counters.loadCount},
                             {"pairs", outcome.counters.pairCount}});
    // The library writes a double in its shortest form ("1.5"); the elapsed
    // time has always been given to the millisecond ("1.500").
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(outcome.elapsedMs) / 1000.0);
    report.memberText("elapsed_seconds", seconds);
    if (outcome.cache)
        report.member("cache", {{"hits", outcome.cache->hits}, {"misses", outcome.cache->misses}});
    // Only once the user has marked a pair: without marks the report stays
    // as it always was.
    if (outcome.notSame)
        report.member("not_same", *outcome.notSame);
    // Only a search for turned copies names each pair's orientation; the size
    // modes take no turned copies and say so with "upright" throughout.
    if (outcome.options.turned) {
        report.arrayMember("orientations", outcome.resultLines, [&outcome](const std::string& line) {
            const std::optional<ResultIndices> pair = parseResultIndices(line);
            const Orientation orientation
                = pair ? outcome.orientations.of(pair->indexA, pair->indexB) : Orientation::Upright;
            return Json(std::string(orientationName(orientation)));
        });
    }
    return report.take();
}

// One path a line and a blank line between groups; with `null`, each path
// ended by a NUL byte and one more NUL between groups. Names are escaped
// unless `raw`.
void printGroups(const SearchOutcome& outcome, const std::vector<std::vector<int32_t>>& groups, bool null, bool raw)
{
    const char end = null ? '\0' : '\n';
    bool first = true;
    for (const auto& group : groups) {
        if (!first)
            std::fputc(end, stdout);
        first = false;
        for (int32_t index : group) {
            if (index < 0 || static_cast<std::size_t>(index) >= outcome.files.size())
                continue;
            const std::string& path = outcome.files[static_cast<std::size_t>(index)].path;
            const std::string shown = raw ? path : escapedName(path);
            std::fwrite(shown.data(), 1, shown.size(), stdout);
            std::fputc(end, stdout);
        }
    }
}

} // namespace

std::optional<std::string> parseSearchArguments(const std::vector<std::string>& args, SearchArguments& out)
{
    const QCommandLineOption mode(QStringLiteral("mode"), {}, QStringLiteral("mode"));
    const QCommandLineOption level(QStringLiteral("level"), {}, QStringLiteral("level"));
    const QCommandLineOption depth(QStringLiteral("depth"), {}, QStringLiteral("depth"));
    const QCommandLineOption screen(QStringLiteral("screen"), {}, QStringLiteral("screen"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), {}, QStringLiteral("N"));
    const QCommandLineOption formats(QStringLiteral("formats"), {}, QStringLiteral("LIST"));
    const QCommandLineOption cache(QStringLiteral("cache"), {}, QStringLiteral("FILE"));
    const QCommandLineOption exclude(QStringLiteral("exclude"), {}, QStringLiteral("PATTERN"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption noCache(QStringLiteral("no-cache"));
    const QCommandLineOption null(QStringList {QStringLiteral("0"), QStringLiteral("null")});
    const QCommandLineOption showMarked(QStringLiteral("show-marked"));
    const QCommandLineOption turned(QStringLiteral("turned"));
    const QCommandLineOption verbose = verboseOption();
    const QCommandLineOption keep(QStringLiteral("keep"), {}, QStringLiteral("RULE"));
    const QCommandLineOption reference(QStringLiteral("reference"), {}, QStringLiteral("FOLDER"));
    const QCommandLineOption plan(QStringLiteral("plan"), {}, QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    QCommandLineParser parser;
    parser.addOptions({mode, level, depth, screen, jobs, formats, cache, exclude, json, noCache, null, showMarked, turned, verbose, keep, reference, plan, csv});
    if (std::optional<std::string> problem = parseCommandWords(parser, args))
        return problem;

    // Each option's last value counts, as when the words are read in order.
    const auto valueOf = [&parser](const QCommandLineOption& option) { return wordBytes(parser.value(option)); };
    const auto badValue = [&](const QCommandLineOption& option) {
        return "bad value for --" + option.names().front().toStdString() + ": " + valueOf(option);
    };
    if (parser.isSet(mode)) {
        const std::optional<int32_t> index = indexOf(valueOf(mode), {"size", "dims", "identical", "similar"});
        if (!index)
            return badValue(mode);
        out.options.mode = static_cast<CheckMode>(*index);
    }
    if (parser.isSet(level)) {
        const std::optional<int32_t> index = indexOf(valueOf(level), {"strict", "middle", "loose"});
        if (!index)
            return badValue(level);
        out.options.level = *index;
    }
    struct NumberOption {
        const QCommandLineOption& option;
        int32_t low;
        int32_t high;
        int32_t& value;
    };
    for (const NumberOption& number : {NumberOption {depth, 0, 3, out.options.depth},
                                       NumberOption {screen, 0, 2, out.options.screen},
                                       NumberOption {jobs, 1, 4096, out.options.jobs}}) {
        if (!parser.isSet(number.option))
            continue;
        const std::optional<int32_t> value = smallNumber(valueOf(number.option), number.low, number.high);
        if (!value)
            return badValue(number.option);
        number.value = *value;
    }
    if (parser.isSet(formats)) {
        std::string problem;
        const std::optional<PictureFormats> set = parseFormatList(valueOf(formats), problem);
        if (!set)
            return badValue(formats) + " (" + problem + ")";
        out.options.formats = *set;
    }
    out.json = parser.isSet(json);
    out.noCache = parser.isSet(noCache);
    out.null = parser.isSet(null);
    out.verbose = parser.isSet(verbose);
    out.options.showMarked = parser.isSet(showMarked);
    out.options.turned = parser.isSet(turned);
    out.haveCacheFile = parser.isSet(cache);
    if (out.haveCacheFile) {
        if (parser.value(cache).isEmpty())
            return std::string("bad value for --cache: an empty file name");
        out.options.cacheFile = valueOf(cache);
    }

    // Every --exclude counts, in the order given.
    for (const QString& pattern : parser.values(exclude)) {
        if (pattern.isEmpty())
            return std::string("bad value for --exclude: an empty pattern");
        out.options.excludes.push_back(wordBytes(pattern));
    }
    out.keep = parser.isSet(keep);
    if (out.keep) {
        std::string problem;
        std::optional<std::vector<KeepCriterion>> criteria = parseRuleList(valueOf(keep), problem);
        if (!criteria)
            return "bad value for --keep: " + problem;
        out.rules.criteria = std::move(*criteria);
    }
    for (const QString& folder : parser.values(reference)) {
        if (folder.isEmpty())
            return std::string("bad value for --reference: an empty folder name");
        out.rules.referenceFolders.push_back(absoluteFolder(wordBytes(folder), currentFolder().value_or("/")));
    }
    if (!out.rules.referenceFolders.empty() && !out.keep)
        return std::string("--reference needs --keep");
    out.csv = parser.isSet(csv);
    if (parser.isSet(plan)) {
        if (parser.value(plan).isEmpty())
            return std::string("bad value for --plan: an empty file name");
        out.planFile = valueOf(plan);
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional[0].isEmpty())
        return std::string("FOLDER is missing");
    for (const QString& folder : positional)
        if (folder.isEmpty())
            return std::string("an empty FOLDER");
    out.options.folder = wordBytes(positional[0]);
    for (qsizetype i = 1; i < positional.size(); ++i)
        out.options.moreFolders.push_back(wordBytes(positional[i]));
    if (out.noCache && out.haveCacheFile)
        return std::string("--cache and --no-cache together");
    if (out.null && out.json)
        return std::string("--json and --null together");
    if (out.csv && (out.json || out.null))
        return std::string(out.json ? "--csv and --json together" : "--csv and --null together");
    if (out.noCache)
        out.options.cacheFile.clear();
    else if (!out.haveCacheFile)
        out.options.cacheFile = defaultCacheFile();
    return std::nullopt;
}

int runSearchCommand(const std::vector<std::string>& args)
{
    SearchArguments arguments;
    if (const std::optional<std::string> problem = parseSearchArguments(args, arguments)) {
        std::fprintf(stderr, "zelvic-cli: %s\n%s", problem->c_str(), kSearchUsage);
        return 2;
    }
    if (arguments.verbose)
        enableVerboseLogging();
    if (arguments.haveCacheFile) {
        // Only the default cache's folder is made: a mistyped --cache must
        // not leave folders behind.
        const std::string folder = std::filesystem::path(arguments.options.cacheFile).parent_path().string();
        struct stat st {};
        if (!folder.empty() && (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
            std::fprintf(stderr, "zelvic-cli: the folder of the signature cache %s does not exist\n",
                         escapedName(arguments.options.cacheFile).c_str());
            return 1;
        }
    }
    const std::string base = currentFolder().value_or("/");
    arguments.options.folder = absoluteFolder(arguments.options.folder, base);
    for (std::string& folder : arguments.options.moreFolders)
        folder = absoluteFolder(folder, base);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    ProgressCallback progress;
    if (terminal)
        progress = showProgress;
    std::atomic<bool> abortFlag {false};
    try {
        const SearchOutcome outcome = runSearch(arguments.options, abortFlag, progress);
        if (terminal)
            std::fputs("\r\033[K", stderr);
        if (!outcome.cacheWarning.empty())
            std::fprintf(stderr, "zelvic-cli: %s\n", outcome.cacheWarning.c_str());
        if (!outcome.marksWarning.empty())
            std::fprintf(stderr, "zelvic-cli: %s\n", outcome.marksWarning.c_str());
        // The walk marks the pairs it takes: it walks a copy.
        std::vector<PairRec> pairs = outcome.pairList;
        const auto groups = groupsWhenAllOk(pairs);
        std::optional<CleanupList> list;
        if (arguments.keep || arguments.csv || !arguments.planFile.empty()) {
            list = CleanupList::fromSearch(outcome.files, outcome.resultLines);
            // Without a rule nothing is proposed: every mark stays "none".
            if (arguments.keep)
                list->applyRules(arguments.rules);
        }
        if (!arguments.planFile.empty()) {
            const CleanupPlan plan = planOf(*list, outcome.options.folder,
                                            planOptionsJson(outcome.options, arguments.rules));
            // Written beside and renamed over: an old plan is replaced whole or not at all.
            const std::string part = arguments.planFile + ".part";
            std::FILE* file = std::fopen(part.c_str(), "wb");
            const std::string text = planText(plan);
            bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
            int error = errno;
            if (file != nullptr && std::fclose(file) != 0 && written) {
                written = false;
                error = errno;
            }
            if (written && std::rename(part.c_str(), arguments.planFile.c_str()) != 0) {
                written = false;
                error = errno;
            }
            if (!written) {
                if (file != nullptr)
                    std::remove(part.c_str());
                std::fprintf(stderr, "zelvic-cli: cannot write the plan %s: %s\n",
                             escapedName(arguments.planFile).c_str(), std::strerror(error != 0 ? error : EIO));
                return 1;
            }
        }
        if (arguments.json) {
            std::string report = jsonReport(outcome, groups);
            if (arguments.keep) {
                report.pop_back(); // the closing brace
                report += ",\"marks\":" + marksJson(*list) + "}";
            }
            std::printf("%s\n", report.c_str());
        } else if (arguments.csv) {
            printCsv(*list, stdout);
        } else if (arguments.keep) {
            const bool raw = arguments.null && ::isatty(STDOUT_FILENO) != 1;
            printMarkedGroups(*list, arguments.null, raw, stdout);
        } else {
            // Raw bytes only for a script that asked for them; a name must
            // never drive a terminal, and without NUL ends a newline in a
            // name would read as two paths.
            const bool raw = arguments.null && ::isatty(STDOUT_FILENO) != 1;
            printGroups(outcome, groups, arguments.null, raw);
        }
        if (!outputWritten())
            return 1;
        std::fprintf(stderr, "%s\n", searchStatusText(outcome).c_str());
        if (!outcome.noFiles)
            std::fprintf(stderr, "%s\n", searchSummaryLine(outcome).c_str());
        return 0;
    } catch (const std::exception& error) {
        if (terminal)
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
