#include "compare/similar/similar_grid_sink.h"

#include <algorithm>

SimilarGridSink::SimilarGridSink()
    : m_columnBytes(kLastSampledCell), m_sums(static_cast<std::size_t>(kLastSampledCell) * kLastSampledCell * 3)
{
}

void SimilarGridSink::sampleWhole(Orientation orientation)
{
    m_whole = true;
    m_orientation = orientation;
    m_began = false;
}

void SimilarGridSink::sampleWindow(PixelWindow window, int32_t width, int32_t height, Orientation orientation)
{
    m_whole = false;
    m_orientation = orientation;
    m_began = false;
    m_window = window;
    m_width = width;
    m_height = height;
}

bool SimilarGridSink::begin(int32_t width, int32_t height)
{
    m_began = false;
    m_rows.clear();
    if (width < kMinSimilarPictureSide || height < kMinSimilarPictureSide)
        return false;
    const bool swapped = swapsSides(m_orientation);
    if (m_whole) {
        m_window = swapped ? PixelWindow {0, height, 0, width} : PixelWindow {0, width, 0, height};
        m_width = width;
        m_height = height;
    } else if (width != m_width || height != m_height) {
        return false;
    }
    for (int32_t k = kFirstSampledCell; k <= kLastSampledCell; ++k) {
        // The centres of the turned picture's blocks of cell column k and of
        // cell row k; their stored pixel gives a stored column from one and
        // a stored row from the other.
        const int32_t c = std::max(1, (m_window.x1 - m_window.x0 - 1) * k / 69 + m_window.x0);
        const int32_t r = std::max(1, (m_window.y1 - m_window.y0 - 1) * k / 69 + m_window.y0);
        const PixelAt at = storedPixel(m_orientation, width, height, c, r);
        m_columnBytes[static_cast<std::size_t>(k - kFirstSampledCell)] = 3 * (at.x - 1);
        for (int32_t j = -1; j <= 1; ++j)
            m_rows.add(at.y + j, k - kFirstSampledCell);
    }
    m_rows.seal();
    std::fill(m_sums.begin(), m_sums.end(), 0);
    m_began = true;
    return true;
}

bool SimilarGridSink::wantsRow(int32_t y) const
{
    return m_rows.wants(y);
}

void SimilarGridSink::row(int32_t y, const uint8_t* bgr)
{
    for (const SampledRows::Use& use : m_rows.usesOf(y)) {
        int32_t* sums = m_sums.data() + static_cast<std::size_t>(use.cell) * kLastSampledCell * 3;
        for (const int32_t offset : m_columnBytes) {
            const uint8_t* p = bgr + offset;
            sums[0] += p[0] + p[3] + p[6];
            sums[1] += p[1] + p[4] + p[7];
            sums[2] += p[2] + p[5] + p[8];
            sums += 3;
        }
    }
}

int32_t SimilarGridSink::finish(ColourGrid& grid) const
{
    const bool swapped = swapsSides(m_orientation);
    int32_t blackLevel = 255;
    for (int32_t y = kFirstSampledCell; y <= kLastSampledCell; ++y) {
        for (int32_t x = kFirstSampledCell; x <= kLastSampledCell; ++x) {
            const auto row = static_cast<std::size_t>((swapped ? x : y) - kFirstSampledCell);
            const auto column = static_cast<std::size_t>((swapped ? y : x) - kFirstSampledCell);
            const int32_t* sums = m_sums.data() + (row * kLastSampledCell + column) * 3;
            const int32_t sb = sums[0];
            const int32_t sg = sums[1];
            const int32_t sr = sums[2];
            GridColour& cell = grid[x][y];
            cell.r = static_cast<uint8_t>(sr / 9);
            cell.g = static_cast<uint8_t>(sg / 9);
            cell.b = static_cast<uint8_t>(sb / 9);
            const int32_t darkest = std::min({sr, sg, sb}) / 9;
            if (darkest < blackLevel)
                blackLevel = darkest;
        }
    }
    return blackLevel;
}
