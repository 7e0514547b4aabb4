#pragma once

#include <string>

// The system-call steps the trash and the moves share. Return values are 0
// or errno.

// What an errno from acting on `path` is about: its folder, when the folder
// refused to give up or take the entry; the file itself otherwise.
std::string errorSubject(int error, const std::string& path);

// Syncs a folder, so that names just added to it or removed survive a crash.
void syncFolder(const std::string& folder);

// Copies what is left of `in` to `out`, then the source's permissions and
// times, and syncs `out`, so the copy is on disk before anything relies on it.
int copyDescriptor(int in, int out);

// Copies `from` to the new file `to`: EEXIST when `to` exists, and nothing
// left behind on failure.
int copyFileExclusive(const std::string& from, const std::string& to);

// rename(2) that never replaces an existing target: EEXIST when it is taken.
int renameNoReplace(const std::string& from, const std::string& to);
