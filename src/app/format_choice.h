#pragma once

#include <string>

#include "picture/picture_format.h"

// The window's choice of picture formats, kept in a file of its own in the
// configuration folder (one line, as --formats takes it), apart from
// Zelvic.ini, which keeps what the original program kept.
namespace format_choice {

inline constexpr const char* kFileName = "formats";

// The formats kept in `folder`; the default set when there is no file or it
// does not hold a list this build can read.
PictureFormats read(const std::string& folder);

// Keeps `formats` in `folder`, making the folder when needed. Returns false
// when the file cannot be written; the choice then lasts until the window
// closes.
bool write(const std::string& folder, const PictureFormats& formats);

} // namespace format_choice
