#pragma once

#include <string>
#include <vector>

// The usage line of the not-same command.
inline constexpr const char* kNotSameUsage =
    "       zelvic-cli not-same add FILE FILE | list | remove FILE FILE | clear [--cache FILE] [--verbose]\n";

// `zelvic-cli not-same ...`; args are the words after "not-same". Marks two
// files' contents as not the same picture (searches then leave the pair out),
// lists the marks, removes one or all. Returns the exit status: 0 done, 1 a
// file or the database could not be used, or there was no such mark to
// remove (the reason on standard error), 2 bad arguments.
int runNotSameCommand(const std::vector<std::string>& args);
