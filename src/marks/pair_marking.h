#pragma once

#include <string>

// What marking one pair came to.
struct PairMarking {
    bool done = false;   // the mark is kept (new, or there already)
    bool added = false;  // it is new
    std::string problem; // why not, when not done (without the files' names)
};

// Marks the pictures in files a and b as not the same in the signature
// cache's database `databaseFile` (made when missing, with its folder when
// createFolder, and checked to be Zelvic's cache first). Two files of the
// same content are refused.
PairMarking markPairNotSame(const std::string& databaseFile, const std::string& a, const std::string& b,
                            bool createFolder = true);
