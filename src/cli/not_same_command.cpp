#include "cli/not_same_command.h"

#include <cstdio>
#include <filesystem>
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
#include "common/folder_path.h"
#include "common/log_categories.h"
#include "marks/mark_store.h"
#include "marks/pair_marking.h"

namespace {

int badArguments(const std::string& why)
{
    std::fprintf(stderr, "zelvic-cli: %s\nusage:%s", why.c_str(), kNotSameUsage + 6);
    return 2;
}

int failed(const std::string& why)
{
    std::fprintf(stderr, "zelvic-cli: %s\n", why.c_str());
    return 1;
}

// The content hash of a file named on the command line, with its absolute
// name for the messages and the mark.
struct NamedContent {
    std::string name;
    ContentHash hash {};
};

std::optional<NamedContent> contentOf(MarkStore& marks, const std::string& word, std::string& problem)
{
    NamedContent named;
    named.name = absoluteFolder(word, currentFolder().value_or("/"));
    const std::optional<ContentHash> hash = marks.contentHashOf(named.name);
    if (!hash) {
        problem = marks.problem().empty() ? escapedName(word) + " cannot be read" : marks.problem();
        return std::nullopt;
    }
    named.hash = *hash;
    return named;
}

} // namespace

int runNotSameCommand(const std::vector<std::string>& args)
{
    const QCommandLineOption cacheOption(QStringLiteral("cache"), {}, QStringLiteral("FILE"));
    const QCommandLineOption verbose = verboseOption();
    QCommandLineParser parser;
    parser.addOptions({cacheOption, verbose});
    if (const std::optional<std::string> problem = parseCommandWords(parser, args))
        return badArguments(*problem);
    const QStringList words = parser.positionalArguments();
    const std::string action = words.isEmpty() ? std::string() : wordBytes(words[0]);
    const bool withFiles = action == "add" || action == "remove";
    if (action.empty())
        return badArguments("add, list, remove or clear is missing");
    if (!withFiles && action != "list" && action != "clear")
        return badArguments("unexpected argument " + action);
    const qsizetype wanted = withFiles ? 3 : 1;
    if (words.size() < wanted)
        return badArguments(action + " takes two files");
    if (words.size() > wanted)
        return badArguments("unexpected argument " + wordBytes(words[wanted]));
    if (parser.isSet(verbose))
        enableVerboseLogging();
    const bool haveFile = parser.isSet(cacheOption);
    std::string file = wordBytes(parser.value(cacheOption));
    if (haveFile && file.empty())
        return badArguments("bad value for --cache: an empty file name");
    if (!haveFile)
        file = defaultCacheFile();
    struct stat st {};
    if (action != "add" && (file.empty() || ::stat(file.c_str(), &st) != 0)) {
        // Nothing marked yet; not creating the database keeps these read-only.
        if (action == "remove")
            return failed("no such mark: there are no marks at " + (file.empty() ? "(no home folder)" : escapedName(file)));
        if (action == "clear")
            std::printf("cleared 0 marks\n");
        return 0;
    }
    if (file.empty())
        return failed("no place for the marks: no home folder");
    // Before the database is touched: a mistyped name must leave nothing behind.
    for (qsizetype i = 1; i < wanted; ++i) {
        const std::string word = wordBytes(words[i]);
        if (::stat(word.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return failed(escapedName(word) + " is not a file");
    }

    if (action == "add") {
        const std::string base = currentFolder().value_or("/");
        const std::string a = absoluteFolder(wordBytes(words[1]), base);
        const std::string b = absoluteFolder(wordBytes(words[2]), base);
        const PairMarking marking = markPairNotSame(file, a, b, !haveFile);
        if (!marking.done)
            return failed("cannot mark " + escapedName(a) + " and " + escapedName(b) + ": " + marking.problem);
        std::printf("%s %s and %s\n", marking.added ? "marked" : "already marked", escapedName(a).c_str(),
                    escapedName(b).c_str());
        return 0;
    }

    // The signature store opens the database and checks that it is ours;
    // the marks live beside its tables.
    bool warned = false;
    const CacheWarning warning = [&warned](const std::string& message) {
        std::fprintf(stderr, "zelvic-cli: %s\n", message.c_str());
        warned = true;
    };
    std::unique_ptr<SignatureStore> store = SignatureStore::open(file, warning);
    if (!store)
        return 1;
    store.reset();
    std::string problem;
    const std::unique_ptr<MarkStore> marks = MarkStore::open(file, problem);
    if (!marks)
        return failed("the not-same marks in " + escapedName(file) + " cannot be used: " + problem);

    if (action == "list") {
        const std::optional<std::vector<NotSameMark>> all = marks->list();
        if (!all)
            return failed(marks->problem());
        for (const NotSameMark& mark : *all) {
            std::printf("%s %s\t%s\t%s\n", contentHashText(mark.first).c_str(), contentHashText(mark.second).c_str(),
                        escapedName(mark.firstName).c_str(), escapedName(mark.secondName).c_str());
        }
        return warned ? 1 : 0;
    }
    if (action == "clear") {
        const std::optional<int64_t> cleared = marks->clear();
        if (!cleared)
            return failed(marks->problem());
        std::printf("cleared %lld marks\n", static_cast<long long>(*cleared));
        return warned ? 1 : 0;
    }

    const std::optional<NamedContent> a = contentOf(*marks, wordBytes(words[1]), problem);
    if (!a)
        return failed(problem);
    const std::optional<NamedContent> b = contentOf(*marks, wordBytes(words[2]), problem);
    if (!b)
        return failed(problem);
    const std::optional<bool> removed = marks->remove(a->hash, b->hash);
    if (!removed)
        return failed(marks->problem());
    if (!*removed)
        return failed("no such mark: " + escapedName(a->name) + " and " + escapedName(b->name));
    std::printf("removed the mark of %s and %s\n", escapedName(a->name).c_str(), escapedName(b->name).c_str());
    return warned ? 1 : 0;
}
