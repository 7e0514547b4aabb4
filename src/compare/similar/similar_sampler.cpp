#include "compare/similar/similar_sampler.h"

RowSink& SimilarSampler::firstPass()
{
    m_sink.sampleWhole();
    return m_sink;
}

StreamResult SimilarSampler::finishFrom(const RowSource& source, SampledPicture& out)
{
    if (!m_sink.began())
        return {StreamStatus::Failed, "picture too small to sample", LoadFailure::Damaged};
    out.grid = ColourGrid {};
    stretchColourGrid(out.grid, m_sink.finish(out.grid));
    out.frame = findFrameEdges(out.grid);
    out.resampled = frameNeedsResampling(out.frame);
    if (out.resampled) {
        const int32_t width = m_sink.width();
        const int32_t height = m_sink.height();
        m_sink.sampleWindow(contentWindow(width, height, out.frame), width, height);
        const StreamResult result = source(m_sink);
        if (!result.ok())
            return result;
        // The sink refuses a picture of another size than the first pass saw.
        if (!m_sink.began())
            return {StreamStatus::Failed, "picture changed while it was read", LoadFailure::Damaged};
        stretchColourGrid(out.grid, m_sink.finish(out.grid));
    }
    out.planes = SimilarPlanes {};
    derivePlanes(out.grid, out.planes);
    return {};
}

StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out)
{
    const StreamResult result = source(sampler.firstPass());
    if (!result.ok())
        return result;
    return sampler.finishFrom(source, out);
}
