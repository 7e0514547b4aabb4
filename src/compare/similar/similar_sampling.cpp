#include "compare/similar/similar_sampling.h"

#include <algorithm>
#include <cstdlib>

#include "compare/colour_tone.h"
#include "compare/picture_rows.h"
#include "compare/similar/similar_grid_sink.h"
#include "compare/similar/similar_sampler.h"

namespace {

// Darkest block average up to which a grid is taken as it is: stretching a
// picture that already reaches near-black would only amplify noise.
constexpr int32_t kStretchThreshold = 25;

// Two frame cells agree when no channel differs by more than this.
constexpr int32_t kFrameTolerance = 14;

// A frame edge is looked for from cell 4 to cell 25 in from each side.
constexpr int32_t kFrameSearchFirst = 4;
constexpr int32_t kFrameSearchLast = 25;
constexpr int32_t kFrameSearchStartRight = kSimilarGridSize - kFrameSearchFirst; // 66
constexpr int32_t kFrameSearchStopRight = kSimilarGridSize - kFrameSearchLast; // 45

// Content narrower than this many cells is worth sampling again.
constexpr int32_t kMinContentCells = 60;

bool cellsAgree(const GridColour& a, const GridColour& b)
{
    return std::abs(a.r - b.r) <= kFrameTolerance && std::abs(a.g - b.g) <= kFrameTolerance
        && std::abs(a.b - b.b) <= kFrameTolerance;
}

// A line of the grid is uniform when four pairs of cells 30 apart along it
// agree (indices 9 and 39, 18 and 48, 27 and 57, 36 and 66).
bool columnUniform(const ColourGrid& grid, int32_t x)
{
    for (int32_t k = 1; k <= 4; ++k) {
        if (!cellsAgree(grid[x][9 * k], grid[x][9 * k + 30]))
            return false;
    }
    return true;
}

bool rowUniform(const ColourGrid& grid, int32_t y)
{
    for (int32_t k = 1; k <= 4; ++k) {
        if (!cellsAgree(grid[9 * k][y], grid[9 * k + 30][y]))
            return false;
    }
    return true;
}

} // namespace

int32_t sampleColourGrid(const Picture& picture, PixelWindow window, ColourGrid& grid)
{
    SimilarGridSink sink;
    sink.sampleWindow(window, picture.width(), picture.height());
    feedPictureRows(picture, sink);
    return sink.finish(grid);
}

void stretchColourGrid(ColourGrid& grid, int32_t blackLevel)
{
    if (blackLevel <= kStretchThreshold || blackLevel >= 255)
        return;
    const auto stretch = [blackLevel](uint8_t v) {
        return static_cast<uint8_t>((v - blackLevel) * 255 / (255 - blackLevel));
    };
    for (int32_t x = kFirstSampledCell; x <= kLastSampledCell; ++x) {
        for (int32_t y = kFirstSampledCell; y <= kLastSampledCell; ++y) {
            GridColour& cell = grid[x][y];
            cell.r = stretch(cell.r);
            cell.g = stretch(cell.g);
            cell.b = stretch(cell.b);
        }
    }
}

FrameEdges findFrameEdges(const ColourGrid& grid)
{
    FrameEdges frame;
    for (int32_t x = kFrameSearchFirst; x <= kFrameSearchLast && columnUniform(grid, x); ++x)
        frame.left = x + 1;
    for (int32_t x = kFrameSearchStartRight; x >= kFrameSearchStopRight && columnUniform(grid, x); --x)
        frame.right = x - 1;
    for (int32_t y = kFrameSearchFirst; y <= kFrameSearchLast && rowUniform(grid, y); ++y)
        frame.top = y + 1;
    for (int32_t y = kFrameSearchStartRight; y >= kFrameSearchStopRight && rowUniform(grid, y); --y)
        frame.bottom = y - 1;
    return frame;
}

bool frameNeedsResampling(const FrameEdges& frame)
{
    return frame.right - frame.left < kMinContentCells || frame.bottom - frame.top < kMinContentCells;
}

PixelWindow contentWindow(int32_t width, int32_t height, const FrameEdges& frame)
{
    return PixelWindow {width * frame.left / 70, width * frame.right / 70, height * frame.top / 70,
                        height * frame.bottom / 70};
}

int32_t hueOf(int32_t r, int32_t g, int32_t b)
{
    const int32_t mx = std::max({r, g, b});
    const int32_t mn = std::min({r, g, b});
    if (mx == mn)
        return 0;
    int32_t hue;
    if (r == mx)
        hue = (g - b) * 60 / (mx - mn);
    else if (g == mx)
        hue = (b - r) * 60 / (mx - mn) + 120;
    else
        hue = (r - g) * 60 / (mx - mn) + 240;
    return hue < 0 ? hue + 360 : hue;
}

void derivePlanes(const ColourGrid& grid, SimilarPlanes& planes)
{
    for (int32_t x = kFirstSampledCell; x <= kLastSampledCell; ++x) {
        for (int32_t y = kFirstSampledCell; y <= kLastSampledCell; ++y) {
            const GridColour& cell = grid[x][y];
            const int32_t r = cell.r;
            const int32_t g = cell.g;
            const int32_t b = cell.b;
            planes.luma[x][y] = static_cast<uint8_t>(toneOf(r, g, b));
            planes.chroma[x][y] = static_cast<uint8_t>(std::max({r, g, b}) - std::min({r, g, b}));
            planes.hue[x][y] = hueOf(r, g, b);
        }
    }
}

void samplePicture(const Picture& picture, SampledPicture& out)
{
    SimilarSampler sampler;
    samplePicture(pictureRowSource(picture), sampler, out);
}
