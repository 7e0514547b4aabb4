#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "compare/picture_rows.h"
#include "picture/picture.h"
#include "picture/picture_stream.h"

// The similar-picture engine looks at every picture through a 70 x 70 grid,
// indexed [x][y] (x the column from the left). Cells 1 to 68 are sampled; the
// rim cells 0 and 69 stay zero.
inline constexpr int32_t kSimilarGridSize = 70;
inline constexpr int32_t kFirstSampledCell = 1;
inline constexpr int32_t kLastSampledCell = 68;

// Smallest picture the 3 x 3 pixel blocks of the sampling fit into.
inline constexpr int32_t kMinSimilarPictureSide = 3;

template <typename T>
using SimilarGrid = std::array<std::array<T, kSimilarGridSize>, kSimilarGridSize>;

struct GridColour {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};

using ColourGrid = SimilarGrid<GridColour>;

// A pixel window of the picture: columns x0..x1, rows y0..y1.
struct PixelWindow {
    int32_t x0 = 0;
    int32_t x1 = 0;
    int32_t y0 = 0;
    int32_t y1 = 0;
};

// Grid indices where the picture's content begins and ends once a uniform
// frame is cut away. The defaults are what a picture without a frame keeps.
struct FrameEdges {
    int32_t left = 4;
    int32_t right = 66;
    int32_t top = 4;
    int32_t bottom = 66;
};

struct SimilarPlanes {
    SimilarGrid<uint8_t> luma {};
    SimilarGrid<uint8_t> chroma {};
    SimilarGrid<int32_t> hue {}; // degrees, 0..359
};

// Everything the signature is made from: the (possibly resampled) grid, its
// planes, and the frame found on the first grid.
struct SampledPicture {
    ColourGrid grid {};
    FrameEdges frame;
    bool resampled = false;
    SimilarPlanes planes;
};

// The grid sampling as a RowSink: it asks only for the rows of the 3 x 3
// blocks (at most 204) and keeps only their sums. Reusable.
class SimilarGridSink : public RowSink {
public:
    SimilarGridSink();

    // The next picture is sampled over its whole area.
    void sampleWhole();
    // The next picture is sampled over `window` of a width x height picture;
    // a picture of another size is refused.
    void sampleWindow(PixelWindow window, int32_t width, int32_t height);

    // Refuses a picture smaller than 3 x 3 pixels.
    bool begin(int32_t width, int32_t height) override;
    bool wantsRow(int32_t y) const override;
    void row(int32_t y, const uint8_t* bgr) override;

    // Whether begin() accepted the picture.
    bool began() const { return m_began; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }

    // Fills cells 1..68 from the sums; returns the BlackLevel, the smallest
    // block-average channel met.
    int32_t finish(ColourGrid& grid) const;

private:
    struct RowUse {
        int32_t row; // picture row
        int32_t y;   // grid cell row it is summed into
    };

    bool m_whole = true;
    PixelWindow m_window;
    bool m_began = false;
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::vector<RowUse> m_uses;         // ascending by picture row
    std::vector<int32_t> m_rows;        // the distinct wanted rows, ascending
    std::vector<int32_t> m_columnBytes; // per cell column, the byte offset of its first pixel
    std::vector<int32_t> m_sums;        // [y][x][b, g, r], cells 1..68 at 0..67
    std::size_t m_next = 0;
};

// Fills cells 1..68 from 3 x 3 pixel blocks of the window; returns the
// BlackLevel, the smallest block-average channel met. The picture must be at
// least 3 x 3 pixels.
int32_t sampleColourGrid(const Picture& picture, PixelWindow window, ColourGrid& grid);

// Spreads the channel values of cells 1..68 so that BlackLevel becomes 0; only
// for 25 < BlackLevel < 255.
void stretchColourGrid(ColourGrid& grid, int32_t blackLevel);

FrameEdges findFrameEdges(const ColourGrid& grid);

// A frame counts only when it brings the content below 60 cells on an axis.
bool frameNeedsResampling(const FrameEdges& frame);

// The pixel window of the content inside the frame.
PixelWindow contentWindow(int32_t width, int32_t height, const FrameEdges& frame);

// Hue in degrees (0..359) of an RGB colour; 0 for a grey.
int32_t hueOf(int32_t r, int32_t g, int32_t b);

// Luminance, chroma and hue of cells 1..68.
void derivePlanes(const ColourGrid& grid, SimilarPlanes& planes);

// The whole sampling of one picture, in steps around the streaming of its
// rows: the first pass over the whole picture; then stretch and frame; for a
// framed picture a second pass over the content window, whose rows cannot be
// known before the first pass has ended; then the planes.
class SimilarSampler {
public:
    // The sink for the first pass; starts a new picture.
    RowSink& firstPass();
    // Whether the first pass took the picture (it is at least 3 x 3).
    bool firstPassTaken() const { return m_sink.began(); }
    // After the first pass: stretch and frame into `out`. Returns the sink to
    // stream the picture into again, or null when one pass is enough.
    RowSink* afterFirstPass(SampledPicture& out);
    // After the second pass, if any: the planes. False when the second pass
    // did not see the same picture (the file changed in between).
    bool finish(SampledPicture& out);

private:
    SimilarGridSink m_sink;
};

// The whole sampling of one picture: grid, stretch, frame, second sampling
// from the content window when the frame is wide enough, planes. The source is
// streamed once, or twice for a framed picture; a failed stream is returned,
// and a picture too small to sample fails as Damaged.
StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out);
void samplePicture(const Picture& picture, SampledPicture& out);
