#pragma once

#include <string>
#include <vector>

#include "review/file_action_result.h"

// The freedesktop.org trash, for every file name (paths are raw file-system
// bytes), so that a deleted picture can be restored from any file manager.
//
// A file on the home trash's file system goes to the home trash
// ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash), created when missing.
// A file on another file system goes to that volume's $topdir/.Trash/$uid
// (when .Trash is a real folder with the sticky bit) or $topdir/.Trash-$uid,
// and when neither can be had, into the home trash by copy. No trash ever
// depends on the current folder.
//
// The .trashinfo record is written completely and synced before the file is
// moved in; a failure at any step undoes the steps before it, leaves the file
// where it was and says why.
FileActionResult moveFileToTrash(const std::string& path);

// The same for a batch of thousands of files: the record and the folders
// are not synced one by one; the caller syncs the file systems concerned
// every so many files instead. A killed or crashed program loses nothing
// either way; only a power cut may lose the moves since the last sync.
FileActionResult moveFileToTrashUnsynced(const std::string& path);

// Puts a trashed file back at `originalPath` (which must be free) and removes
// its record.
FileActionResult restoreFromTrash(const TrashedFile& trashed, const std::string& originalPath);
FileActionResult restoreFromTrashUnsynced(const TrashedFile& trashed, const std::string& originalPath);

// The trash folders a file once at `path` may have gone to: the home trash
// and its volume's trashes, whether they exist or not. For finding a file
// whose move into the trash was cut short before it was recorded.
std::vector<std::string> trashFoldersFor(const std::string& path);

// The call that syncs each new .trashinfo record, fsync(2) unless replaced:
// a fault hook, so that a failing sync can be shown to stop the delete.
// nullptr puts fsync back.
using TrashRecordSync = int (*)(int fd);
void setTrashRecordSync(TrashRecordSync sync);
