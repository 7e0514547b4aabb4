#pragma once

#include <span>
#include <string>
#include <vector>

#include "compare/similar/packed_similar_signature.h"
#include "compare/similar/similar_pair_pass.h"
#include "search/pair_orientations.h"

// The pair passes of a search for turned copies, after the plain pass has
// written `lines` (its input is `upright`): for each orientation 1..7 in
// turn, the pairs A < B whose A upright matches B turned that way, each pair
// only in the first orientation that matches it (upright before all). Their
// lines are added to `lines` and their orientations set in `orientations`
// (may be null). `turned` holds file f's signature in orientation o at
// [f * 7 + o - 1]. `progressBefore` is the plain pass's count of pairs.
void addTurnedSimilarPairs(const SimilarPairPassInput& upright, std::span<const PackedSimilarSignature> turned,
                           int64_t progressBefore, std::vector<std::string>& lines, PairOrientations* orientations);
