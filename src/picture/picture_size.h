#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "picture/picture_loader.h"

// A picture's size as its file header gives it.
struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Reads the size from the header without decoding: a ".JPG" file (extension
// in any letter case) by its markers up to the first scan, a ".PNG" file by
// its IHDR chunk a ".WEBP" file by its first chunks and a ".GIF" file by its logical
// screen, a ".TIF"/".TIFF" file by its first directory, a ".HEIC"/".HEIF"/".AVIF"
// file by its boxes, as libheif reads them, a ".JXL" file by its header (their full sides, after rotation), every other file as
// a Windows bitmap, each value the unsigned 16-bit number of the header (a
// top-down bitmap of height -200 reads 65336). This is the size the
// picture-size comparison compares. A file without a readable size gives
// 0 x 0. Nothing when
// the file cannot be opened or is not a regular file (a FIFO is not waited
// for).
std::optional<PictureSize> ReadPictureSize(const std::string& path);

// The size a picture decodes to, from its header without decoding, for laying
// it out before its pixels arrive: a ".JPG" file's frame size, a ".PNG"
// file's IHDR size, a ".WEBP" or ".GIF" file's; a bitmap's as
// the bitmap reader gives it (32-bit sides, a top-down bitmap's rows counted),
// unlike the 16-bit values above. Nothing, with `failure` saying why, when
// the file cannot be opened, is not a regular file, is empty, its header
// gives no size, or the picture is beyond the limits of picture_limits.h as
// far as its header and length tell (refused as a decode refuses it).
std::optional<PictureSize> ReadShownSize(const std::string& path, LoadedPicture& failure);
