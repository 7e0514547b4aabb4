#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "review/search_records.h"

// How the review window closed: its modal result.
enum class ReviewResult : int32_t { Ok = 1, Cancel = 2, Abort = 3 };

// Shows one group (FileTable indices in display order; the reviewer may
// shrink it as files are deleted) and answers how it was closed. The reviewer
// may set pairs out of play in the PairList while the group is open; it must
// not add or remove PairList entries.
using GroupReviewer = std::function<ReviewResult(std::vector<int32_t>& group)>;

// Where a group stands in its walk: the number-th of total groups shown,
// both from 1. The total is exact (counted before the first group; what a
// review deletes never changes the groups still to come).
struct GroupPlace {
    int32_t number = 0;
    int32_t total = 0;
};

// A reviewer that is also told the group's place in the walk.
using PlacedGroupReviewer = std::function<ReviewResult(std::vector<int32_t>& group, const GroupPlace& place)>;

// Only PairList entries 0..kMaxSeed can seed a group; later pairs are reviewed
// only through a group seeded earlier.
inline constexpr int32_t kMaxSeed = 2000;

// The review walk (Graphic_File_Disp): gathers connected waiting pairs of
// pairs[0 .. pairCount-1] into groups and hands each group to the reviewer;
// an Abort answer ends the walk. Pairs taken in an earlier walk wait again;
// pairs out of play stay out.
void Graphic_File_Disp(std::vector<PairRec>& pairs, const GroupReviewer& reviewer);
void Graphic_File_Disp(std::vector<PairRec>& pairs, const PlacedGroupReviewer& reviewer);

// Every group the walk shows when each one is closed with "OK", in the order
// shown: the `groups` of zelvic-cli.
std::vector<std::vector<int32_t>> groupsWhenAllOk(std::vector<PairRec>& pairs);

// The re-display ("画像再表示") without its window: `pairs` is rebuilt from
// the lines of the last search, leaving out the pairs of files whose Skip is
// set, and walked when any pair is left.
void redisplayGroups(const std::vector<std::string>& resultLines, const std::vector<File_rec>& files,
                     std::vector<PairRec>& pairs, const GroupReviewer& reviewer);
void redisplayGroups(const std::vector<std::string>& resultLines, const std::vector<File_rec>& files,
                     std::vector<PairRec>& pairs, const PlacedGroupReviewer& reviewer);

// One group as the walk gathers it: the members it shows, in display order,
// and the files it gathers (their pairs taken) without showing them.
struct GatheredGroup {
    std::vector<int32_t> shown;
    std::vector<int32_t> hidden;
};

// The walk's gathering with every waiting pair able to start a group, in list
// order: its first groups are those of groupsWhenAllOk, and it goes on where
// the walk's limit on starting pairs stops.
std::vector<GatheredGroup> gatherEveryGroup(std::vector<PairRec>& pairs);
