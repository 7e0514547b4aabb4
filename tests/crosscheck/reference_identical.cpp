#include "crosscheck/reference_identical.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "common/file_name.h"
#include "picture/picture_loader.h"

namespace crosscheck {
namespace {

constexpr int32_t kGrid = 60;
constexpr int32_t kBandStart = 5;
constexpr int32_t kBandWidth = 18;
constexpr int32_t kBandOverlap = 2;
constexpr int32_t kLevelStep = 270;
constexpr int32_t kMinSide = 5;

struct Cell {
    uint8_t r = 0, g = 0, b = 0;
};

int32_t tone(int32_t r, int32_t g, int32_t b)
{
    return (30 * r + 59 * g + 11 * b) / 100;
}

// The working grids of one engine call. Every cell that is read is written
// for each picture first, so a fresh set per picture gives the same values.
struct Grids {
    Cell sample[kGrid][kGrid];
    uint8_t tone[kGrid][kGrid];
    uint8_t edge[kGrid][kGrid];
};

uint8_t pixelChannel(const Picture& picture, int32_t column, int32_t row, int32_t channel)
{
    if (column < 0 || column >= picture.width() || row < 0 || row >= picture.height())
        throw std::logic_error("reference identical sampling read outside the picture");
    // Bytes are B, G, R; channel 0 is R.
    return picture.row(row)[column * 3 + (2 - channel)];
}

void sampleGrid(const Picture& picture, Grids& grids)
{
    const int32_t w = picture.width();
    const int32_t h = picture.height();
    const int32_t sx = std::max(1, w / 295);
    const int32_t sy = std::max(1, h / 295);
    for (int32_t y = 0; y < kGrid; ++y) {
        const int32_t cy = (h - 5 * sy) * y / 59 + 2 * sy;
        for (int32_t x = 0; x < kGrid; ++x) {
            const int32_t cx = (w - 5 * sx) * x / 59 + 2 * sx;
            int32_t sum[3] = {0, 0, 0};
            for (int32_t i = -2; i <= 2; ++i)
                for (int32_t j = -2; j <= 2; ++j)
                    for (int32_t c = 0; c < 3; ++c)
                        sum[c] += pixelChannel(picture, cx + i * sx, cy + j * sy, c);
            Cell& cell = grids.sample[x][y];
            cell.r = static_cast<uint8_t>(sum[0] / 25);
            cell.g = static_cast<uint8_t>(sum[1] / 25);
            cell.b = static_cast<uint8_t>(sum[2] / 25);
            grids.tone[x][y] = static_cast<uint8_t>(tone(cell.r, cell.g, cell.b));
        }
    }
}

void stretchContrast(Grids& grids)
{
    int32_t sum = 0;
    int32_t hi = -1;
    int32_t lo = 256;
    for (int32_t x = 0; x < kGrid; ++x) {
        for (int32_t y = 0; y < kGrid; ++y) {
            const Cell& cell = grids.sample[x][y];
            const int32_t t = tone(cell.r, cell.g, cell.b);
            sum += t;
            hi = std::max(hi, t);
            lo = std::min(lo, t);
        }
    }
    const int32_t mean = sum / 3600;
    auto stretch = [&](int32_t v) {
        if (v >= mean)
            return ((std::min(hi, v) - mean) * 128) / std::max(1, hi - mean) + 127;
        return 127 - std::min(127, ((mean - std::max(lo, v) + 5) * 127) / std::max(1, mean - lo));
    };
    for (int32_t x = 0; x < kGrid; ++x) {
        for (int32_t y = 0; y < kGrid; ++y) {
            Cell& cell = grids.sample[x][y];
            cell.r = static_cast<uint8_t>(stretch(cell.r));
            cell.g = static_cast<uint8_t>(stretch(cell.g));
            cell.b = static_cast<uint8_t>(stretch(cell.b));
            grids.tone[x][y] = static_cast<uint8_t>(tone(cell.r, cell.g, cell.b));
        }
    }
}

int32_t channelOf(const Cell& cell, int32_t c)
{
    return c == 0 ? cell.r : (c == 1 ? cell.g : cell.b);
}

void buildEdgeGrid(Grids& grids)
{
    for (int32_t x = 1; x <= 58; ++x) {
        for (int32_t y = 1; y <= 58; ++y) {
            int32_t largest = 0;
            for (int32_t c = 0; c < 3; ++c) {
                int32_t sum = 0;
                for (int32_t i = x - 1; i <= x + 1; ++i)
                    for (int32_t j = y - 1; j <= y + 1; ++j)
                        sum += channelOf(grids.sample[i][j], c);
                const int32_t m = (sum + 4) / 9;
                largest = std::max(largest, std::abs(channelOf(grids.sample[x][y], c) - m));
            }
            grids.edge[x][y] = static_cast<uint8_t>(largest);
        }
    }
}

void stretchEdges(Grids& grids)
{
    int32_t sum = 0;
    int32_t hi = -1;
    int32_t lo = 256;
    for (int32_t x = 1; x <= 58; ++x) {
        for (int32_t y = 1; y <= 58; ++y) {
            const int32_t e = grids.edge[x][y];
            sum += e;
            hi = std::max(hi, e);
            lo = std::min(lo, e);
        }
    }
    const int32_t mean = sum / 3364;
    for (int32_t x = 1; x <= 58; ++x) {
        for (int32_t y = 1; y <= 58; ++y) {
            const int32_t e = grids.edge[x][y];
            int32_t stretched;
            if (e >= mean)
                stretched = std::min(128, ((e - mean) * 128) / std::max(1, hi - mean)) + 127;
            else
                stretched = 127 - std::min(127, ((mean - e + 5) * 127) / std::max(1, mean - lo));
            grids.edge[x][y] = static_cast<uint8_t>(std::min(255, 16 * std::max(0, (stretched / 8) - 7)));
        }
    }
}

int32_t centroidWeight(int32_t v)
{
    if (v >= 201)
        return 2;
    if (v >= 128)
        return 1;
    return 0;
}

void centroidOf(const uint8_t grid[kGrid][kGrid], int32_t& cx, int32_t& cy)
{
    int32_t sumWx = 0, sumWy = 0, sumW = 0;
    for (int32_t x = 6; x <= 53; ++x) {
        for (int32_t y = 6; y <= 53; ++y) {
            const int32_t w = centroidWeight(grid[x][y]);
            sumWx += w * x;
            sumWy += w * y;
            sumW += w;
        }
    }
    if (sumW != 0) {
        cx = sumWx / sumW;
        cy = sumWy / sumW;
    }
}

} // namespace

RefIdenticalSignature refIdenticalSignature(const Picture& picture)
{
    auto grids = std::make_unique<Grids>();
    sampleGrid(picture, *grids);
    stretchContrast(*grids);
    buildEdgeGrid(*grids);
    stretchEdges(*grids);

    RefIdenticalSignature signature;
    centroidOf(grids->edge, signature.centroid[0], signature.centroid[1]);
    centroidOf(grids->tone, signature.centroid[2], signature.centroid[3]);

    constexpr int32_t d = kRefDivCount;
    auto& profile = signature.profile;
    for (int32_t p = 1; p <= 58; ++p) {
        for (int32_t b = 0; b < d; ++b) {
            const int32_t first = kBandStart + (kBandWidth - kBandOverlap) * b;
            int32_t edgeColumn = 0, edgeRow = 0, toneColumn = 0, toneRow = 0;
            for (int32_t t = first; t < first + kBandWidth; ++t) {
                edgeColumn += grids->edge[p][t];
                edgeRow += grids->edge[t][p];
                toneColumn += grids->tone[p][t];
                toneRow += grids->tone[t][p];
            }
            profile[b][p] = static_cast<uint8_t>(edgeColumn / kBandWidth);
            profile[d + b][p] = static_cast<uint8_t>(edgeRow / kBandWidth);
            profile[2 * d + b][p] = static_cast<uint8_t>(toneColumn / kBandWidth);
            profile[3 * d + b][p] = static_cast<uint8_t>(toneRow / kBandWidth);
        }
        for (int32_t k = 4 * d; k < kRefProfileCount; ++k)
            profile[k][p] = 0;
    }
    for (int32_t p = 2; p <= 57; ++p)
        for (int32_t k = 0; k < kRefProfileCount; ++k)
            profile[k][p] = static_cast<uint8_t>((profile[k][p - 1] + profile[k][p] + profile[k][p + 1]) / 3);
    return signature;
}

RefIdenticalLimits refChooseLimits(CheckMode mode, int32_t level)
{
    switch (mode) {
    case CheckMode::FileSize:
        return {2, 20, 30, 180};
    case CheckMode::PictureSize:
        return {2, 50, 70, 180};
    default:
        return {3, 115 + (level * kLevelStep) / 3, 150 + (level * kLevelStep) / 3, 370 + level * kLevelStep};
    }
}

namespace {

// Distances of profiles first..last (inclusive) of A and B, direct or at the
// offset (h1, h2).
void profileDistances(const RefIdenticalSignature& a, const RefIdenticalSignature& b, int32_t first, int32_t last,
                      int32_t h1, int32_t h2, int32_t* out)
{
    for (int32_t k = first; k <= last; ++k) {
        int32_t sum = 0;
        for (int32_t p = 6; p <= 53; ++p)
            sum += std::abs(a.profile[k][p + h1] - b.profile[k][p - h2]) / 5;
        out[k] = sum;
    }
}

void distancesWithOffset(const RefIdenticalSignature& a, const RefIdenticalSignature& b, int32_t first, int32_t last,
                         int32_t dx, int32_t dy, int32_t h1, int32_t h2, int32_t* dist)
{
    profileDistances(a, b, first, last, 0, 0, dist);
    if (dx != 0 || dy != 0) {
        int32_t alt[4 * kRefDivCount] = {};
        profileDistances(a, b, first, last, h1, h2, alt);
        int32_t sumAlt = 0, sumDist = 0;
        for (int32_t k = first; k <= last; ++k) {
            sumAlt += alt[k];
            sumDist += dist[k];
        }
        if (sumAlt < sumDist)
            for (int32_t k = first; k <= last; ++k)
                dist[k] = alt[k];
    }
}

} // namespace

RefIdenticalMatch refMatchSignatures(const RefIdenticalSignature& a, const RefIdenticalSignature& b,
                                     const RefIdenticalLimits& limits)
{
    constexpr int32_t d = kRefDivCount;
    RefIdenticalMatch result;
    const auto& ca = a.centroid;
    const auto& cb = b.centroid;
    for (int32_t k = 0; k < 4; ++k)
        if (std::abs(ca[k] - cb[k]) > limits.centroid)
            return result;

    int32_t dx = (ca[0] - cb[0] + ca[2] - cb[2]) / 2;
    int32_t dy = (ca[1] - cb[1] + ca[3] - cb[3]) / 2;
    dx = std::clamp(dx, -4, 4);
    dy = std::clamp(dy, -4, 4);
    const int32_t h1 = dx / 2;
    const int32_t h2 = dx - h1;

    int32_t dist[4 * d] = {};
    distancesWithOffset(a, b, 2 * d, 4 * d - 1, dx, dy, h1, h2, dist);
    for (int32_t k = 2 * d; k < 4 * d; ++k)
        if (dist[k] > limits.tone)
            return result;

    distancesWithOffset(a, b, 0, 2 * d - 1, dx, dy, h1, h2, dist);
    for (int32_t g = 0; g < 4; ++g) {
        int32_t largest = 0;
        for (int32_t band = 0; band < d; ++band)
            largest = std::max(largest, dist[g * d + band]);
        result.max[g] = largest;
    }
    for (int32_t k = 0; k < 2 * d; ++k)
        if (dist[k] > limits.edge)
            return result;

    for (int32_t g = 0; g < 4; ++g) {
        int32_t sum = 0;
        for (int32_t band = 0; band < d; ++band)
            sum += dist[g * d + band];
        result.mean[g] = sum / d;
    }
    result.totalScore = result.mean[0] + result.mean[1] + result.mean[2] + result.mean[3];
    result.match = result.totalScore < limits.total;
    return result;
}

namespace {

std::string identicalLine(const FileTable& files, int32_t a, int32_t b, const RefIdenticalSignature& sa,
                          const RefIdenticalSignature& sb, const RefIdenticalMatch& match)
{
    char buffer[64];
    std::string line;
    std::snprintf(buffer, sizeof buffer, "%.4d, %.6d, %.6d", match.totalScore, a, b);
    line += buffer;
    for (int32_t g = 0; g < 4; ++g) {
        std::snprintf(buffer, sizeof buffer, ", %.4d,%.4d", match.mean[g], match.max[g]);
        line += buffer;
    }
    for (int32_t k = 0; k < 4; ++k) {
        std::snprintf(buffer, sizeof buffer, ", %.2d,%.2d", sa.centroid[k], sb.centroid[k]);
        line += buffer;
    }
    line += ", ";
    line += fileNameOf(files[a].path);
    line += ",";
    line += fileNameOf(files[b].path);
    return line;
}

// Which gate turned a pair away: found again by loosening the limits one at
// a time.
int32_t rejectionGate(const RefIdenticalSignature& a, const RefIdenticalSignature& b, RefIdenticalLimits limits)
{
    constexpr int32_t kOpen = 1 << 20;
    const RefIdenticalLimits original = limits;
    limits = {kOpen, kOpen, kOpen, kOpen};
    limits.centroid = original.centroid;
    if (!refMatchSignatures(a, b, limits).match)
        return 0;
    limits.tone = original.tone;
    if (!refMatchSignatures(a, b, limits).match)
        return 1;
    limits.edge = original.edge;
    if (!refMatchSignatures(a, b, limits).match)
        return 2;
    return 3;
}

// One call of the engine over the given members. signatures[f][o] is f's
// signature turned to orientation o (only o = 0 unless `turned`).
void compareMembers(FileTable& files, CheckMode mode, int32_t level, const std::vector<int32_t>& members,
                    std::vector<std::array<RefIdenticalSignature, kOrientationCount>>& signatures, bool turned,
                    RefOutcome& outcome)
{
    for (int32_t f : members) {
        signatures[f][0].centroid.fill(0);
        LoadedPicture loaded = loadPicture(files[f].path, JpegIdct::Fast);
        if (!loaded.ok() || loaded.picture.width() < kMinSide || loaded.picture.height() < kMinSide) {
            outcome.unreadable.push_back(files[f].path);
            files[f].skip = 1;
            continue;
        }
        ++outcome.loadCount;
        signatures[f][0] = refIdenticalSignature(loaded.picture);
        for (int32_t o = 1; turned && o < kOrientationCount; ++o)
            signatures[f][o] = refIdenticalSignature(turnedPicture(loaded.picture, orientationAt(o)));
    }
    const RefIdenticalLimits limits = refChooseLimits(mode, level);
    const auto count = static_cast<int32_t>(members.size());
    const int32_t orientations = turned ? kOrientationCount : 1;
    for (int32_t m = 0; m < count - 1; ++m) {
        const int32_t a = members[m];
        if (files[a].skip == 1)
            continue;
        for (int32_t n = m + 1; n < count; ++n) {
            const int32_t b = members[n];
            if (files[b].skip == 1)
                continue;
            for (int32_t o = 0; o < orientations; ++o) {
                const RefIdenticalSignature& sb = signatures[b][o];
                const RefIdenticalMatch match = refMatchSignatures(signatures[a][0], sb, limits);
                if (!match.match) {
                    if (o == 0)
                        ++outcome.rejectedAt[rejectionGate(signatures[a][0], sb, limits)];
                    continue;
                }
                outcome.lines.push_back(identicalLine(files, a, b, signatures[a][0], sb, match));
                ++outcome.pairCount;
                if (o != 0)
                    outcome.turnedPairs.push_back({a, b, orientationAt(o)});
                break;
            }
        }
    }
}

} // namespace

RefOutcome refCompareIdentical(FileTable& files, CheckMode mode, int32_t level, bool turned)
{
    RefOutcome outcome;
    std::vector<std::array<RefIdenticalSignature, kOrientationCount>> signatures(files.size() + 1);
    std::vector<int32_t> members;
    for (int32_t i = 0; i < static_cast<int32_t>(files.size()); ++i)
        members.push_back(i);
    compareMembers(files, mode, level, members, signatures, turned, outcome);
    return outcome;
}

RefOutcome refCompareIdenticalRuns(FileTable& files, CheckMode mode, int32_t level,
                                   const std::vector<std::vector<int32_t>>& runs)
{
    RefOutcome outcome;
    std::vector<std::array<RefIdenticalSignature, kOrientationCount>> signatures(files.size() + 1);
    for (const auto& run : runs)
        compareMembers(files, mode, level, run, signatures, false, outcome);
    return outcome;
}

} // namespace crosscheck
