#include "compare/identical/identical_sampler.h"

#include <algorithm>

#include "compare/colour_tone.h"

namespace {

constexpr int32_t kCells = kGridSize * kGridSize;

// The 5 x 5 lattice of cell i along an axis of `length` pixels with spacing
// `step`: the centre pixel. The product is taken in 64 bits so that a very
// wide picture cannot overflow it; within 32-bit range the value is the same.
int32_t latticeCentre(int32_t length, int32_t step, int32_t i)
{
    return static_cast<int32_t>(static_cast<int64_t>(length - 5 * step) * i / (kGridSize - 1)) + 2 * step;
}

} // namespace

IdenticalSampler::IdenticalSampler(Orientation orientation)
    : m_orientation(orientation)
    , m_swapped(swapsSides(orientation))
    , m_columnBytes(static_cast<std::size_t>(kGridSize) * 5)
    , m_sums(static_cast<std::size_t>(kCells) * 3)
{
}

bool IdenticalSampler::begin(int32_t width, int32_t height)
{
    m_rows.clear();
    if (!canComputeSignature(width, height))
        return false;
    // The lattices are laid on the turned picture; each of its columns and
    // rows is one stored column or row (storedPixel moves each axis alone).
    const int32_t turnedWidth = m_swapped ? height : width;
    const int32_t turnedHeight = m_swapped ? width : height;
    const int32_t sx = std::max(1, turnedWidth / 295);
    const int32_t sy = std::max(1, turnedHeight / 295);
    const auto storedColumnOrRow = [&](bool turnedColumn, int32_t at) {
        const PixelAt stored = turnedColumn ? storedPixel(m_orientation, width, height, at, 0)
                                            : storedPixel(m_orientation, width, height, 0, at);
        // A turned column lies along a stored row when the sides swap.
        return turnedColumn == m_swapped ? stored.y : stored.x;
    };
    // Along a stored row lie the turned picture's columns, or its rows when
    // the sides swap; the stored rows themselves are the other axis.
    for (int32_t cell = 0; cell < kGridSize; ++cell) {
        const int32_t centre = m_swapped ? latticeCentre(turnedHeight, sy, cell) : latticeCentre(turnedWidth, sx, cell);
        const int32_t step = m_swapped ? sy : sx;
        for (int32_t i = -2; i <= 2; ++i)
            m_columnBytes[static_cast<std::size_t>(cell * 5 + i + 2)] = 3 * storedColumnOrRow(!m_swapped, centre + i * step);
    }
    for (int32_t line = 0; line < kGridSize; ++line) {
        const int32_t centre = m_swapped ? latticeCentre(turnedWidth, sx, line) : latticeCentre(turnedHeight, sy, line);
        const int32_t step = m_swapped ? sx : sy;
        for (int32_t j = -2; j <= 2; ++j)
            m_rows.add(storedColumnOrRow(m_swapped, centre + j * step), line);
    }
    m_rows.seal();
    std::fill(m_sums.begin(), m_sums.end(), 0);
    return true;
}

bool IdenticalSampler::wantsRow(int32_t y) const
{
    return m_rows.wants(y);
}

void IdenticalSampler::row(int32_t y, const uint8_t* bgr)
{
    for (const SampledRows::Use& use : m_rows.usesOf(y)) {
        int32_t* sums = m_sums.data() + static_cast<std::size_t>(use.cell) * kGridSize * 3;
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

void IdenticalSampler::finish(SignatureGrids& grids) const
{
    for (int32_t line = 0; line < kGridSize; ++line) {
        for (int32_t cell = 0; cell < kGridSize; ++cell) {
            const int32_t* sums = m_sums.data() + (static_cast<std::size_t>(line) * kGridSize + cell) * 3;
            const int32_t x = m_swapped ? line : cell;
            const int32_t y = m_swapped ? cell : line;
            SignatureGrids::Rgb& rgb = grids.sample[x][y];
            rgb.b = static_cast<uint8_t>(sums[0] / 25);
            rgb.g = static_cast<uint8_t>(sums[1] / 25);
            rgb.r = static_cast<uint8_t>(sums[2] / 25);
            grids.tone[x][y] = static_cast<uint8_t>(toneOf(rgb.r, rgb.g, rgb.b));
        }
    }
}
