#pragma once

#include <string>

// The versions of the libraries that read the formats beyond JPEG and BMP
// (libpng, libwebp, libtiff, giflib, libheif, libjxl), as loaded at run time
// where the library says so: a signature kept for a picture one of them
// decoded holds only while the same versions read it.
std::string formatLibraryVersions();
