#include "compare/similar/similar_signature.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

// How many inner cells each plane marks, roughly, whatever the exposure:
// the high level marks about this many cells 255, the low level as many
// again 128.
constexpr int32_t kContrastHighRank = 600;
constexpr int32_t kContrastLowRank = 1200;
constexpr int32_t kLumaHighRank = 600;
constexpr int32_t kLumaLowRank = 1200;
constexpr int32_t kChromaHighRank = 450;
constexpr int32_t kChromaLowRank = 900;

// Warm cells: skin, wood, sunset tones of medium brightness and moderate
// colour contrast.
constexpr int32_t kWarmLumaMin = 115;
constexpr int32_t kWarmLumaMax = 221;
constexpr int32_t kWarmChromaMin = 31;
constexpr int32_t kWarmChromaMax = 149;
constexpr int32_t kWarmHueMax = 39;

// Without warm cells the warm region is taken as centred with this spread.
constexpr int32_t kNoWarmCentre = 35;
constexpr int32_t kDefaultSpread = 10;

// Three overlapping bands of 24 indices across the inner cells.
constexpr int32_t kBandStart[3] = {5, 23, 41};
constexpr int32_t kBandLength = 24;

constexpr uint8_t kMarkHigh = 255;
constexpr uint8_t kMarkLow = 128;

struct Mark {
    uint8_t value;
    int32_t weight;
};

Mark quantise(int32_t value, uint8_t high, uint8_t low)
{
    if (value >= high)
        return {kMarkHigh, 2};
    if (value >= low)
        return {kMarkLow, 1};
    return {0, 0};
}

int32_t roundedMean(int32_t sum, int32_t count)
{
    return (sum + count / 2) / std::max(1, count);
}

} // namespace

int32_t localContrast(const ColourGrid& grid, int32_t x, int32_t y)
{
    int32_t sr = 0;
    int32_t sg = 0;
    int32_t sb = 0;
    for (int32_t i = x - 3; i <= x + 3; ++i) {
        for (int32_t j = y - 3; j <= y + 3; ++j) {
            sr += grid[i][j].r;
            sg += grid[i][j].g;
            sb += grid[i][j].b;
        }
    }
    const GridColour& cell = grid[x][y];
    const int32_t dr = std::abs(2 * cell.r - (2 * sr + 24) / 49);
    const int32_t dg = std::abs(2 * cell.g - (2 * sg + 24) / 49);
    const int32_t db = std::abs(2 * cell.b - (2 * sb + 24) / 49);
    return std::max({dr, dg, db});
}

namespace {

// Sums of each channel over the cells [0, x) x [0, y), so that the 7 x 7
// sum around every inner cell takes four look-ups rather than 49 cells (the
// signature is taken eight times a picture in a search for turned copies).
struct ChannelAreaSums {
    std::array<std::array<std::array<int32_t, 3>, kSimilarGridSize + 1>, kSimilarGridSize + 1> at {};

    explicit ChannelAreaSums(const ColourGrid& grid)
    {
        for (int32_t x = 0; x < kSimilarGridSize; ++x) {
            std::array<int32_t, 3> column {};
            for (int32_t y = 0; y < kSimilarGridSize; ++y) {
                const GridColour& cell = grid[x][y];
                column[0] += cell.r;
                column[1] += cell.g;
                column[2] += cell.b;
                for (std::size_t c = 0; c < 3; ++c)
                    at[x + 1][y + 1][c] = at[x][y + 1][c] + column[c];
            }
        }
    }

    // The sum of channel c over cells x - 3 .. x + 3, y - 3 .. y + 3.
    int32_t around(int32_t x, int32_t y, std::size_t c) const
    {
        return at[x + 4][y + 4][c] - at[x - 3][y + 4][c] - at[x + 4][y - 3][c] + at[x - 3][y - 3][c];
    }
};

int32_t localContrast(const ColourGrid& grid, const ChannelAreaSums& sums, int32_t x, int32_t y)
{
    const GridColour& cell = grid[x][y];
    const int32_t dr = std::abs(2 * cell.r - (2 * sums.around(x, y, 0) + 24) / 49);
    const int32_t dg = std::abs(2 * cell.g - (2 * sums.around(x, y, 1) + 24) / 49);
    const int32_t db = std::abs(2 * cell.b - (2 * sums.around(x, y, 2) + 24) / 49);
    return std::max({dr, dg, db});
}

} // namespace

