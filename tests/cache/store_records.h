#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cache/signature_store.h"

// Records and cache files for the signature store tests.
namespace store_records {

// A version seen long after its last change, so that it may be kept.
FileVersion settledVersion(uint64_t inode = 7);

// A decoded picture's record with both engines' signatures; pictures of
// different numbers differ.
PictureOutcome decodedRecord(uint32_t seed);

PictureOutcome failedRecord(LoadFailure failure, const std::string& error);

inline constexpr Reductions kIdenticalOnly {true, false};
inline constexpr Reductions kSimilarOnly {false, true};

// The warnings a store gives, collected.
struct Warnings {
    std::vector<std::string> messages;
    CacheWarning sink();
};

std::string readAll(const std::string& path);

// A cache file holding one decoded record under `path`.
void fillCache(const std::string& file, const std::string& path);

// Runs `sql` on the cache file behind the store's back; SQLite's result.
int runSql(const std::string& file, const std::string& sql);

// Exactly one warning, and it says `says`.
void expectOneWarning(const Warnings& warnings, const std::string& says);

// "p" and the number (appended: GCC 12 warns wrongly of "p" + string).
std::string numbered(uint64_t i);

} // namespace store_records
