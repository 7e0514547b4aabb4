#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "review/pair_list.h"

// How the review window closed: its modal result.
enum class ReviewResult : int32_t { Ok = 1, Cancel = 2, Abort = 3 };

// Shows one group (FileTable indices in display order; the reviewer may
// shrink it as files are deleted) and answers how it was closed. The reviewer
// may set pairs out of play in the PairList while the group is open.
using GroupReviewer = std::function<ReviewResult(std::vector<int32_t>& group)>;

// The review walk (Graphic_File_Disp): gathers connected waiting pairs of
// pairs[0 .. pairCount-1] into groups and hands each group to the reviewer;
// an Abort answer ends the walk.
void Graphic_File_Disp(std::vector<PairRec>& pairs, const GroupReviewer& reviewer);
