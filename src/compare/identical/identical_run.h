#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "compare/identical/identical_match.h"
#include "picture/picture_loader.h"
#include "search/engine_context.h"

// Loads one member's picture. The engine uses loadPicture with the fast
// inverse DCT; tests put their own in to act while a picture loads.
using PictureLoadFunction = std::function<LoadedPicture(const std::string& path)>;

// The identical-picture engine over one EngineContext: the per-file phase
// (load, signature, unreadable list) and the pair phase (decisions, result
// lines). The signatures live for one call; nothing is kept afterwards.
class IdenticalRun {
public:
    explicit IdenticalRun(EngineContext& ctx, PictureLoadFunction load = {});

    // Every file of the table is a member.
    void wholeTable();

    // One call per run, in order; stops after the run in which the abort
    // flag is seen, as the driver's run loop does.
    void runs(const std::vector<std::vector<int32_t>>& runs);

private:
    struct Members {
        std::vector<int32_t> files;              // FileTable indices, member order
        std::vector<PairSignature> signatures;   // per member, set when it loaded
        std::vector<uint8_t> loaded;             // per member: signature present
    };

    // The per-file phase over members.files; commits the unreadable list,
    // Skip and LoadCount in member order. False when it was left on abort.
    bool loadMembers(Members& members, int64_t progressBase, int64_t progressTotal);

    // The pair phase over the members that loaded and are not skipped
    // (their signatures are moved to the front of `signatures`): the result
    // lines in pair order. Touches no counter, so runs may be decided side by
    // side.
    std::vector<std::string> decidePairs(std::span<const int32_t> files, std::span<PairSignature> signatures,
                                         std::span<const uint8_t> loaded, const MatchLimits& limits, int32_t jobs,
                                         bool reportProgress) const;

    void appendLines(std::vector<std::string>&& lines);

    EngineContext& m_ctx;
    PictureLoadFunction m_load;
    int32_t m_jobs;
};
