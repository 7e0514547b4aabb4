#include "compare/similar/similar_sampler.h"

#include <cstddef>
#include <utility>

namespace {

// The orientations that keep the sides, each with the one whose grid is its
// grid transposed (the picture turned that way is the other one transposed).
constexpr std::array<std::pair<Orientation, Orientation>, 4> kTransposedPairs {{
    {Orientation::Upright, Orientation::MirroredTurned270},
    {Orientation::Turned180, Orientation::MirroredTurned90},
    {Orientation::Mirrored, Orientation::Turned270},
    {Orientation::MirroredTurned180, Orientation::Turned90},
}};

std::size_t slot(Orientation orientation)
{
    return static_cast<std::size_t>(orientation);
}

void transposeGrid(const ColourGrid& from, ColourGrid& to)
{
    for (int32_t x = 0; x < kSimilarGridSize; ++x) {
        for (int32_t y = 0; y < kSimilarGridSize; ++y)
            to[x][y] = from[y][x];
    }
}

StreamResult tooSmall()
{
    return {StreamStatus::Failed, "picture too small to sample", LoadFailure::Damaged};
}

StreamResult changed()
{
    return {StreamStatus::Failed, "picture changed while it was read", LoadFailure::Damaged};
}

} // namespace

RowSink& SimilarSampler::firstPass()
{
    m_sinks[0].sampleWhole();
    return m_sinks[0];
}

RowSink& SimilarSampler::firstPassTurned()
{
    m_fanOut.clear();
    for (const auto& [kept, transposed] : kTransposedPairs) {
        m_sinks[slot(kept)].sampleWhole(kept);
        m_fanOut.add(m_sinks[slot(kept)]);
    }
    return m_fanOut;
}

StreamResult SimilarSampler::finishFrom(const RowSource& source, SampledPicture& out)
{
    SimilarGridSink& sink = m_sinks[0];
    if (!sink.began())
        return tooSmall();
    out.grid = ColourGrid {};
    stretchColourGrid(out.grid, sink.finish(out.grid));
    out.frame = findFrameEdges(out.grid);
    out.resampled = frameNeedsResampling(out.frame);
    if (out.resampled) {
        const int32_t width = sink.width();
        const int32_t height = sink.height();
        sink.sampleWindow(contentWindow(width, height, out.frame), width, height);
        const StreamResult result = source(sink);
        if (!result.ok())
            return result;
        // The sink refuses a picture of another size than the first pass saw.
        if (!sink.began())
            return changed();
        stretchColourGrid(out.grid, sink.finish(out.grid));
    }
    out.planes = SimilarPlanes {};
    derivePlanes(out.grid, out.planes);
    return {};
}

StreamResult SimilarSampler::finishTurnedFrom(const RowSource& source, SampledPicture& out,
                                               std::array<SampledPicture, kOrientationCount - 1>& turned)
{
    if (!m_sinks[0].began())
        return tooSmall();
    const int32_t width = m_sinks[0].width();
    const int32_t height = m_sinks[0].height();
    const auto sampledOf = [&](Orientation o) -> SampledPicture& {
        return o == Orientation::Upright ? out : turned[slot(o) - 1];
    };

    for (const auto& [kept, transposed] : kTransposedPairs) {
        SampledPicture& first = sampledOf(kept);
        first.grid = ColourGrid {};
        const int32_t blackLevel = m_sinks[slot(kept)].finish(first.grid);
        transposeGrid(first.grid, sampledOf(transposed).grid);
        stretchColourGrid(first.grid, blackLevel);
        stretchColourGrid(sampledOf(transposed).grid, blackLevel);
    }

    m_fanOut.clear();
    bool resampled = false;
    for (int32_t i = 0; i < kOrientationCount; ++i) {
        const Orientation o = orientationAt(i);
        SampledPicture& sampled = sampledOf(o);
        sampled.frame = findFrameEdges(sampled.grid);
        sampled.resampled = frameNeedsResampling(sampled.frame);
        if (sampled.resampled) {
            resampled = true;
            const bool swapped = swapsSides(o);
            const PixelWindow window =
                contentWindow(swapped ? height : width, swapped ? width : height, sampled.frame);
            m_sinks[slot(o)].sampleWindow(window, width, height, o);
            m_fanOut.add(m_sinks[slot(o)]);
        }
    }
    if (resampled) {
        const StreamResult result = source(m_fanOut);
        if (!result.ok())
            return result;
        for (int32_t i = 0; i < kOrientationCount; ++i) {
            SampledPicture& sampled = sampledOf(orientationAt(i));
            if (!sampled.resampled)
                continue;
            const SimilarGridSink& sink = m_sinks[static_cast<std::size_t>(i)];
            if (!sink.began())
                return changed();
            stretchColourGrid(sampled.grid, sink.finish(sampled.grid));
        }
    }
    for (int32_t i = 0; i < kOrientationCount; ++i) {
        SampledPicture& sampled = sampledOf(orientationAt(i));
        sampled.planes = SimilarPlanes {};
        derivePlanes(sampled.grid, sampled.planes);
    }
    return {};
}

StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out)
{
    const StreamResult result = source(sampler.firstPass());
    if (!result.ok())
        return result;
    return sampler.finishFrom(source, out);
}
