#pragma once

#include <optional>
#include <string>
#include <vector>

#include "search/search_options.h"

// The usage lines of the search command.
inline constexpr const char* kSearchUsage =
    "usage: zelvic-cli search FOLDER [--mode size|dims|identical|similar] [--level strict|middle|loose]\n"
    "                                [--depth 0..3] [--screen 0..2] [--jobs N] [--formats LIST] [--json]\n"
    "                                [--cache FILE | --no-cache] [--null | -0] [--verbose]\n";

struct SearchArguments {
    SearchOptions options; // folder as given, not yet made absolute
    bool json = false;
    bool null = false;          // -0, --null: raw paths ended by NUL bytes, for scripts
    bool noCache = false;       // --no-cache: the cache is neither read nor written
    bool haveCacheFile = false; // --cache FILE given
    bool verbose = false;       // --verbose: log what went wrong along the way
};

// Reads the words after "search" into out. Returns what is wrong with them
// (for a message before the usage lines), nothing when they are all good.
std::optional<std::string> parseSearchArguments(const std::vector<std::string>& args, SearchArguments& out);

// `zelvic-cli search FOLDER [options]`; args are the words after "search".
// Returns the exit status: 0 after a search, 1 on an error, 2 on bad arguments.
int runSearchCommand(const std::vector<std::string>& args);
