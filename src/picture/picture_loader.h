#pragma once

#include <cstdint>
#include <string>

#include "picture/picture.h"
#include "picture/picture_limits.h"

// Which inverse DCT libjpeg uses: the comparison engines want speed, the
// review wants the best picture.
enum class JpegIdct { Fast, Accurate };

// Why a picture could not be loaded, so that a window can say it in the
// user's words and name the file.
enum class LoadFailure {
    None,
    Missing,      // the file does not exist (any more)
    AccessDenied, // no permission to read it
    NotRegular,   // a folder, FIFO or device under a picture's name
    Empty,        // zero bytes
    Damaged,      // not a picture of its kind, or broken data
    TooLarge,     // beyond the limits of picture_limits.h
    SystemError,  // any other system error; systemError holds errno
};

// A picture load either yields a picture or says why it failed; a failure is
// per-file data (the unreadable list), never an exception. `error` is the
// technical text (English, for logs and the command line).
struct LoadedPicture {
    Picture picture;
    std::string error;
    LoadFailure failure = LoadFailure::None; // Damaged when only error is set
    int systemError = 0;                     // errno, when the system refused
    bool ok() const { return error.empty(); }
};

// Loads a picture file. The format follows the extension alone (see
// picture_format.h): ".JPG" in any letter case is decoded as JPEG, ".PNG" as
// PNG, ".WEBP" as WebP, ".GIF" as GIF (its first frame), ".TIF"/".TIFF" as
// TIFF, ".HEIC"/".HEIF"/".AVIF" through libheif, ".JXL" as JPEG XL, every
// other file is read as a Windows bitmap, so a ".BMP" holding
// JPEG data fails.
LoadedPicture loadPicture(const std::string& path, JpegIdct idct);
