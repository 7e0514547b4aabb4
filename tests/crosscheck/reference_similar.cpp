#include "crosscheck/reference_similar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/file_name.h"
#include "picture/picture_loader.h"

namespace crosscheck {
namespace {

constexpr int32_t kG = kRefSimilarGrid;
constexpr int32_t kMinSide = 3;

struct Colour {
    int32_t r = 0, g = 0, b = 0; // bytes, held wider for plain arithmetic
};

// The working data of one picture.
struct Work {
    Colour colour[kG][kG];
    int32_t blackLevel = 255;
    uint8_t luma[kG][kG] = {};
    uint8_t chroma[kG][kG] = {};
    int32_t hue[kG][kG] = {};
};

int32_t channelAt(const Picture& picture, int32_t column, int32_t row, int32_t channel)
{
    if (column < 0 || column >= picture.width() || row < 0 || row >= picture.height())
        throw std::logic_error("reference similar sampling read outside the picture");
    return picture.row(row)[column * 3 + (2 - channel)];
}

void sampleAndStretch(const Picture& picture, Work& work, int32_t x0, int32_t x1, int32_t y0, int32_t y1)
{
    work.blackLevel = 255;
    for (int32_t y = 1; y <= 68; ++y) {
        const int32_t r = std::max(1, (y1 - y0 - 1) * y / 69 + y0);
        for (int32_t x = 1; x <= 68; ++x) {
            const int32_t c = std::max(1, (x1 - x0 - 1) * x / 69 + x0);
            int32_t sr = 0, sg = 0, sb = 0;
            for (int32_t row = r - 1; row <= r + 1; ++row) {
                for (int32_t column = c - 1; column <= c + 1; ++column) {
                    sr += channelAt(picture, column, row, 0);
                    sg += channelAt(picture, column, row, 1);
                    sb += channelAt(picture, column, row, 2);
                }
            }
            work.colour[x][y] = Colour {sr / 9, sg / 9, sb / 9};
            const int32_t darkest = std::min({sr, sg, sb}) / 9;
            if (darkest < work.blackLevel)
                work.blackLevel = darkest;
        }
    }
    const int32_t bl = work.blackLevel;
    if (25 < bl && bl < 255) {
        for (int32_t x = 1; x <= 68; ++x) {
            for (int32_t y = 1; y <= 68; ++y) {
                Colour& cell = work.colour[x][y];
                cell.r = (cell.r - bl) * 255 / (255 - bl);
                cell.g = (cell.g - bl) * 255 / (255 - bl);
                cell.b = (cell.b - bl) * 255 / (255 - bl);
            }
        }
    }
}

bool cellsAgree(const Colour& p, const Colour& q)
{
    return std::abs(p.r - q.r) <= 14 && std::abs(p.g - q.g) <= 14 && std::abs(p.b - q.b) <= 14;
}

bool columnUniform(const Work& work, int32_t x)
{
    for (int32_t k = 1; k <= 4; ++k)
        if (!cellsAgree(work.colour[x][9 * k], work.colour[x][9 * k + 30]))
            return false;
    return true;
}

bool rowUniform(const Work& work, int32_t y)
{
    for (int32_t k = 1; k <= 4; ++k)
        if (!cellsAgree(work.colour[9 * k][y], work.colour[9 * k + 30][y]))
            return false;
    return true;
}

std::array<int32_t, 4> frameEdges(const Work& work)
{
    int32_t left = 4, right = 66, top = 4, bottom = 66;
    for (int32_t x = 4; x <= 25; ++x) {
        if (!columnUniform(work, x))
            break;
        left = x + 1;
    }
    for (int32_t x = 66; x >= 45; --x) {
        if (!columnUniform(work, x))
            break;
        right = x - 1;
    }
    for (int32_t y = 4; y <= 25; ++y) {
        if (!rowUniform(work, y))
            break;
        top = y + 1;
    }
    for (int32_t y = 66; y >= 45; --y) {
        if (!rowUniform(work, y))
            break;
        bottom = y - 1;
    }
    return {left, right, top, bottom};
}

void derivePlanes(Work& work)
{
    for (int32_t x = 1; x <= 68; ++x) {
        for (int32_t y = 1; y <= 68; ++y) {
            const Colour& c = work.colour[x][y];
            const int32_t mx = std::max({c.r, c.g, c.b});
            const int32_t mn = std::min({c.r, c.g, c.b});
            work.luma[x][y] = static_cast<uint8_t>((30 * c.r + 59 * c.g + 11 * c.b) / 100);
            work.chroma[x][y] = static_cast<uint8_t>(mx - mn);
            int32_t hue;
            if (mx == mn)
                hue = 0;
            else if (c.r == mx)
                hue = (c.g - c.b) * 60 / (mx - mn);
            else if (c.g == mx)
                hue = (c.b - c.r) * 60 / (mx - mn) + 120;
            else
                hue = (c.r - c.g) * 60 / (mx - mn) + 240;
            if (hue < 0)
                hue += 360;
            work.hue[x][y] = hue;
        }
    }
}

int32_t rankLevel(const int32_t* histogram, int32_t n)
{
    int32_t sum = 0;
    for (int32_t v = 255; v >= 0; --v) {
        sum += histogram[v];
        if (sum > n)
            return v;
    }
    return 0;
}

int32_t truncatedSqrt(int32_t v)
{
    auto root = static_cast<int64_t>(std::sqrt(static_cast<double>(v)));
    while (root * root > v)
        --root;
    while ((root + 1) * (root + 1) <= v)
        ++root;
    return static_cast<int32_t>(root);
}

void deriveSignature(Work& work, RefSimilarSignature& sig)
{
    int32_t histContrast[256] = {}, histLuma[256] = {}, histChroma[256] = {};
    for (int32_t x = 5; x <= 64; ++x) {
        for (int32_t y = 5; y <= 64; ++y) {
            int32_t sR = 0, sG = 0, sB = 0;
            for (int32_t i = x - 3; i <= x + 3; ++i) {
                for (int32_t j = y - 3; j <= y + 3; ++j) {
                    sR += work.colour[i][j].r;
                    sG += work.colour[i][j].g;
                    sB += work.colour[i][j].b;
                }
            }
            const int32_t mR = (2 * sR + 24) / 49;
            const int32_t mG = (2 * sG + 24) / 49;
            const int32_t mB = (2 * sB + 24) / 49;
            const Colour& c = work.colour[x][y];
            const int32_t contrast = std::max({std::abs(2 * c.r - mR), std::abs(2 * c.g - mG), std::abs(2 * c.b - mB)});
            sig.contrastMap[x][y] = static_cast<uint8_t>(contrast & 0xFF);

            int32_t sC = 0;
            for (int32_t i = x - 2; i <= x + 2; ++i)
                for (int32_t j = y - 2; j <= y + 2; ++j)
                    sC += work.chroma[i][j];
            const int32_t mC = (2 * sC + 12) / 25;
            work.chroma[x][y] = static_cast<uint8_t>(std::abs(2 * work.chroma[x][y] - mC) & 0xFF);

            sig.planeTotals[0] += sig.contrastMap[x][y];
            sig.planeTotals[1] += work.luma[x][y];
            sig.planeTotals[2] += work.chroma[x][y];
            ++histContrast[sig.contrastMap[x][y]];
            ++histLuma[work.luma[x][y]];
            ++histChroma[work.chroma[x][y]];
        }
    }
    const int32_t contrastHigh = rankLevel(histContrast, 600), contrastLow = rankLevel(histContrast, 1200);
    const int32_t lumaHigh = rankLevel(histLuma, 600), lumaLow = rankLevel(histLuma, 1200);
    const int32_t chromaHigh = rankLevel(histChroma, 450), chromaLow = rankLevel(histChroma, 900);

    int32_t sumX[4] = {}, sumY[4] = {};
    int32_t contrastWeights = 0, luma255 = 0, chroma255 = 0, warm = 0;
    auto& prof = sig.profiles;
    for (int32_t x = 5; x <= 64; ++x) {
        for (int32_t y = 5; y <= 64; ++y) {
            const int32_t l = work.luma[x][y];
            const int32_t cc = work.chroma[x][y];
            if (l >= 115 && l <= 221 && cc >= 31 && cc <= 149 && work.hue[x][y] <= 39) {
                work.hue[x][y] = 255;
                sumX[3] += x;
                sumY[3] += y;
                ++warm;
                prof[7][x] = static_cast<uint8_t>(prof[7][x] + 2);
                prof[8][y] = static_cast<uint8_t>(prof[8][y] + 2);
            } else {
                work.hue[x][y] = 0;
            }

            const int32_t v = sig.contrastMap[x][y];
            int32_t level = 0, weight = 0;
            if (v >= contrastHigh) {
                level = 255;
                weight = 2;
            } else if (v >= contrastLow) {
                level = 128;
                weight = 1;
            }
            if (weight > 0) {
                sumX[0] += weight * x;
                sumY[0] += weight * y;
                contrastWeights += weight;
                prof[1][x] = static_cast<uint8_t>(prof[1][x] + weight);
                prof[2][y] = static_cast<uint8_t>(prof[2][y] + weight);
            }
            sig.contrastMap[x][y] = static_cast<uint8_t>(level);

            level = 0;
            weight = 0;
            if (l >= lumaHigh) {
                level = 255;
                weight = 2;
                sumX[1] += x;
                sumY[1] += y;
                ++luma255;
            } else if (l >= lumaLow) {
                level = 128;
                weight = 1;
            }
            prof[3][x] = static_cast<uint8_t>(prof[3][x] + weight);
            prof[4][y] = static_cast<uint8_t>(prof[4][y] + weight);
            work.luma[x][y] = static_cast<uint8_t>(level);

            level = 0;
            weight = 0;
            if (cc >= chromaHigh) {
                level = 255;
                weight = 2;
                sumX[2] += x;
                sumY[2] += y;
                ++chroma255;
            } else if (cc >= chromaLow) {
                level = 128;
                weight = 1;
            }
            prof[5][x] = static_cast<uint8_t>(prof[5][x] + weight);
            prof[6][y] = static_cast<uint8_t>(prof[6][y] + weight);
            work.chroma[x][y] = static_cast<uint8_t>(level);
        }
    }

    const int32_t divisors[4] = {contrastWeights, luma255, chroma255, warm};
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t n = divisors[k];
        sig.centroidX[k] = (sumX[k] + n / 2) / std::max(1, n);
        sig.centroidY[k] = (sumY[k] + n / 2) / std::max(1, n);
    }
    if (sig.centroidX[3] == 0) {
        sig.centroidX[3] = 35;
        sig.centroidY[3] = 35;
    }

