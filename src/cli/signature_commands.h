#pragma once

#include <string>

// `zelvic-cli signature --engine identical|similar FILE`: print the picture's
// signature as JSON on standard output. Return the exit status (0, or 1 with
// a message on standard error when the picture cannot be loaded).
int printIdenticalSignature(const std::string& path);
int printSimilarSignature(const std::string& path);
