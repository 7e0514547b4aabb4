#include <cstdio>
#include <string>
#include <vector>

#include "cli/cache_command.h"
#include "cli/search_command.h"
#include "cli/signature_commands.h"

namespace {

constexpr const char* kSignatureUsage = "       zelvic-cli signature --engine identical|similar FILE\n";

void printUsage(std::FILE* to)
{
    std::fputs(kSearchUsage, to);
    std::fputs(kSignatureUsage, to);
    std::fputs(kCacheUsage, to);
}

int runSignatureCommand(const std::vector<std::string>& args)
{
    std::string engine;
    std::string file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--engine" && i + 1 < args.size())
            engine = args[++i];
        else if (word.rfind("--engine=", 0) == 0)
            engine = word.substr(9);
        else if (file.empty() && !word.empty() && word.rfind("--", 0) != 0)
            file = word;
        else {
            printUsage(stderr);
            return 2;
        }
    }
    if (file.empty() || (engine != "identical" && engine != "similar")) {
        printUsage(stderr);
        return 2;
    }
    return engine == "identical" ? printIdenticalSignature(file) : printSimilarSignature(file);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> words(argv + 1, argv + argc);
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
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(stdout);
        return 0;
    }
    printUsage(stderr);
    return 2;
}
