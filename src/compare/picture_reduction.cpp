#include "compare/picture_reduction.h"

#include <array>

#include "compare/similar/similar_signature.h"

namespace {

// Hands one stream to two sinks; each sees only the rows it wants.
class TeeSink : public RowSink {
public:
    TeeSink(RowSink* first, RowSink* second) : m_sinks {first, second} {}

    bool begin(int32_t width, int32_t height) override
    {
        m_width = width;
        m_height = height;
        bool any = false;
        for (RowSink*& sink : m_sinks) {
            if (sink != nullptr && !sink->begin(width, height))
                sink = nullptr;
            any = any || sink != nullptr;
        }
        return any;
    }

    bool wantsRow(int32_t y) const override
    {
        for (RowSink* sink : m_sinks) {
            if (sink != nullptr && sink->wantsRow(y))
                return true;
        }
        return false;
    }

    void row(int32_t y, const uint8_t* bgr) override
    {
        for (RowSink* sink : m_sinks) {
            if (sink != nullptr && sink->wantsRow(y))
                sink->row(y, bgr);
        }
    }

    bool needsWholeFile() const override
    {
        for (RowSink* sink : m_sinks) {
            if (sink != nullptr && sink->needsWholeFile())
                return true;
        }
        return false;
    }

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }

private:
    RowSink* m_sinks[2];
    int32_t m_width = 0;
    int32_t m_height = 0;
};

void setFailure(PictureOutcome& out, const StreamResult& result)
{
    out.status = result.status == StreamStatus::Aborted ? PictureOutcome::Status::Interrupted
                                                        : PictureOutcome::Status::Failed;
    out.error = result.error;
    out.failure = result.failure == LoadFailure::None ? LoadFailure::Damaged : result.failure;
    out.systemError = result.systemError;
    out.hasIdentical = false;
    out.hasSimilar = false;
}

} // namespace

struct PictureReduction::Work {
    IdenticalSampler identical;
    SignatureGrids grids;
    SimilarSampler similar;
    SampledPicture sampled;
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
    RowSink* similarSink = nullptr;
    if (wanted.similar)
        similarSink = wanted.turned ? &work.similar.firstPassTurned() : &work.similar.firstPass();
    TeeSink tee(wanted.identical ? &work.identical : nullptr, similarSink);
    StreamResult result = source(tee);
    if (!result.ok()) {
        setFailure(out, result);
        return;
    }
    out.width = tee.width();
    out.height = tee.height();

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
    }
    out.status = PictureOutcome::Status::Loaded;
}