ContrastPass contrastPass(const ColourGrid& grid, SimilarPlanes& planes)
{
    ContrastPass pass;
    const auto sums = std::make_unique<ChannelAreaSums>(grid);
    for (int32_t x = kInnerFirst; x <= kInnerLast; ++x) {
        for (int32_t y = kInnerFirst; y <= kInnerLast; ++y) {
            // Not clamped: a contrast above 255 wraps, as the byte store did.
            const uint8_t contrast = static_cast<uint8_t>(localContrast(grid, *sums, x, y) & 0xFF);
            pass.contrast[x][y] = contrast;

            // In place, so cells visited later (to the right, and below in
            // this column) see the replaced values of those visited before.
            int32_t sum = 0;
            for (int32_t i = x - 2; i <= x + 2; ++i) {
                for (int32_t j = y - 2; j <= y + 2; ++j)
                    sum += planes.chroma[i][j];
            }
            const int32_t meanTwice = (2 * sum + 12) / 25;
            const uint8_t chroma = static_cast<uint8_t>(std::abs(2 * planes.chroma[x][y] - meanTwice) & 0xFF);
            planes.chroma[x][y] = chroma;

            const uint8_t luma = planes.luma[x][y];
            pass.planeTotals[0] += contrast;
            pass.planeTotals[1] += luma;
            pass.planeTotals[2] += chroma;
            ++pass.contrastHistogram[contrast];
            ++pass.lumaHistogram[luma];
            ++pass.chromaHistogram[chroma];
        }
    }
    return pass;
}

uint8_t rankLevel(const Histogram& histogram, int32_t n)
{
    int32_t sum = 0;
    for (int32_t v = 255; v >= 0; --v) {
        sum += histogram[v];
        if (sum > n)
            return static_cast<uint8_t>(v);
    }
    return 0;
}

std::array<int32_t, 3> bandCodesOf(int32_t a, int32_t b, int32_t c)
{
    // A 3 marks a third that beats both others by more than 30 percent, a 1
    // a third that both others beat so; later rules win.
    const auto beats = [](int32_t bigger, int32_t smaller) { return smaller * 130 / 100 < bigger; };
    std::array<int32_t, 3> codes {2, 2, 2};
    if (beats(a, b) && beats(a, c))
        codes[0] = 3;
    if (beats(b, a) && beats(b, c))
        codes[1] = 3;
    if (beats(c, a) && beats(c, b))
        codes[2] = 3;
    if (beats(b, a) && beats(c, a))
        codes[0] = 1;
    if (beats(a, b) && beats(c, b))
        codes[1] = 1;
    if (beats(a, c) && beats(b, c))
        codes[2] = 1;
    return codes;
}

int32_t truncatedSqrt(int32_t n)
{
    int32_t root = 0;
    while (static_cast<int64_t>(root + 1) * (root + 1) <= n)
        ++root;
    return root;
}

