#include "cli/search_command.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>

#include <unistd.h>

#include "cache/cache_location.h"
#include "cli/json_writer.h"
#include "common/integer_text.h"
#include "review/group_walk.h"
#include "search/search_job.h"

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

std::string currentFolder()
{
    std::string buffer(4096, '\0');
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
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

void writeStrings(JsonWriter& json, const char* name, const std::vector<std::string>& lines)
{
    json.key(name);
    json.beginArray();
    for (const std::string& line : lines)
        json.value(line);
    json.endArray();
}

std::string jsonReport(const SearchOutcome& outcome, const std::vector<std::vector<int32_t>>& groups)
{
    JsonWriter json;
    json.beginObject();
    json.field("folder", outcome.options.folder);
    json.field("mode", static_cast<int32_t>(outcome.options.mode));
    json.field("level", outcome.options.level);
    json.field("depth", outcome.options.depth);
    json.key("files");
    json.beginArray();
    for (const File_rec& file : outcome.files) {
        json.beginObject();
        json.field("path", file.path);
        json.field("stamp", file.stamp);
        json.field("size", file.size);
        json.field("width", file.width);
        json.field("height", file.height);
        json.field("spread_a", file.spreadA);
        json.field("spread_b", file.spreadB);
        json.field("skip", file.skip);
        json.endObject();
    }
    json.endArray();
    writeStrings(json, "scan_lines", outcome.scanLines);
    writeStrings(json, "result_lines", outcome.resultLines);
    writeStrings(json, "unreadable", outcome.unreadable);
    json.key("groups");
    json.beginArray();
    for (const auto& group : groups)
        json.intArray(group);
    json.endArray();
    json.key("counts");
    json.beginObject();
    json.field("files", outcome.counters.fileCount);
    json.field("loaded", outcome.counters.loadCount);
    json.field("pairs", outcome.counters.pairCount);
    json.endObject();
    json.field("elapsed_seconds", static_cast<double>(outcome.elapsedMs) / 1000.0);
    if (outcome.cache) {
        json.key("cache");
        json.beginObject();
        json.field("hits", outcome.cache->hits);
        json.field("misses", outcome.cache->misses);
        json.endObject();
    }
    json.endObject();
    return json.text();
}

void printGroups(const SearchOutcome& outcome, const std::vector<std::vector<int32_t>>& groups)
{
    bool first = true;
    for (const auto& group : groups) {
        if (!first)
            std::fputc('\n', stdout);
        first = false;
        for (int32_t index : group) {
            if (index >= 0 && static_cast<std::size_t>(index) < outcome.files.size())
                std::printf("%s\n", outcome.files[static_cast<std::size_t>(index)].path.c_str());
        }
    }
}

} // namespace

std::optional<std::string> parseSearchArguments(const std::vector<std::string>& args, SearchArguments& out)
{
    std::string& folder = out.options.folder;
    bool haveFolder = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
        if (word == "--json") {
            out.json = true;
            continue;
        }
        if (word == "--no-cache") {
            out.noCache = true;
            continue;
        }
        if (word.size() < 2 || word.compare(0, 2, "--") != 0 || word == "--") {
            if (word == "--" && i + 1 < args.size())
                word = args[++i];
            if (haveFolder)
                return "more than one FOLDER: " + word;
            folder = word;
            haveFolder = true;
            continue;
        }
        std::string name = word;
        std::string value;
        const auto equals = word.find('=');
        if (equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        } else {
            if (i + 1 >= args.size())
                return name + " needs a value";
            value = args[++i];
        }
        if (name == "--cache") {
            if (value.empty())
                return std::string("bad value for --cache: an empty file name");
            out.options.cacheFile = value;
            out.haveCacheFile = true;
            continue;
        }
        std::optional<int32_t> number;
        if (name == "--mode") {
            number = indexOf(value, {"size", "dims", "identical", "similar"});
            if (number)
                out.options.mode = static_cast<CheckMode>(*number);
        } else if (name == "--level") {
            number = indexOf(value, {"strict", "middle", "loose"});
            if (number)
                out.options.level = *number;
        } else if (name == "--depth") {
            number = smallNumber(value, 0, 3);
            if (number)
                out.options.depth = *number;
        } else if (name == "--screen") {
            number = smallNumber(value, 0, 2);
            if (number)
                out.options.screen = *number;
        } else if (name == "--jobs") {
            number = smallNumber(value, 1, 4096);
            if (number)
                out.options.jobs = *number;
        } else {
            return "unknown option " + name;
        }
        if (!number)
            return "bad value for " + name + ": " + value;
    }
    if (!haveFolder || folder.empty())
        return std::string("FOLDER is missing");
    if (out.noCache && out.haveCacheFile)
        return std::string("--cache and --no-cache together");
    if (out.noCache)
        out.options.cacheFile.clear();
    else if (!out.haveCacheFile)
        out.options.cacheFile = defaultCacheFile();
    return std::nullopt;
}

std::string normalFolder(const std::string& folder, const std::string& cwd)
{
    const std::string full = (!folder.empty() && folder[0] == '/') ? folder : cwd + "/" + folder;
    std::vector<std::string_view> parts;
    std::string_view rest = full;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view {} : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty())
        return "/";
    std::string normal;
    for (std::string_view part : parts) {
        normal += '/';
        normal += part;
    }
    return normal;
}

int runSearchCommand(const std::vector<std::string>& args)
{
    SearchArguments arguments;
    if (const std::optional<std::string> problem = parseSearchArguments(args, arguments)) {
        std::fprintf(stderr, "zelvic-cli: %s\n%s", problem->c_str(), kSearchUsage);
        return 2;
    }
    arguments.options.folder = normalFolder(arguments.options.folder, currentFolder());
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
        // The walk marks the pairs it takes: it walks a copy.
        std::vector<PairRec> pairs = outcome.pairList;
        const auto groups = groupsWhenAllOk(pairs);
        if (arguments.json)
            std::printf("%s\n", jsonReport(outcome, groups).c_str());
        else
            printGroups(outcome, groups);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "zelvic-cli: cannot write the results: %s\n", std::strerror(errno));
            return 1;
        }
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
