#include "compare/picture_reduction.h"

#include <memory>
#include <vector>

#include "compare/similar/similar_signature.h"
#include "picture/orientation.h"

namespace {

// Hands one stream to a list of sinks; each sees only the rows it wants. A
// sink whose begin() declines is dropped from the list for that picture.
class TeeSink : public RowSink {
public:
    explicit TeeSink(std::vector<RowSink*>& sinks) : m_sinks(sinks) {}

    bool begin(int32_t width, int32_t height) override
    {
        m_width = width;
        m_height = height;
        std::erase_if(m_sinks, [&](RowSink* sink) { return sink == nullptr || !sink->begin(width, height); });
        return !m_sinks.empty();
    }

    bool wantsRow(int32_t y) const override
    {
        for (RowSink* sink : m_sinks) {
            if (sink->wantsRow(y))
                return true;
        }
        return false;
    }

    void row(int32_t y, const uint8_t* bgr) override
    {
        for (RowSink* sink : m_sinks) {
            if (sink->wantsRow(y))
                sink->row(y, bgr);
        }
    }

    bool needsWholeFile() const override
    {
        for (RowSink* sink : m_sinks) {
            if (sink->needsWholeFile())
                return true;
        }
        return false;
    }

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }

private:
    std::vector<RowSink*>& m_sinks;
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
    std::vector<RowSink*> sinks; // the sinks of the picture being streamed
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
        work.sinks.push_back(&work.identical);
        if (wanted.turned) {
            if (work.turnedIdentical.empty()) {
                for (int32_t o = 1; o < kOrientationCount; ++o)
                    work.turnedIdentical.push_back(std::make_unique<IdenticalSampler>(orientationAt(o)));
            }
            for (const auto& sampler : work.turnedIdentical)
                work.sinks.push_back(sampler.get());
        }
    }
    if (wanted.similar)
        work.sinks.push_back(&work.similar.firstPass());
    TeeSink tee(work.sinks);
    StreamResult result = source(tee);
    if (!result.ok()) {
        setFailure(out, result);
        return;
    }
    out.width = tee.width();
    out.height = tee.height();

    if (wanted.similar && work.similar.firstPassTaken()) {
        result = work.similar.finishFrom(source, work.sampled);
        if (!result.ok()) {
            setFailure(out, result);
            return;
        }
        computeSimilarSignature(work.sampled.grid, work.sampled.planes, out.similar);
        out.hasSimilar = true;
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
