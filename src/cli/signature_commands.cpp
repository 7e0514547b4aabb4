#include "cli/signature_commands.h"

#include <cstdio>
#include <optional>

#include "compare/picture_reduction.h"
#include "picture/picture_stream.h"

bool reduceForSignature(const std::string& path, Reductions wanted, PictureOutcome& outcome,
                        PictureReduction* reduction)
{
    std::optional<PictureReduction> own;
    if (reduction == nullptr)
        reduction = &own.emplace();
    PictureStreamer streamer;
    // The search's decoding (the fast inverse DCT), so that the numbers are the search's.
    const StreamOptions options;
    const RowSource source = [&](RowSink& sink) { return streamer.stream(path, sink, options); };
    reduction->reduce(source, wanted, outcome);
    if (outcome.status == PictureOutcome::Status::Loaded)
        return true;
    std::fprintf(stderr, "zelvic-cli: %s: %s\n", path.c_str(), outcome.error.empty() ? "aborted" : outcome.error.c_str());
    return false;
}
