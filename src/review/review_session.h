#pragma once

#include <vector>

#include "review/pane_size.h"
#include "review/search_records.h"

// What the review of one search works on: the FileTable (a delete sets Skip,
// a move rewrites Path), the PairList (a delete in CheckMode 3 puts the
// file's pairs out of play), the mode, and the size of one review pane.
struct ReviewSession {
    std::vector<File_rec>* files = nullptr;
    std::vector<PairRec>* pairs = nullptr;
    CheckMode mode {}; // CheckMode::FileSize
    PaneSize pane;
    // A search for turned copies: the orientation each pair matched in,
    // which the review shows (none: every pair upright).
    const PairOrientations* orientations = nullptr;
};