    int32_t spreadX = 0, spreadY = 0;
    for (int32_t x = 5; x <= 64; ++x)
        spreadX += (x - sig.centroidX[3]) * (x - sig.centroidX[3]) * prof[7][x];
    for (int32_t y = 5; y <= 64; ++y)
        spreadY += (y - sig.centroidY[3]) * (y - sig.centroidY[3]) * prof[8][y];
    sig.spreadA = truncatedSqrt(spreadX / std::max(1, warm));
    sig.spreadB = truncatedSqrt(spreadY / std::max(1, warm));
    if (sig.spreadA == 0 || sig.spreadB == 0) {
        sig.spreadA = 10;
        sig.spreadB = 10;
    }

    for (int32_t r = 1; r <= 4; ++r) {
        int32_t a = 0, b = 0, c = 0;
        for (int32_t i = 5; i <= 28; ++i)
            a += prof[r][i];
        for (int32_t i = 23; i <= 46; ++i)
            b += prof[r][i];
        for (int32_t i = 41; i <= 64; ++i)
            c += prof[r][i];
        int32_t* code = &sig.bandCodes[3 * r - 2];
        code[0] = code[1] = code[2] = 2;
        if (b * 130 / 100 < a && c * 130 / 100 < a)
            code[0] = 3;
        if (a * 130 / 100 < b && c * 130 / 100 < b)
            code[1] = 3;
        if (a * 130 / 100 < c && b * 130 / 100 < c)
            code[2] = 3;
        if (a * 130 / 100 < b && a * 130 / 100 < c)
            code[0] = 1;
        if (b * 130 / 100 < a && b * 130 / 100 < c)
            code[1] = 1;
        if (c * 130 / 100 < a && c * 130 / 100 < b)
            code[2] = 1;
    }
}

} // namespace

