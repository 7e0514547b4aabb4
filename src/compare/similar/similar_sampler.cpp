#include "compare/similar/similar_sampler.h"

RowSink& SimilarSampler::firstPass()
{
    m_sink.sampleWhole();
    return m_sink;
}

RowSink* SimilarSampler::afterFirstPass(SampledPicture& out)
{
    out.grid = ColourGrid {};
    stretchColourGrid(out.grid, m_sink.finish(out.grid));
    out.frame = findFrameEdges(out.grid);
    out.resampled = frameNeedsResampling(out.frame);
    if (!out.resampled)
        return nullptr;
    const int32_t width = m_sink.width();
    const int32_t height = m_sink.height();
    m_sink.sampleWindow(contentWindow(width, height, out.frame), width, height);
    return &m_sink;
}

bool SimilarSampler::finish(SampledPicture& out)
{
    if (out.resampled) {
        if (!m_sink.began())
            return false;
        stretchColourGrid(out.grid, m_sink.finish(out.grid));
    }
    out.planes = SimilarPlanes {};
    derivePlanes(out.grid, out.planes);
    return true;
}

StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out)
{
    StreamResult result = source(sampler.firstPass());
    if (!result.ok())
        return result;
    if (!sampler.firstPassTaken())
        return {StreamStatus::Failed, "picture too small to sample", LoadFailure::Damaged};
    if (RowSink* second = sampler.afterFirstPass(out)) {
        result = source(*second);
        if (!result.ok())
            return result;
    }
    if (!sampler.finish(out))
        return {StreamStatus::Failed, "picture changed while it was read", LoadFailure::Damaged};
    return result;
}
