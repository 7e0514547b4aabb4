#include "compare/identical/identical_signature.h"

#include <algorithm>
#include <cstdlib>

#include "compare/colour_tone.h"
#include "compare/picture_rows.h"

namespace {

constexpr int32_t kCells = kGridSize * kGridSize;          // 3600
constexpr int32_t kInner = kGridSize - 2;                  // written edge cells per axis: 58
constexpr int32_t kInnerCells = kInner * kInner;           // 3364
constexpr int32_t kCentroidFirst = 6;                      // centroid area 6..53
constexpr int32_t kCentroidLast = 53;

// The 5 x 5 lattice of cell i along an axis of `length` pixels with spacing
// `step`: the centre pixel. The product is taken in 64 bits so that a very
// wide picture cannot overflow it; within 32-bit range the value is the same.
int32_t latticeCentre(int32_t length, int32_t step, int32_t i)
{
    return static_cast<int32_t>(static_cast<int64_t>(length - 5 * step) * i / (kGridSize - 1)) + 2 * step;
}

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

IdenticalSampler::IdenticalSampler()
    : m_columnBytes(static_cast<std::size_t>(kGridSize) * 5), m_sums(static_cast<std::size_t>(kCells) * 3)
{
}

bool IdenticalSampler::begin(int32_t width, int32_t height)
{
    m_uses.clear();
    m_rows.clear();
    m_next = 0;
    if (!canComputeSignature(width, height))
        return false;
    const int32_t sx = std::max(1, width / 295);
    const int32_t sy = std::max(1, height / 295);
    for (int32_t x = 0; x < kGridSize; ++x) {
        const int32_t cx = latticeCentre(width, sx, x);
        for (int32_t i = -2; i <= 2; ++i)
            m_columnBytes[static_cast<std::size_t>(x * 5 + i + 2)] = 3 * (cx + i * sx);
    }
    // Lattice centres grow with y, but the lattices of neighbouring cells may
    // share rows on a low picture: sort the uses by row.
    for (int32_t y = 0; y < kGridSize; ++y) {
        const int32_t cy = latticeCentre(height, sy, y);
        for (int32_t j = -2; j <= 2; ++j)
            m_uses.push_back(RowUse {cy + j * sy, y});
    }
    std::stable_sort(m_uses.begin(), m_uses.end(), [](const RowUse& a, const RowUse& b) { return a.row < b.row; });
    for (const RowUse& use : m_uses) {
        if (m_rows.empty() || m_rows.back() != use.row)
            m_rows.push_back(use.row);
    }
    std::fill(m_sums.begin(), m_sums.end(), 0);
    return true;
}

bool IdenticalSampler::wantsRow(int32_t y) const
{
    return std::binary_search(m_rows.begin(), m_rows.end(), y);
}

void IdenticalSampler::row(int32_t y, const uint8_t* bgr)
{
    while (m_next < m_uses.size() && m_uses[m_next].row < y)
        ++m_next;
    for (; m_next < m_uses.size() && m_uses[m_next].row == y; ++m_next) {
        int32_t* sums = m_sums.data() + static_cast<std::size_t>(m_uses[m_next].y) * kGridSize * 3;
        const int32_t* columns = m_columnBytes.data();
        for (int32_t x = 0; x < kGridSize; ++x, sums += 3, columns += 5) {
            int32_t b = 0, g = 0, r = 0;
            for (int32_t i = 0; i < 5; ++i) {
                const uint8_t* px = bgr + columns[i];
                b += px[0];
                g += px[1];
                r += px[2];
            }
            sums[0] += b;
            sums[1] += g;
            sums[2] += r;
        }
    }
}

IdenticalSignature IdenticalSampler::finish(SignatureGrids& grids) const
{
    for (int32_t y = 0; y < kGridSize; ++y) {
        for (int32_t x = 0; x < kGridSize; ++x) {
            const int32_t* sums = m_sums.data() + (static_cast<std::size_t>(y) * kGridSize + x) * 3;
            SignatureGrids::Rgb& cell = grids.sample[x][y];
            cell.b = static_cast<uint8_t>(sums[0] / 25);
            cell.g = static_cast<uint8_t>(sums[1] / 25);
            cell.r = static_cast<uint8_t>(sums[2] / 25);
            grids.tone[x][y] = static_cast<uint8_t>(toneOf(cell.r, cell.g, cell.b));
        }
    }
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
    return sampler.finish(grids);
}

IdenticalSignature ComputeSignature(const Picture& picture)
{
    SignatureGrids grids;
    return ComputeSignature(picture, grids);
}
