#pragma once

#include <cstdint>
#include <string>

#include "picture/picture_format.h"

// What to compare: the item index of "チェック内容".
enum class CheckMode : int32_t { FileSize = 0, PictureSize = 1, Identical = 2, Similar = 3 };

// Strictness of the picture comparisons: the item index of "チェックレベル".
inline constexpr int32_t kLevelStrict = 0;
inline constexpr int32_t kLevelMiddle = 1;
inline constexpr int32_t kLevelLoose = 2;

struct SearchOptions {
    std::string folder;          // absolute, normal, no trailing "/" except the root
    CheckMode mode = CheckMode::FileSize;
    int32_t level = kLevelStrict; // CheckLevel
    int32_t depth = 0;           // SubDirDepth, 0..3
    int32_t screen = 0;          // "画面サイズ" item index, 0..2 (-1: none chosen)
    int32_t jobs = 0;            // worker threads; 0 = all cores
    std::string cacheFile;       // the signature cache; empty: none, nothing read or kept
    PictureFormats formats = PictureFormats::defaults(); // the kinds of picture file searched
};