void computeSimilarSignature(const ColourGrid& grid, SimilarPlanes& planes, SimilarSignature& out)
{
    out = SimilarSignature {};
    const ContrastPass pass = contrastPass(grid, planes);
    out.planeTotals = pass.planeTotals;

    const uint8_t contrastHigh = rankLevel(pass.contrastHistogram, kContrastHighRank);
    const uint8_t contrastLow = rankLevel(pass.contrastHistogram, kContrastLowRank);
    const uint8_t lumaHigh = rankLevel(pass.lumaHistogram, kLumaHighRank);
    const uint8_t lumaLow = rankLevel(pass.lumaHistogram, kLumaLowRank);
    const uint8_t chromaHigh = rankLevel(pass.chromaHistogram, kChromaHighRank);
    const uint8_t chromaLow = rankLevel(pass.chromaHistogram, kChromaLowRank);

    std::array<int32_t, 4> sumX {};
    std::array<int32_t, 4> sumY {};
    std::array<int32_t, 4> count {}; // contrast weight sum, luma 255, chroma 255, warm
    auto& profiles = out.profiles;

    for (int32_t x = kInnerFirst; x <= kInnerLast; ++x) {
        for (int32_t y = kInnerFirst; y <= kInnerLast; ++y) {
            // The warm test reads the values before this cell is quantised.
            const int32_t luma = planes.luma[x][y];
            const int32_t chroma = planes.chroma[x][y];
            if (luma >= kWarmLumaMin && luma <= kWarmLumaMax && chroma >= kWarmChromaMin
                && chroma <= kWarmChromaMax && planes.hue[x][y] <= kWarmHueMax) {
                planes.hue[x][y] = 255;
                sumX[kWarmCentroid] += x;
                sumY[kWarmCentroid] += y;
                ++count[kWarmCentroid];
                profiles[7][x] += 2;
                profiles[8][y] += 2;
            } else {
                planes.hue[x][y] = 0;
            }

            const Mark contrast = quantise(pass.contrast[x][y], contrastHigh, contrastLow);
            if (contrast.weight > 0) {
                sumX[0] += contrast.weight * x;
                sumY[0] += contrast.weight * y;
                count[0] += contrast.weight;
                profiles[1][x] += contrast.weight;
                profiles[2][y] += contrast.weight;
            }
            out.contrastMap[SimilarSignature::mapIndex(x, y)] = contrast.value;

            const Mark lumaMark = quantise(luma, lumaHigh, lumaLow);
            if (lumaMark.value == kMarkHigh) {
                sumX[1] += x;
                sumY[1] += y;
                ++count[1];
            }
            profiles[3][x] += lumaMark.weight;
            profiles[4][y] += lumaMark.weight;
            planes.luma[x][y] = lumaMark.value;

            const Mark chromaMark = quantise(chroma, chromaHigh, chromaLow);
            if (chromaMark.value == kMarkHigh) {
                sumX[2] += x;
                sumY[2] += y;
                ++count[2];
            }
            profiles[5][x] += chromaMark.weight;
            profiles[6][y] += chromaMark.weight;
            planes.chroma[x][y] = chromaMark.value;
        }
    }

    for (int32_t k = 0; k < 4; ++k) {
        out.centroidX[k] = roundedMean(sumX[k], count[k]);
        out.centroidY[k] = roundedMean(sumY[k], count[k]);
    }
    if (out.centroidX[kWarmCentroid] == 0) {
        out.centroidX[kWarmCentroid] = kNoWarmCentre;
        out.centroidY[kWarmCentroid] = kNoWarmCentre;
    }

    int32_t spreadX = 0;
    int32_t spreadY = 0;
    for (int32_t i = kInnerFirst; i <= kInnerLast; ++i) {
        const int32_t dx = i - out.centroidX[kWarmCentroid];
        const int32_t dy = i - out.centroidY[kWarmCentroid];
        spreadX += dx * dx * profiles[7][i];
        spreadY += dy * dy * profiles[8][i];
    }
    const int32_t warmCount = std::max(1, count[kWarmCentroid]);
    out.spreadA = truncatedSqrt(spreadX / warmCount);
    out.spreadB = truncatedSqrt(spreadY / warmCount);
    if (out.spreadA == 0 || out.spreadB == 0) {
        out.spreadA = kDefaultSpread;
        out.spreadB = kDefaultSpread;
    }

    for (int32_t row = 1; row <= 4; ++row) {
        int32_t sums[3] = {0, 0, 0};
        for (int32_t band = 0; band < 3; ++band) {
            for (int32_t i = kBandStart[band]; i < kBandStart[band] + kBandLength; ++i)
                sums[band] += profiles[row][i];
        }
        const std::array<int32_t, 3> codes = bandCodesOf(sums[0], sums[1], sums[2]);
        for (int32_t band = 0; band < 3; ++band)
            out.bandCodes[3 * row - 2 + band] = codes[band];
    }
}
