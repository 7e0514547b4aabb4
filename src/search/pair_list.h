#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/file_table.h"

// Where a pair stands in the review walk.
enum class PairState : int32_t {
    OutOfPlay = 0, // a file of it was deleted in a similar-picture review
    Taken = 1,     // shown in a group of the current walk
    Waiting = 2,   // not yet shown
};

// One match pair of the result list.
struct PairRec {
    PairState state = PairState::OutOfPlay;
    int32_t indexA = 0; // FileTable index, characters 7-12 of the result line
    int32_t indexB = 0; // characters 15-20
};

struct ResultIndices {
    int32_t indexA = 0;
    int32_t indexB = 0;
};

// The two FileTable indices of a result line: characters 7-12 and 15-20
// (counted from 1) for a line of the usual widths. They are read as the digit
// fields after the first and second ", ", so that an index that has grown to
// seven digits is still read whole. Nothing for a line not of that shape.
std::optional<ResultIndices> parseResultIndices(std::string_view line);

// PairList of a fresh search: one waiting pair per result line, in list order.
std::vector<PairRec> buildPairList(const std::vector<std::string>& resultLines);

// PairList of a re-display: one waiting pair per line whose two files both
// have Skip 0, in list order. A line naming a file outside the table is left
// out as well.
std::vector<PairRec> rebuildPairList(const std::vector<std::string>& resultLines, const FileTable& files);
