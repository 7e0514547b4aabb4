#pragma once

#include <string>

// The outcome of a file action: empty error on success, else the message to
// show the user.
struct FileActionResult {
    std::string error;
    bool ok() const { return error.empty(); }
};

// Moves a file into the freedesktop.org trash so that the user can restore it
// from any file manager. Paths are raw file-system bytes. Names that Qt can
// carry as text go through QFile::moveToTrash; names that are not valid UTF-8
// go to the home trash directly, with their bytes percent-encoded in the
// .trashinfo record as the trash format allows, so no name is unreachable.
FileActionResult moveFileToTrash(const std::string& path);

// Moves `from` to `to` without asking. A different file already at `to` is
// first moved to the trash (and the move fails if it cannot be), so a move
// never destroys a file.
// Within one file system this is rename(2); across file systems the file is
// copied to a temporary name beside `to`, synced, renamed over `to`, and only
// then is the source removed, so a failure at any point leaves the source.
FileActionResult moveFileReplacing(const std::string& from, const std::string& to);
