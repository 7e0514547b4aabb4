#pragma once

#include <optional>
#include <string>
#include <string_view>

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
