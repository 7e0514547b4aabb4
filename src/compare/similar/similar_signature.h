#pragma once

#include <array>
#include <cstdint>

#include "compare/similar/similar_sampling.h"

// The signature is taken from the inner cells 5..64 on each axis.
inline constexpr int32_t kInnerFirst = 5;
inline constexpr int32_t kInnerLast = 64;
inline constexpr int32_t kInnerSize = kInnerLast - kInnerFirst + 1; // 60

// Profile rows: 1/2 contrast by column/row, 3/4 luminance, 5/6 chroma
// contrast, 7/8 warm cells.
inline constexpr int32_t kProfileRows = 8;

// Centroid entries: contrast, luminance 255, chroma contrast 255, warm.
inline constexpr int32_t kWarmCentroid = 3;

// What the pair pass compares, per picture.
struct SimilarSignature {
    // The quantised local contrast (0, 128, 255) of inner cell [x][y], stored
    // at (x - 5) * 60 + (y - 5): one flat run that compares fast.
    std::array<uint8_t, kInnerSize * kInnerSize> contrastMap {};
    // profiles[row][index], rows 1..8 used, indices 5..64 filled.
    std::array<std::array<uint8_t, kSimilarGridSize>, kProfileRows + 1> profiles {};
    std::array<int32_t, 4> centroidX {};
    std::array<int32_t, 4> centroidY {};
    // 0: raw contrast bytes, 1: luminance, 2: chroma-contrast bytes.
    std::array<int32_t, 3> planeTotals {};
    // Entries 1..12: 1 a weak third, 2 even, 3 a strong third.
    std::array<int32_t, 13> bandCodes {};
    // Horizontal and vertical spread of the warm region; 0 only when the
    // picture has no signature.
    int32_t spreadA = 0;
    int32_t spreadB = 0;

    static constexpr int32_t mapIndex(int32_t x, int32_t y) { return (x - kInnerFirst) * kInnerSize + y - kInnerFirst; }
    uint8_t contrastAt(int32_t x, int32_t y) const { return contrastMap[mapIndex(x, y)]; }
};

using Histogram = std::array<int32_t, 256>;

// The first visit of the inner cells: local contrast, chroma contrast (written
// into planes.chroma in place), plane totals and histograms.
struct ContrastPass {
    SimilarGrid<uint8_t> contrast {}; // low 8 bits of the local contrast
    std::array<int32_t, 3> planeTotals {};
    Histogram contrastHistogram {};
    Histogram lumaHistogram {};
    Histogram chromaHistogram {};
};

// Twice the cell's colour against twice its 7 x 7 neighbourhood mean: the
// largest channel difference, 0..510.
int32_t localContrast(const ColourGrid& grid, int32_t x, int32_t y);

ContrastPass contrastPass(const ColourGrid& grid, SimilarPlanes& planes);

// The value at which the count of cells from 255 downward first exceeds n;
// 0 when it never does.
uint8_t rankLevel(const Histogram& histogram, int32_t n);

// Codes of three overlapping thirds with sums a, b, c.
std::array<int32_t, 3> bandCodesOf(int32_t a, int32_t b, int32_t c);

// Largest integer whose square is at most n (n >= 0).
int32_t truncatedSqrt(int32_t n);

// The whole signature from a sampled picture; changes the planes in place.
void computeSimilarSignature(const ColourGrid& grid, SimilarPlanes& planes, SimilarSignature& out);
