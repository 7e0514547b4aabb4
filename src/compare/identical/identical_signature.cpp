#include "compare/identical/identical_signature.h"

#include <algorithm>
#include <cstdlib>

#include "compare/colour_tone.h"
#include "compare/identical/identical_sampler.h"
#include "compare/picture_rows.h"

namespace {

constexpr int32_t kCells = kGridSize * kGridSize;          // 3600
constexpr int32_t kInner = kGridSize - 2;                  // written edge cells per axis: 58
constexpr int32_t kInnerCells = kInner * kInner;           // 3364
constexpr int32_t kCentroidFirst = 6;                      // centroid area 6..53
constexpr int32_t kCentroidLast = 53;

void stretchContrast(SignatureGrids& grids)
{
    int32_t sum = 0, hi = 0, lo = 255;
    for (int32_t x = 0; x < kGridSize; ++x) {
        for (int32_t y = 0; y < kGridSize; ++y) {
            const SignatureGrids::Rgb& c = grids.sample[x][y];
            const int32_t t = toneOf(c.r, c.g, c.b);
            sum += t;
            hi = std::max(hi, t);
            lo = std::min(lo, t);
        }
    }
    const int32_t mean = sum / kCells;
    const int32_t upper = std::max(1, hi - mean);
    const int32_t lower = std::max(1, mean - lo);
    auto stretch = [&](int32_t v) {
        if (v >= mean)
            return (std::min(hi, v) - mean) * 128 / upper + 127;
        return 127 - std::min(127, (mean - std::max(lo, v) + 5) * 127 / lower);
    };
    for (int32_t x = 0; x < kGridSize; ++x) {
        for (int32_t y = 0; y < kGridSize; ++y) {
            SignatureGrids::Rgb& c = grids.sample[x][y];
            c.r = static_cast<uint8_t>(stretch(c.r));
            c.g = static_cast<uint8_t>(stretch(c.g));
            c.b = static_cast<uint8_t>(stretch(c.b));
            grids.tone[x][y] = static_cast<uint8_t>(toneOf(c.r, c.g, c.b));
        }
    }
}

void buildEdges(SignatureGrids& grids)
{
    for (int32_t x = 1; x <= kInner; ++x) {
        for (int32_t y = 1; y <= kInner; ++y) {
            int32_t r = 0, g = 0, b = 0;
            for (int32_t u = x - 1; u <= x + 1; ++u) {
                for (int32_t v = y - 1; v <= y + 1; ++v) {
                    const SignatureGrids::Rgb& c = grids.sample[u][v];
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            }
            const SignatureGrids::Rgb& self = grids.sample[x][y];
            const int32_t dr = std::abs(self.r - (r + 4) / 9);
            const int32_t dg = std::abs(self.g - (g + 4) / 9);
            const int32_t db = std::abs(self.b - (b + 4) / 9);
            grids.edge[x][y] = static_cast<uint8_t>(std::max({dr, dg, db}));
        }
    }

    int32_t sum = 0, hi = 0, lo = 255;
    for (int32_t x = 1; x <= kInner; ++x) {
        for (int32_t y = 1; y <= kInner; ++y) {
            const int32_t e = grids.edge[x][y];
            sum += e;
            hi = std::max(hi, e);
            lo = std::min(lo, e);
        }
    }
    const int32_t mean = sum / kInnerCells;
    const int32_t upper = std::max(1, hi - mean);
    const int32_t lower = std::max(1, mean - lo);
    for (int32_t x = 1; x <= kInner; ++x) {
        for (int32_t y = 1; y <= kInner; ++y) {
            const int32_t e = grids.edge[x][y];
            const int32_t stretched = e >= mean ? std::min(128, (e - mean) * 128 / upper) + 127
                                                : 127 - std::min(127, (mean - e + 5) * 127 / lower);
            grids.edge[x][y] = static_cast<uint8_t>(std::min(255, 16 * std::max(0, stretched / 8 - 7)));
        }
    }
}

int32_t weightOf(int32_t value)
{
    if (value > 200)
        return 2;
    return value >= 128 ? 1 : 0;
}

// Weighted mean position of the cells at 128 and above; (0, 0) when none.
void centroidOf(const std::array<std::array<uint8_t, kGridSize>, kGridSize>& grid, int32_t& cx, int32_t& cy)
{
    int32_t total = 0, sumX = 0, sumY = 0;
    for (int32_t x = kCentroidFirst; x <= kCentroidLast; ++x) {
        for (int32_t y = kCentroidFirst; y <= kCentroidLast; ++y) {
            const int32_t w = weightOf(grid[x][y]);
            total += w;
            sumX += w * x;
            sumY += w * y;
        }
    }
    if (total > 0) {
        cx = sumX / total;
        cy = sumY / total;
    }
}

void buildProfiles(const SignatureGrids& grids, IdenticalSignature& sig)
{
    for (int32_t b = 0; b < kDivCount; ++b) {
        const int32_t first = kBandStart + (kBandWidth - kBandOverlap) * b;
        for (int32_t p = kFirstPosition; p <= kLastPosition; ++p) {
            int32_t edgeColumn = 0, edgeRow = 0, toneColumn = 0, toneRow = 0;
            for (int32_t t = first; t < first + kBandWidth; ++t) {
                edgeColumn += grids.edge[p][t];
                edgeRow += grids.edge[t][p];
                toneColumn += grids.tone[p][t];
                toneRow += grids.tone[t][p];
            }
            const int32_t at = p - kFirstPosition;
            sig.profiles[b][at] = static_cast<uint8_t>(edgeColumn / kBandWidth);
            sig.profiles[kDivCount + b][at] = static_cast<uint8_t>(edgeRow / kBandWidth);
            sig.profiles[2 * kDivCount + b][at] = static_cast<uint8_t>(toneColumn / kBandWidth);
            sig.profiles[3 * kDivCount + b][at] = static_cast<uint8_t>(toneRow / kBandWidth);
        }
    }
    // In place, left to right: each position sees its left neighbour already
    // smoothed. The end positions keep their values.
    for (auto& profile : sig.profiles) {
        for (int32_t at = 1; at < kPositionCount - 1; ++at)
            profile[at] = static_cast<uint8_t>((profile[at - 1] + profile[at] + profile[at + 1]) / 3);
    }
}

} // namespace

IdenticalSignature signatureOfSampledGrids(SignatureGrids& grids)
{
    IdenticalSignature sig;
    stretchContrast(grids);
    buildEdges(grids);
    centroidOf(grids.edge, sig.centroids[0], sig.centroids[1]);
    centroidOf(grids.tone, sig.centroids[2], sig.centroids[3]);
    buildProfiles(grids, sig);
    return sig;
}

IdenticalSignature ComputeSignature(const Picture& picture, SignatureGrids& grids)
{
    IdenticalSampler sampler;
    feedPictureRows(picture, sampler);
    sampler.finish(grids);
    return signatureOfSampledGrids(grids);
}

IdenticalSignature ComputeSignature(const Picture& picture)
{
    SignatureGrids grids;
    return ComputeSignature(picture, grids);
}
