#pragma once

#include <exception>
#include <string>

#include "picture/picture_loader.h"

// The texts the windows show for failures, in the user's language, each
// naming the file concerned. Every error box of the program takes its texts
// from here and carries kErrorBoxTitle, so the same fault reads the same in
// the main window and in the review.

inline constexpr char kErrorBoxTitle[] = "Zelvic";

// A path as message text: UTF-8, with bytes that are not shown as U+FFFD.
std::string messagePath(const std::string& path);

// What a system call's errno means for `path`.
std::string systemErrorText(int error, const std::string& path);

// The runtime's own text for a file error, naming no file: the settings
// file's messages, which put the path on a line of their own.
std::string runtimeFileErrorText(int error);

// The conversion error of a text that is not a whole number (a settings
// value, a typed scale).
std::string notAnIntegerText(const std::string& text);

// Why the picture of `path` could not be loaded. A failure without a kind
// but with a technical error counts as damaged data.
std::string pictureLoadText(const LoadedPicture& loaded, const std::string& path);

// Headlines of the file actions; the reason follows on the next line.
std::string trashFailedText(const std::string& path);
std::string moveFailedText(const std::string& from, const std::string& to);
// A move across file systems that copied the file but could not remove it.
std::string copiedButKeptText(const std::string& to);
// Reasons of trash failures that are no single errno.
std::string noTrashText(const std::string& path);
std::string noTrashNameText(const std::string& path);
// What became of a file trashed to make room for a move that then failed.
std::string restoredText(const std::string& path);
std::string leftInTrashText(const std::string& path);

// An exception that ended a handler: memory and file-system errors in the
// user's words, anything else as it says itself.
std::string exceptionText(const std::exception& e);
