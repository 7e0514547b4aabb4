#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "picture/orientation.h"
#include "search/search_options.h"

// What `like` is asked: the files of `folders` that pair with `picture`.
struct LikeOptions {
    std::string picture;              // absolute
    std::vector<std::string> folders; // absolute, normal
    CheckMode mode = CheckMode::Similar; // Identical or Similar
    int32_t level = kLevelStrict;
    int32_t depth = 0;
    int32_t jobs = 0;                 // 0: every core
    std::string cacheFile;            // empty: none
    bool turned = false;              // also files that pair turned or mirrored
};

// One file that pairs with the picture, with the score its result line
// would carry (lower is closer).
struct LikeMatch {
    std::string path;
    int32_t score = 0;
    // With LikeOptions::turned: how the file is turned to look like the
    // picture (the search's orientation of the pair, seen from the file).
    Orientation orientation = Orientation::Upright;
};

struct LikeOutcome {
    std::vector<LikeMatch> matches; // best first; equal scores in file-table order
    int32_t fileCount = 0;          // the picture and the folders' files, once each
    bool pictureUnreadable = false; // it did not load, or is too small for the comparison
    std::string cacheWarning;
    std::string marksWarning;
};

// The pairs a search of the picture together with the folders would report
// with the picture (same mode, level and file count, so the same bounds),
// found by deciding only those pairs: the other files are loaded (from the
// cache when warm) and each is judged against the picture alone. Files marked
// "not the same" as the picture are left out, as a search leaves their pairs
// out. With `turned`, each pair is tried in every orientation as a search for
// turned copies tries it, and the first that matches is the pair's. Throws SearchError for a folder that cannot be read or a picture that
// is no file.
LikeOutcome findLikePictures(const LikeOptions& options, const std::atomic<bool>& abortFlag);
