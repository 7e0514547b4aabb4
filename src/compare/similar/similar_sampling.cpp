#include "compare/similar/similar_sampling.h"

#include <algorithm>
#include <cstdlib>

#include "compare/colour_tone.h"

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

SimilarGridSink::SimilarGridSink()
    : m_columnBytes(kLastSampledCell), m_sums(static_cast<std::size_t>(kLastSampledCell) * kLastSampledCell * 3)
{
}

void SimilarGridSink::sampleWhole()
{
    m_whole = true;
    m_began = false;
}

void SimilarGridSink::sampleWindow(PixelWindow window, int32_t width, int32_t height)
{
    m_whole = false;
    m_began = false;
    m_window = window;
    m_width = width;
    m_height = height;
}

bool SimilarGridSink::begin(int32_t width, int32_t height)
{
    m_began = false;
    m_uses.clear();
    m_rows.clear();
    m_next = 0;
    if (width < kMinSimilarPictureSide || height < kMinSimilarPictureSide)
        return false;
    if (m_whole) {
        m_window = PixelWindow {0, width, 0, height};
        m_width = width;
        m_height = height;
    } else if (width != m_width || height != m_height) {
        return false;
    }
    for (int32_t x = kFirstSampledCell; x <= kLastSampledCell; ++x) {
        const int32_t c = std::max(1, (m_window.x1 - m_window.x0 - 1) * x / 69 + m_window.x0);
        m_columnBytes[static_cast<std::size_t>(x - kFirstSampledCell)] = 3 * (c - 1);
    }
    // Blocks of neighbouring cells share rows on a low picture: the uses are
    // sorted by row.
    for (int32_t y = kFirstSampledCell; y <= kLastSampledCell; ++y) {
        const int32_t r = std::max(1, (m_window.y1 - m_window.y0 - 1) * y / 69 + m_window.y0);
        for (int32_t j = -1; j <= 1; ++j)
            m_uses.push_back(RowUse {r + j, y});
    }
    std::stable_sort(m_uses.begin(), m_uses.end(), [](const RowUse& a, const RowUse& b) { return a.row < b.row; });
    for (const RowUse& use : m_uses) {
        if (m_rows.empty() || m_rows.back() != use.row)
            m_rows.push_back(use.row);
    }
    std::fill(m_sums.begin(), m_sums.end(), 0);
    m_began = true;
    return true;
}

bool SimilarGridSink::wantsRow(int32_t y) const
{
    return std::binary_search(m_rows.begin(), m_rows.end(), y);
}

void SimilarGridSink::row(int32_t y, const uint8_t* bgr)
{
    while (m_next < m_uses.size() && m_uses[m_next].row < y)
        ++m_next;
    for (; m_next < m_uses.size() && m_uses[m_next].row == y; ++m_next) {
        int32_t* sums = m_sums.data()
                        + static_cast<std::size_t>(m_uses[m_next].y - kFirstSampledCell) * kLastSampledCell * 3;
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
    int32_t blackLevel = 255;
    for (int32_t y = kFirstSampledCell; y <= kLastSampledCell; ++y) {
        for (int32_t x = kFirstSampledCell; x <= kLastSampledCell; ++x) {
            const int32_t* sums = m_sums.data()
                                  + (static_cast<std::size_t>(y - kFirstSampledCell) * kLastSampledCell
                                     + static_cast<std::size_t>(x - kFirstSampledCell))
                                        * 3;
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

RowSink& SimilarSampler::firstPass()
{
    m_sink.sampleWhole();
    return m_sink;
}

RowSink* SimilarSampler::afterFirstPass(SampledPicture& out)
{
    out.grid = ColourGrid {};
    stretchColourGrid(out.grid, m_sink.finish(out.grid));
    out.frame = findFrameEdges(out.grid);
    out.resampled = frameNeedsResampling(out.frame);
    if (!out.resampled)
        return nullptr;
    const int32_t width = m_sink.width();
    const int32_t height = m_sink.height();
    m_sink.sampleWindow(contentWindow(width, height, out.frame), width, height);
    return &m_sink;
}

bool SimilarSampler::finish(SampledPicture& out)
{
    if (out.resampled) {
        if (!m_sink.began())
            return false;
        stretchColourGrid(out.grid, m_sink.finish(out.grid));
    }
    out.planes = SimilarPlanes {};
    derivePlanes(out.grid, out.planes);
    return true;
}

StreamResult samplePicture(const RowSource& source, SimilarSampler& sampler, SampledPicture& out)
{
    StreamResult result = source(sampler.firstPass());
    if (!result.ok())
        return result;
    if (!sampler.firstPassTaken())
        return {StreamStatus::Failed, "picture too small to sample", LoadFailure::Damaged};
    if (RowSink* second = sampler.afterFirstPass(out)) {
        result = source(*second);
        if (!result.ok())
            return result;
    }
    if (!sampler.finish(out))
        return {StreamStatus::Failed, "picture changed while it was read", LoadFailure::Damaged};
    return result;
}

void samplePicture(const Picture& picture, SampledPicture& out)
{
    SimilarSampler sampler;
    samplePicture(pictureRowSource(picture), sampler, out);
}
