#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compare/identical/identical_signature.h"
#include "compare/similar/similar_signature.h"
#include "picture/picture_loader.h"
#include "search/file_table.h"

// Which engines' reductions a decode feeds. One decode can fill both.
struct Reductions {
    bool identical = false;
    bool similar = false;
    // Also the signatures of the seven other orientations of each engine
    // above, taken in the same decode.
    bool turned = false;
};

// What reading one file gave: a load failure, or the picture's size and the
// signatures of the reductions that ran (a reduction leaves its signature out
// when the picture is too small for it).
struct PictureOutcome {
    enum class Status : uint8_t {
        Failed,      // the file could not be read or decoded
        Loaded,      // read to the end
        Interrupted, // the abort flag ended the read: nothing is known
    };
    Status status = Status::Interrupted;
    std::string error; // when Failed
    LoadFailure failure = LoadFailure::None;
    int systemError = 0;

    int32_t width = 0;
    int32_t height = 0;
    bool hasIdentical = false;
    IdenticalSignature identical;
    bool hasSimilar = false;
    SimilarSignature similar;
    // With Reductions::turned: the signatures of the picture turned to
    // orientations 1..7 (at [orientation - 1]), of each engine whose upright
    // signature is here; empty otherwise.
    std::vector<IdenticalSignature> turnedIdentical;
    std::vector<SimilarSignature> turnedSimilar;

    bool fromCache = false; // supplied by OutcomeCache::lookup, not decoded
    // Signatures the cache keeps for this version of the file but left
    // undecoded, because the search does not read them.
    Reductions kept;

    // Whether this outcome serves every reduction of `wanted`.
    bool covers(Reductions wanted) const
    {
        if (status == Status::Failed)
            return true;
        if (status != Status::Loaded)
            return false;
        // The turned signatures go with the upright ones: a picture too small
        // for an engine has neither.
        const bool turnedKept = !wanted.turned || kept.turned || !turnedIdentical.empty() || !turnedSimilar.empty();
        return (!wanted.identical || hasIdentical || kept.identical || !canComputeSignature(width, height))
            && (!wanted.similar || hasSimilar || kept.similar || width < kMinSimilarPictureSide
                || height < kMinSimilarPictureSide)
            && (turnedKept || (!hasIdentical && !kept.identical && !hasSimilar && !kept.similar));
    }
};

// The hook through which a store of outcomes kept between searches (the
// signature cache) takes part in the load pipeline. With a cache attached,
// every decode runs both engines' reductions, so that a search in one picture
// mode leaves the other's signatures ready too.
//
// - lookup() runs on the worker threads, several at once, before a file is
//   decoded (and on the committing thread for a file whose read an abort cut
//   short). Returning true with `outcome` set to a Failed or Loaded outcome
//   that covers `wanted` spares the decode; the pipeline then commits it like
//   a fresh one (its fromCache set). Only the signatures of `read` (part of
//   `wanted`) need be decoded; the others it may merely find kept. Returning
//   false lets the file be decoded. Workers run ahead of the commit, so after
//   an abort some files are looked up that are never committed.
// - store() runs on the committing thread only, one file at a time in
//   FileTable order, for each freshly decoded Failed or Loaded outcome that
//   is committed: never for a cache hit, nor for the picture at which an
//   abort ends the phase. A store may therefore batch its writes and needs no
//   lock of its own for them.
// Neither may throw. SearchCounters::cacheHits and cacheMisses count the
// committed outcomes that came from the cache and those decoded.
class OutcomeCache {
public:
    virtual ~OutcomeCache() = default;
    virtual bool lookup(const File_rec& file, Reductions wanted, Reductions read, PictureOutcome& outcome) = 0;
    virtual void store(const File_rec& file, const PictureOutcome& outcome) = 0;
    // A load phase has ended: nothing is looked up until the next one.
    virtual void loadingEnded() {}
};
