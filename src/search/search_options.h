#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture_format.h"

// What to compare: the item index of "チェック内容".
enum class CheckMode : int32_t { FileSize = 0, PictureSize = 1, Identical = 2, Similar = 3 };

// Strictness of the picture comparisons: the item index of "チェックレベル".
inline constexpr int32_t kLevelStrict = 0;
inline constexpr int32_t kLevelMiddle = 1;
inline constexpr int32_t kLevelLoose = 2;

struct SearchOptions {
    std::string folder;          // absolute, normal, no trailing "/" except the root
    std::vector<std::string> moreFolders; // further folders searched with it, in the same form
    std::vector<std::string> excludes;    // shell globs on whole paths, left out of the scan
    CheckMode mode = CheckMode::FileSize;
    int32_t level = kLevelStrict; // CheckLevel
    int32_t depth = 0;           // SubDirDepth, 0..3
    int32_t screen = 0;          // "画面サイズ" item index, 0..2 (-1: none chosen)
    int32_t jobs = 0;            // worker threads; 0 = all cores
    std::string cacheFile;       // the signature cache; empty: none, nothing read or kept
    bool showMarked = false;     // keep the pairs marked "not the same" (their marks live beside the cache)
    PictureFormats formats = PictureFormats::defaults(); // the kinds of picture file searched
    bool turned = false;         // also pair copies turned by quarters or mirrored (picture modes)
};
