#pragma once

#include "compare/picture_rows.h"
#include "compare/similar/similar_grid_sink.h"
#include "compare/similar/similar_sampling.h"
#include "picture/picture_stream.h"

// The whole sampling of one picture, in steps around the streaming of its
// rows: the first pass over the whole picture; then stretch and frame; for a
// framed picture a second pass over the content window, whose rows cannot be
// known before the first pass has ended; then the planes.
class SimilarSampler {
public:
    // The sink for the first pass; starts a new picture. A caller may stream
    // it together with other sinks.
    RowSink& firstPass();
    // Whether the first pass took the picture (it is at least 3 x 3).
    bool firstPassTaken() const { return m_sink.began(); }
    // Everything after the first pass, into `out`: stretch and frame, the
    // second pass from `source` when the frame asks for it, the planes. A
    // failed second pass is returned; so is a picture the first pass did not
    // take (too small to sample), and one that the second pass found changed.
    StreamResult finishFrom(const RowSource& source, SampledPicture& out);

private:
    SimilarGridSink m_sink;
};

// The whole sampling from a source that is streamed once, or twice for a
// framed picture. A failed stream is returned; a picture too small to sample
// fails as Damaged.
StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out);
