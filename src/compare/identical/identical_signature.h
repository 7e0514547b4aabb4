#pragma once

#include <array>
#include <cstdint>

#include "picture/picture.h"

// The identical-picture signature: a picture sampled onto a 60 x 60 grid,
// contrast-stretched, reduced to four centroid values and twelve band profiles.

inline constexpr int32_t kGridSize = 60;
inline constexpr int32_t kDivCount = 3;     // DivCount: bands per axis
inline constexpr int32_t kBandStart = 5;    // first grid index of band 0
inline constexpr int32_t kBandWidth = 18;   // grid cells per band
inline constexpr int32_t kBandOverlap = 2;  // cells shared by neighbouring bands
inline constexpr int32_t kProfileCount = 4 * kDivCount;
// Profile positions written: 1..58.
inline constexpr int32_t kFirstPosition = 1;
inline constexpr int32_t kLastPosition = kGridSize - 2;
inline constexpr int32_t kPositionCount = kLastPosition - kFirstPosition + 1;
// Sampling needs a full 5 x 5 lattice inside the picture.
inline constexpr int32_t kMinPictureSide = 5;

// The working grids of one signature, [x][y]. One set per thread; every cell
// read for a picture is written for that picture first, so a set can be
// reused without clearing.
struct SignatureGrids {
    struct Rgb {
        uint8_t r, g, b;
    };
    std::array<std::array<Rgb, kGridSize>, kGridSize> sample {};   // SampleGrid
    std::array<std::array<uint8_t, kGridSize>, kGridSize> tone {};  // ToneGrid
    std::array<std::array<uint8_t, kGridSize>, kGridSize> edge {};  // EdgeGrid, outer ring stays 0
};

// One picture's CentroidTable entries 0-3 and ProfileTable profiles 0..11.
struct IdenticalSignature {
    // 0 edge column, 1 edge row, 2 tone column, 3 tone row
    std::array<int32_t, 4> centroids {};
    // profile k at position p (1..58) is profiles[k][p - kFirstPosition]; the
    // profiles 12..27 of the table are always 0 and are not kept.
    std::array<std::array<uint8_t, kPositionCount>, kProfileCount> profiles {};

    uint8_t at(int32_t k, int32_t p) const { return profiles[k][p - kFirstPosition]; }
};

// Whether the picture is large enough for ComputeSignature; a smaller one is
// treated as unreadable.
inline bool canComputeSignature(int32_t width, int32_t height)
{
    return width >= kMinPictureSide && height >= kMinPictureSide;
}

inline bool canComputeSignature(const Picture& picture)
{
    return canComputeSignature(picture.width(), picture.height());
}

// The signature of a picture whose SampleGrid and ToneGrid are sampled
// (IdenticalSampler::finish): stretch, edges, centroids, profiles. Leaves the
// final grids in `grids`.
IdenticalSignature signatureOfSampledGrids(SignatureGrids& grids);

// ComputeSignature: the picture must pass canComputeSignature. Leaves the
// picture's final grids in `grids`.
IdenticalSignature ComputeSignature(const Picture& picture, SignatureGrids& grids);
IdenticalSignature ComputeSignature(const Picture& picture);
