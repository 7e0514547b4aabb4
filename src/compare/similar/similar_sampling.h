#pragma once

#include <array>
#include <cstdint>

#include "picture/picture.h"

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

// The whole sampling of one decoded picture (see SimilarSampler): grid,
// stretch, frame, second sampling from the content window when the frame is
// wide enough, planes.
void samplePicture(const Picture& picture, SampledPicture& out);
