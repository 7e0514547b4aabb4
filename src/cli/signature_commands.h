#pragma once

#include <string>

#include "compare/picture_outcome.h"

class PictureReduction;

// `zelvic-cli signature --engine identical|similar FILE`: print the picture's
// signature as JSON on standard output. Return the exit status (0, or 1 with
// a message on standard error when the picture cannot be loaded).
int printIdenticalSignature(const std::string& path);
int printSimilarSignature(const std::string& path);

// Streams the picture at path through the search's own reduction (the same
// decoder, samplers and limits, no whole picture held) into `outcome`, with
// `reduction` when the caller reads its sampling afterwards. False, with the
// message on standard error, when the file could not be read.
bool reduceForSignature(const std::string& path, Reductions wanted, PictureOutcome& outcome,
                        PictureReduction* reduction);
