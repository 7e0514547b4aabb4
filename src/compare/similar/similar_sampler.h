#pragma once

#include <array>

#include "compare/picture_rows.h"
#include "compare/row_fan_out.h"
#include "compare/similar/similar_grid_sink.h"
#include "compare/similar/similar_sampling.h"
#include "picture/orientation.h"
#include "picture/picture_stream.h"

// The whole sampling of one picture, in steps around the streaming of its
// rows: the first pass over the whole picture; then stretch and frame; for a
// framed picture a second pass over the content window, whose rows cannot be
// known before the first pass has ended; then the planes.
//
// It can also sample the picture in all eight orientations from the same
// streams: what each gives is exactly the sampling of the turned picture.
class SimilarSampler {
public:
    // The sink for the first pass; starts a new picture. A caller may stream
    // it together with other sinks.
    RowSink& firstPass();
    // The same for all eight orientations.
    RowSink& firstPassTurned();
    // Whether the first pass took the picture (it is at least 3 x 3).
    bool firstPassTaken() const { return m_sinks[0].began(); }
    // Everything after the first pass, into `out`: stretch and frame, the
    // second pass from `source` when the frame asks for it, the planes. A
    // failed second pass is returned; so is a picture the first pass did not
    // take (too small to sample), and one that the second pass found changed.
    StreamResult finishFrom(const RowSource& source, SampledPicture& out);
    // The same after firstPassTurned(): the upright sampling into `out`, the
    // other orientations o into turned[o - 1]. One second pass serves every
    // orientation whose frame asks for it.
    StreamResult finishTurnedFrom(const RowSource& source, SampledPicture& out,
                                  std::array<SampledPicture, kOrientationCount - 1>& turned);

private:
    // Indexed by orientation. The first pass of all eight streams into the
    // four that keep the sides; each of the other four reads the same blocks,
    // its grid their grid transposed. A second pass uses any of them.
    std::array<SimilarGridSink, kOrientationCount> m_sinks;
    RowFanOut m_fanOut;
};

// The whole sampling from a source that is streamed once, or twice for a
// framed picture. A failed stream is returned; a picture too small to sample
// fails as Damaged.
StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out);
