#pragma once

#include <string>

// The checks the picture fuzz targets make on one file: it loads or fails
// without harm, streaming it gives the rows of the whole-picture load (or the
// same failure), and both signatures come out the same with fresh and with
// reused working grids (a grid cell read before it is written would differ).
void checkPictureFile(const std::string& path);

// checkPictureFile, and the size the scan reads from the header must be the
// decoded picture's.
void checkPictureFileAndHeaderSize(const std::string& path);
