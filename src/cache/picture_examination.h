#pragma once

#include <string>

#include "cache/picture_record.h"

// One decode of a picture file, reduced for both engines, so that a search
// in one picture mode leaves the other's signature in the cache as well.
PictureRecord examinePicture(const std::string& path);

// The same from a load already made (for loaders that tests put in).
PictureRecord examineLoadedPicture(const std::string& path, const LoadedPicture& loaded);
