#pragma once

#include <string>

// Why a file action failed, beyond the system's errno.
enum class FileActionFailure {
    None,
    Missing,        // the file to act on is not there
    Refused,        // the system refused a step; systemError says why
    NoTrash,        // no trash folder can take the file
    NoTrashName,    // every trash name tried was already taken
    MoveImpossible, // checked before anything changed: the move cannot be made
};

// Where a trashed file went, so that it can be put back.
struct TrashedFile {
    std::string filePath; // the file inside the trash's files/ folder
    std::string infoPath; // its .trashinfo record
    bool copied = false;  // the trash is on another file system: the file was copied there
};

// The outcome of a file action: empty error on success, else the text to
// show the user (Japanese, naming the file).
struct FileActionResult {
    std::string error;
    FileActionFailure failure = FileActionFailure::None;
    int systemError = 0; // errno of the failed step, 0 when none applies
    TrashedFile trashed {}; // after a successful trash
    bool ok() const { return error.empty(); }
};
