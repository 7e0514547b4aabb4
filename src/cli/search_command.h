#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cleanup/keep_rules.h"
#include "search/search_options.h"

// The usage lines of the search command.
inline constexpr const char* kSearchUsage =
    "usage: zelvic-cli search FOLDER... [--mode size|dims|identical|similar] [--level strict|middle|loose]\n"
    "                                   [--depth 0..3] [--screen 0..2] [--jobs N] [--formats LIST] [--json]\n"
    "                                   [--exclude PATTERN]... [--cache FILE | --no-cache]\n"
    "                                   [--null | -0] [--show-marked] [--turned] [--verbose]\n"
    "                                   [--keep RULE[,RULE...] [--reference FOLDER]...] [--plan FILE] [--csv]\n"
    "       (RULE: pixels, bytes, oldest, newest, path; a final tie keeps the earliest in the group)\n";

struct SearchArguments {
    SearchOptions options; // folders as given, not yet made absolute
    bool json = false;
    bool null = false;          // -0, --null: raw paths ended by NUL bytes, for scripts
    bool noCache = false;       // --no-cache: the cache is neither read nor written
    bool haveCacheFile = false; // --cache FILE given
    bool verbose = false;       // --verbose: log what went wrong along the way
    bool keep = false;          // --keep given: marks are proposed by `rules`
    RuleSet rules;              // --keep's criteria, --reference's folders (absolute)
    std::string planFile;       // --plan FILE: the proposal written there
    bool csv = false;           // --csv: the groups as CSV
};

// Reads the words after "search" into out. Returns what is wrong with them
// (for a message before the usage lines), nothing when they are all good.
std::optional<std::string> parseSearchArguments(const std::vector<std::string>& args, SearchArguments& out);

// `zelvic-cli search FOLDER... [options]`; args are the words after "search".
// Returns the exit status: 0 after a search, 1 on an error, 2 on bad arguments.
int runSearchCommand(const std::vector<std::string>& args);
