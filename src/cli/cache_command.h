#pragma once

#include <string>
#include <vector>

// The usage line of the cache command.
inline constexpr const char* kCacheUsage = "       zelvic-cli cache stats|prune|clear [--cache FILE] [--verbose]\n";

// `zelvic-cli cache stats|prune|clear [--cache FILE] [--verbose]`; args are the words
// after "cache". Returns the exit status: 0 done, 1 the cache could not be
// used (the reason on standard error), 2 bad arguments.
int runCacheCommand(const std::vector<std::string>& args);
