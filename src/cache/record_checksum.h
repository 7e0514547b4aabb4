#pragma once

#include <cstdint>
#include <string_view>

#include "cache/file_version.h"
#include "picture/picture_loader.h"

// A 64-bit FNV-1a over a cache record's content. SQLite checks its pages'
// structure, not the bytes inside a value, so a damaged blob is caught by
// comparing this with the checksum kept beside the record.
int64_t recordChecksum(int64_t decoder, int32_t identicalVersion, int32_t similarVersion, int32_t width,
                       int32_t height, LoadFailure failure, std::string_view error, std::string_view identical,
                       std::string_view similar);

// The checksum kept beside a header size read by ReadPictureSize version
// `reader`: the records' own, bound to its key in the same way.
int64_t headerSizeChecksum(std::string_view path, const FileVersion& version, int32_t reader, int32_t width,
                           int32_t height);

// The content sum of a row of turned signatures, of the same kind as a
// record's but taken eight bytes at a step.
int64_t turnedChecksum(int64_t decoder, int32_t identicalVersion, int32_t similarVersion, std::string_view identical,
                       std::string_view similar);

// The checksum kept beside a record: its content's sum bound to the record's
// key, the path and the file version it describes. A record copied onto
// another file's row then fails its check like a damaged one.
int64_t keyedChecksum(std::string_view path, const FileVersion& version, int64_t contentChecksum);

// `base` and a text of library versions in one number, for a version field
// that is only ever compared for equality.
int64_t versionsChecksum(int64_t base, std::string_view libraries);