RefSimilarSignature refSimilarSignature(const Picture& picture)
{
    auto work = std::make_unique<Work>();
    RefSimilarSignature sig;
    const int32_t w = picture.width();
    const int32_t h = picture.height();
    sampleAndStretch(picture, *work, 0, w, 0, h);
    sig.frame = frameEdges(*work);
    const int32_t left = sig.frame[0], right = sig.frame[1], top = sig.frame[2], bottom = sig.frame[3];
    if (right - left < 60 || bottom - top < 60)
        sampleAndStretch(picture, *work, w * left / 70, w * right / 70, h * top / 70, h * bottom / 70);
    derivePlanes(*work);
    deriveSignature(*work, sig);
    return sig;
}

namespace {

struct Axis {
    bool referenceIsA = true;
    int32_t lo = 0, hi = 0;
    int32_t cR = 0, cO = 0, sR = 1, sO = 1;
    int32_t map(int32_t k) const { return sO * (k - cR) / sR + cO; }
};

Axis makeAxis(int32_t cA, int32_t sA, int32_t cB, int32_t sB)
{
    Axis axis;
    axis.referenceIsA = sA >= sB;
    axis.cR = axis.referenceIsA ? cA : cB;
    axis.sR = axis.referenceIsA ? sA : sB;
    axis.cO = axis.referenceIsA ? cB : cA;
    axis.sO = axis.referenceIsA ? sB : sA;
    axis.lo = axis.cR - std::min(axis.cR - 5, (axis.cO - 5) * axis.sR / axis.sO);
    axis.hi = axis.cR + std::min(64 - axis.cR, axis.sR * (64 - axis.cO) / axis.sO);
    return axis;
}

int32_t checkedIndex(int32_t i)
{
    if (i < 0 || i >= kG)
        throw std::logic_error("reference similar window index outside the grid");
    return i;
}

int32_t codeDistance(const RefSimilarSignature& a, const RefSimilarSignature& b, int32_t g)
{
    int32_t d = 0;
    bool bothStrong = false, bothWeak = false;
    for (int32_t e = 3 * g + 1; e <= 3 * g + 3; ++e) {
        d += std::abs(a.bandCodes[e] - b.bandCodes[e]);
        if (a.bandCodes[e] == 3 && b.bandCodes[e] == 3)
            bothStrong = true;
        if (a.bandCodes[e] == 1 && b.bandCodes[e] == 1)
            bothWeak = true;
    }
    return d - (bothStrong ? 1 : 0) - (bothWeak ? 1 : 0);
}

// Plain and aligned profile score for one pair of rows (x row, y row).
int32_t profileScore(const RefSimilarSignature& a, const RefSimilarSignature& b, int32_t rowX, int32_t rowY,
                     bool window, const Axis& ax, const Axis& ay)
{
    int32_t px = 0, py = 0;
    for (int32_t i = 5; i <= 64; ++i) {
        px += std::abs(a.profiles[rowX][i] - b.profiles[rowX][i]);
        py += std::abs(a.profiles[rowY][i] - b.profiles[rowY][i]);
    }
    int32_t score = px / 60 + py / 60;
    int32_t aligned = 0;
    if (window) {
        auto alignedAxis = [&](const Axis& axis, int32_t row) {
            const RefSimilarSignature& r = axis.referenceIsA ? a : b;
            const RefSimilarSignature& o = axis.referenceIsA ? b : a;
            int32_t sum = 0;
            for (int32_t k = axis.lo; k <= axis.hi; ++k)
                sum += std::abs(r.profiles[row][checkedIndex(k)] - o.profiles[row][checkedIndex(axis.map(k))]);
            return sum / std::max(1, axis.hi - axis.lo + 1);
        };
        const int32_t alignedX = alignedAxis(ax, rowX);
        const int32_t alignedY = alignedAxis(ay, rowY);
        aligned = (alignedX >= 1 && alignedY >= 1) ? alignedX + alignedY : 0;
    }
    if (aligned > 0 && aligned < score)
        score = aligned;
    return score;
}

std::string codesNumber(const RefSimilarSignature& s, int32_t first)
{
    int32_t value = 0;
    for (int32_t e = first; e < first + 6; ++e)
        value = value * 10 + s.bandCodes[e];
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.6d", value);
    return buffer;
}

// Steps 1 to 7 for one pair: A's signature against B's. Adds the line of
// an accepted pair; counts a rejected one at its gate.
bool refScorePair(const RefSimilarSignature& a, const RefSimilarSignature& b, int32_t ia, int32_t ib,
                  const std::string& pathA, const std::string& pathB, int32_t level, bool many, RefOutcome& outcome)
{
    const double lv = 2.5 * level;

    // Step 1.
    const int32_t contrastCodes = codeDistance(a, b, 0) + codeDistance(a, b, 1);
    const int32_t lumaCodes = codeDistance(a, b, 2) + codeDistance(a, b, 3);
    if (!(contrastCodes <= level + 3 && lumaCodes <= level + 3 && contrastCodes + lumaCodes <= lv + 4)) {
        ++outcome.rejectedAt[0];
        return false;
    }

    // Step 2.
    const bool window = std::abs(a.centroidX[3] - b.centroidX[3]) < 22
        && std::abs(a.centroidY[3] - b.centroidY[3]) < 22;
    Axis ax, ay;
    if (window) {
        ax = makeAxis(a.centroidX[3], a.spreadA, b.centroidX[3], b.spreadA);
        ay = makeAxis(a.centroidY[3], a.spreadB, b.centroidY[3], b.spreadB);
    }

    // Step 3.
    int32_t lumaScore = profileScore(a, b, 3, 4, window, ax, ay);
    lumaScore += std::abs(a.planeTotals[1] - b.planeTotals[1]) / 41000;
    if (!(lumaScore < lv + 28)) {
        ++outcome.rejectedAt[1];
        return false;
    }

    // Step 4.
    int32_t chromaScore = profileScore(a, b, 5, 6, window, ax, ay);
    chromaScore += std::abs(a.planeTotals[2] - b.planeTotals[2]) / 30000;
    if (chromaScore > 30)
        chromaScore -= std::min(7, std::max(0, 15 - lumaScore));
    if (!(chromaScore < lv + 35)) {
        ++outcome.rejectedAt[2];
        return false;
    }

    // Step 5.
    int32_t plainSum = 0;
    for (int32_t x = 5; x <= 64; ++x)
        for (int32_t y = 5; y <= 64; ++y)
            plainSum += std::abs(a.contrastMap[x][y] - b.contrastMap[x][y]);
    int32_t contrastScore = plainSum / 3600;
    if (window) {
        int32_t sum = 0;
        for (int32_t kx = ax.lo; kx <= ax.hi; ++kx) {
            const int32_t axA = checkedIndex(ax.referenceIsA ? kx : ax.map(kx));
            const int32_t axB = checkedIndex(ax.referenceIsA ? ax.map(kx) : kx);
            for (int32_t ky = ay.lo; ky <= ay.hi; ++ky) {
                const int32_t ayA = checkedIndex(ay.referenceIsA ? ky : ay.map(ky));
                const int32_t ayB = checkedIndex(ay.referenceIsA ? ay.map(ky) : ky);
                sum += std::abs(a.contrastMap[axA][ayA] - b.contrastMap[axB][ayB]);
            }
        }
        const int32_t aligned = sum / std::max(1, (ax.hi - ax.lo + 1) * (ay.hi - ay.lo + 1));
        if (aligned > 0 && aligned < contrastScore)
            contrastScore = aligned;
    }
    contrastScore += std::abs(a.planeTotals[0] - b.planeTotals[0]) / 7500;
    if (chromaScore > 25)
        chromaScore -= std::min(8, std::max(0, 50 - contrastScore));

    // Step 6.
    const int32_t similarity = 2 * contrastScore + lumaScore + chromaScore;
    const bool accepted = many
        ? (contrastScore < lv + 77 && lumaScore < lv + 24 && chromaScore < lv + 23
           && lumaScore + chromaScore < lv + 42 && similarity < 5 * level + 188)
        : (contrastScore < lv + 87 && lumaScore < lv + 28 && chromaScore < lv + 27
           && lumaScore + chromaScore < lv + 47 && similarity < 5 * level + 204);
    if (!accepted) {
        ++outcome.rejectedAt[3];
        return false;
    }

    // Step 7.
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%.4d, %.6d, %.6d, %.3d,%.3d,%.3d,%.6d,%.6d,", similarity, ia, ib,
                  contrastScore, lumaScore, chromaScore, std::abs(a.planeTotals[1] - b.planeTotals[1]),
                  std::abs(a.planeTotals[2] - b.planeTotals[2]));
    std::string line = buffer;
    line += codesNumber(a, 1) + "," + codesNumber(b, 1) + ",";
    std::snprintf(buffer, sizeof buffer, "%.2d", contrastCodes);
    line += buffer;
    line += ",";
    line += codesNumber(a, 7) + "," + codesNumber(b, 7) + ",";
    std::snprintf(buffer, sizeof buffer, "%.2d", lumaCodes);
    line += buffer;
    line += ",";
    line += fileNameOf(pathA);
    line += ",";
    line += fileNameOf(pathB);
    outcome.lines.push_back(line);
    ++outcome.pairCount;
    return true;
}

} // namespace

