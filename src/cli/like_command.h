#pragma once

#include <string>
#include <vector>

// The usage lines of the like command.
inline constexpr const char* kLikeUsage =
    "       zelvic-cli like PICTURE FOLDER... [--mode identical|similar] [--level strict|middle|loose]\n"
    "                                [--depth 0..3] [--jobs N] [--cache FILE | --no-cache] [--turned]\n"
    "                                [--verbose]\n";

// `zelvic-cli like PICTURE FOLDER...`: the files of the folders that pair with
// PICTURE, best first, one "SCORE<tab>PATH" line each ("SCORE<tab>ORIENTATION
// <tab>PATH" with --turned: how the file is turned to look like PICTURE). Returns the exit
// status: 0 done (whether or not any file pairs), 1 an error (a folder that
// cannot be read, a PICTURE that cannot be read as one), 2 bad arguments.
int runLikeCommand(const std::vector<std::string>& args);
