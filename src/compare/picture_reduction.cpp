#include "compare/picture_reduction.h"

#include <array>
#include <memory>
#include <vector>

#include "compare/row_fan_out.h"
#include "compare/similar/similar_signature.h"
#include "picture/orientation.h"

namespace {

void setFailure(PictureOutcome& out, const StreamResult& result)
{
    out.status = result.status == StreamStatus::Aborted ? PictureOutcome::Status::Interrupted
                                                        : PictureOutcome::Status::Failed;
    out.error = result.error;
    out.failure = result.failure == LoadFailure::None ? LoadFailure::Damaged : result.failure;
    out.systemError = result.systemError;
    out.hasIdentical = false;
    out.hasSimilar = false;
    out.turnedIdentical.clear();
    out.turnedSimilar.clear();
}

} // namespace

struct PictureReduction::Work {
    IdenticalSampler identical;
    // The samplers of orientations 1..7, made at the first picture that
    // wants them.
    std::vector<std::unique_ptr<IdenticalSampler>> turnedIdentical;
    SignatureGrids grids;
    SimilarSampler similar;
    SampledPicture sampled;
    RowFanOut sinks; // the sinks of the picture being streamed
    std::array<SampledPicture, kOrientationCount - 1> turnedSampled; // orientation o at [o - 1]
};

PictureReduction::PictureReduction() : m_work(std::make_unique<Work>()) {}

PictureReduction::~PictureReduction() = default;

const SampledPicture& PictureReduction::lastSimilarSampling() const
{
    return m_work->sampled;
}

void PictureReduction::reduce(const RowSource& source, Reductions wanted, PictureOutcome& out)
{
    out = PictureOutcome {};
    Work& work = *m_work;
    work.sinks.clear();
    if (wanted.identical) {
        work.sinks.add(work.identical);
        if (wanted.turned) {
            if (work.turnedIdentical.empty()) {
                for (int32_t o = 1; o < kOrientationCount; ++o)
                    work.turnedIdentical.push_back(std::make_unique<IdenticalSampler>(orientationAt(o)));
            }
            for (const auto& sampler : work.turnedIdentical)
                work.sinks.add(*sampler);
        }
    }
    if (wanted.similar)
        work.sinks.add(wanted.turned ? work.similar.firstPassTurned() : work.similar.firstPass());
    StreamResult result = source(work.sinks);
    if (!result.ok()) {
        setFailure(out, result);
        return;
    }
    out.width = work.sinks.width();
    out.height = work.sinks.height();

    if (wanted.similar && work.similar.firstPassTaken()) {
        result = wanted.turned ? work.similar.finishTurnedFrom(source, work.sampled, work.turnedSampled)
                               : work.similar.finishFrom(source, work.sampled);
        if (!result.ok()) {
            setFailure(out, result);
            return;
        }
        computeSimilarSignature(work.sampled.grid, work.sampled.planes, out.similar);
        out.hasSimilar = true;
        if (wanted.turned) {
            out.turnedSimilar.resize(kOrientationCount - 1);
            for (std::size_t k = 0; k < work.turnedSampled.size(); ++k)
                computeSimilarSignature(work.turnedSampled[k].grid, work.turnedSampled[k].planes, out.turnedSimilar[k]);
        }
    }
    if (wanted.identical && canComputeSignature(out.width, out.height)) {
        work.identical.finish(work.grids);
        out.identical = signatureOfSampledGrids(work.grids);
        out.hasIdentical = true;
        if (wanted.turned) {
            out.turnedIdentical.reserve(work.turnedIdentical.size());
            for (const auto& sampler : work.turnedIdentical) {
                sampler->finish(work.grids);
                out.turnedIdentical.push_back(signatureOfSampledGrids(work.grids));
            }
        }
    }
    out.status = PictureOutcome::Status::Loaded;
}
