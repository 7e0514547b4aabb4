#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compare/identical/identical_signature.h"
#include "compare/similar/similar_signature.h"

// Compact byte forms of both engines' signatures for the cache. Decoding
// checks the length and every value's range, so a damaged blob is refused
// rather than turned into a wrong signature.

std::string encodeIdenticalSignature(const IdenticalSignature& signature);
std::optional<IdenticalSignature> decodeIdenticalSignature(std::string_view bytes);

// Nothing when the signature holds a value the compact form has no room for
// (it is then simply not cached).
std::optional<std::string> encodeSimilarSignature(const SimilarSignature& signature);
std::optional<SimilarSignature> decodeSimilarSignature(std::string_view bytes);

// The signatures of orientations 1..7 of one engine (exactly seven, in
// orientation order) in one blob, which the cache keeps apart from the
// upright ones. Nothing for another count, or, for the similar engine, a
// value the compact form has no room for.
std::optional<std::string> encodeTurnedIdentical(const std::vector<IdenticalSignature>& signatures);
std::optional<std::vector<IdenticalSignature>> decodeTurnedIdentical(std::string_view bytes);
std::optional<std::string> encodeTurnedSimilar(const std::vector<SimilarSignature>& signatures);
std::optional<std::vector<SimilarSignature>> decodeTurnedSimilar(std::string_view bytes);
