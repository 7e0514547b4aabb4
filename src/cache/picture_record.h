#pragma once

#include <optional>
#include <string>

#include "compare/identical/identical_signature.h"
#include "compare/similar/similar_signature.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"

// What one look at a picture file gives the engines, as the signature cache
// keeps it: either why the file could not be loaded, or each engine's
// signature. An engine's part is "known" once its reduction ran; a known part
// without a signature is a picture too small for that engine.
struct PictureRecord {
    LoadFailure failure = LoadFailure::None;
    std::string error; // the load's text, when it failed
    PictureSize header; // the size the file's header gives (0 x 0 when it has none)

    bool identicalKnown = false;
    std::optional<IdenticalSignature> identical;
    bool similarKnown = false;
    std::optional<SimilarSignature> similar;

    bool failed() const { return failure != LoadFailure::None; }
};

// Which engine a search needs a record for.
enum class SignatureKind { Identical, Similar };

// Whether the record answers for that engine without decoding the file.
inline bool answers(const PictureRecord& record, SignatureKind kind)
{
    return record.failed() || (kind == SignatureKind::Identical ? record.identicalKnown : record.similarKnown);
}

// Failures worth remembering: those that only a change of the file can mend.
// A missing file has no version, a refused read or a system error may pass.
inline bool isLastingFailure(LoadFailure failure)
{
    return failure == LoadFailure::Damaged || failure == LoadFailure::Empty || failure == LoadFailure::TooLarge
           || failure == LoadFailure::NotRegular;
}