RefOutcome refCompareSimilar(FileTable& files, int32_t level, RefTurnedPairs* turned)
{
    RefOutcome outcome;
    const auto fileCount = static_cast<int32_t>(files.size());
    std::vector<RefSimilarSignature> sigs(files.size());
    // With turned copies: each picture's signature in orientations 1..7.
    std::vector<std::vector<RefSimilarSignature>> turnedSigs(files.size());

    for (int32_t i = 0; i < fileCount; ++i) {
        const bool jpeg = upperExtension(files[i].path) == ".JPG";
        if (jpeg)
            files[i].skip = 0;
        LoadedPicture loaded = loadPicture(files[i].path, JpegIdct::Fast);
        if (!loaded.ok() || loaded.picture.width() < kMinSide || loaded.picture.height() < kMinSide) {
            outcome.unreadable.push_back(files[i].path);
            files[i].skip = 1;
            continue;
        }
        ++outcome.loadCount;
        sigs[i] = refSimilarSignature(loaded.picture);
        files[i].spreadA = sigs[i].spreadA;
        files[i].spreadB = sigs[i].spreadB;
        if (turned != nullptr) {
            for (int32_t o = 1; o < kOrientationCount; ++o)
                turnedSigs[i].push_back(refSimilarSignature(turnedPicture(loaded.picture, orientationAt(o))));
        }
    }

    const bool many = fileCount > 1000;
    for (int32_t ia = 0; ia <= fileCount - 2; ++ia) {
        if (files[ia].skip != 0)
            continue;
        for (int32_t ib = ia + 1; ib <= fileCount - 1; ++ib) {
            const File_rec& fa = files[ia];
            const File_rec& fb = files[ib];
            if (fb.skip != 0 || fa.spreadA == 0 || fa.spreadB == 0 || fb.spreadA == 0 || fb.spreadB == 0)
                continue;
            if (refScorePair(sigs[ia], sigs[ib], ia, ib, fa.path, fb.path, level, many, outcome) || turned == nullptr)
                continue;
            // The orientations in order; the first that matches is the pair's.
            for (int32_t o = 1; o < kOrientationCount; ++o) {
                const RefSimilarSignature& b = turnedSigs[static_cast<std::size_t>(ib)][static_cast<std::size_t>(o - 1)];
                if (refScorePair(sigs[ia], b, ia, ib, fa.path, fb.path, level, many, outcome)) {
                    (*turned)[{ia, ib}] = orientationAt(o);
                    break;
                }
            }
        }
    }
    return outcome;
}

} // namespace crosscheck
