#pragma once

#include <cstdint>

// The search's records that review headers name. They are only declared
// here: review sources include the search headers that define them, so that
// no review header depends on the search.
struct File_rec;
struct PairRec;
class PairOrientations;
enum class CheckMode : int32_t;
