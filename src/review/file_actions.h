#pragma once

#include <string>

#include "review/file_action_result.h"
#include "review/trash.h"

// Checks, before anything changes, that `from` can be moved to `to`: the
// file is there, its folder lets it go, the target folder exists and takes
// it, and across file systems the target has room for the copy.
FileActionResult checkMove(const std::string& from, const std::string& to);

// Moves `from` to `to` without asking, after checkMove. A different file
// already at `to` is first moved to the trash (and the move fails if it
// cannot be), so a move never destroys a file; should the move then fail,
// that file is put back and the message says so. After a move that made
// room this way, the result's `trashed` tells where that file went.
// Within one file system this is rename(2); across file systems the file is
// copied to a temporary name beside `to`, synced, renamed over `to`, and only
// then is the source removed, so a failure at any point leaves the source.
FileActionResult moveFileReplacing(const std::string& from, const std::string& to);
