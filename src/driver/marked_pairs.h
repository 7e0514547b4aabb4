#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "search/file_table.h"

// What the "not the same" marks did to one result list.
struct MarkedPairs {
    // The result pairs whose contents are marked (left out, or kept with
    // keepMarked); nothing when no mark exists at all, so that a user who
    // never marked a pair sees every report exactly as before.
    std::optional<int32_t> count;
    int32_t dropped = 0;
    std::string warning; // why the marks were set aside, when they were
};

// Leaves out of resultLines (any order) the pairs the user marked "not the
// same" in the database `cacheFile`, unless keepMarked. Only the files of
// pairs are hashed, and only when there is a mark. A fault of the marks
// leaves the lines as they are, with the warning.
MarkedPairs applyNotSameMarks(const std::string& cacheFile, const FileTable& files,
                              std::vector<std::string>& resultLines, bool keepMarked);
