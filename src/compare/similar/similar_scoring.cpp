#include "compare/similar/similar_scoring.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "picture/picture_loader.h"

namespace {

// Warm centroids this many cells apart (or more) on an axis are too far
// apart for the alignment to mean anything.
constexpr int32_t kAlignmentReach = 22;

// Divisors that bring the plane totals (sums over 3600 cells) to the scale
// of the scores.
constexpr int32_t kContrastTotalDivisor = 7500;
constexpr int32_t kLumaTotalDivisor = 41000;
constexpr int32_t kChromaTotalDivisor = 30000;

// Step bounds that do not depend on the number of files.
constexpr double kCodeSumBound = 4;
constexpr double kLumaStepBound = 28;
constexpr double kChromaStepBound = 35;

// Final bounds (added to 2.5 x CheckLevel; similarity to 5 x CheckLevel).
struct FinalBounds {
    double contrast;
    double luma;
    double chroma;
    double lumaChroma;
    double similarity;
};
constexpr FinalBounds kSmallSearchBounds {87, 28, 27, 47, 204};
constexpr FinalBounds kLargeSearchBounds {77, 24, 23, 42, 188};

// The largest amounts the two chroma reductions take off.
constexpr int32_t kLumaReductionMax = 7;
constexpr int32_t kContrastReductionMax = 8;

double levelAllowance(int32_t level)
{
    return 2.5 * level;
}

int32_t codeAt(const std::array<int32_t, 13>& codes, int32_t first)
{
    return codes[first] * 100000 + codes[first + 1] * 10000 + codes[first + 2] * 1000 + codes[first + 3] * 100
        + codes[first + 4] * 10 + codes[first + 5];
}

int32_t rowDistance(const std::array<uint8_t, kSimilarGridSize>& a, const std::array<uint8_t, kSimilarGridSize>& b)
{
    int32_t sum = 0;
    for (int32_t i = kInnerFirst; i <= kInnerLast; ++i)
        sum += std::abs(static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i]));
    return sum;
}

int32_t alignedRowDistance(const SimilarSignature& a, const SimilarSignature& b, int32_t row, const AxisAlignment& axis)
{
    const auto& reference = axis.referenceIsA ? a.profiles[row] : b.profiles[row];
    const auto& other = axis.referenceIsA ? b.profiles[row] : a.profiles[row];
    int32_t sum = 0;
    for (int32_t k = axis.lo; k <= axis.hi; ++k)
        sum += std::abs(static_cast<int32_t>(reference[k]) - static_cast<int32_t>(other[axis.mapped(k)]));
    return sum / std::max(1, axis.length());
}

} // namespace

int32_t groupCodeDistance(const std::array<int32_t, 13>& a, const std::array<int32_t, 13>& b, int32_t group)
{
    int32_t distance = 0;
    bool bothStrong = false;
    bool bothWeak = false;
    for (int32_t e = 3 * group + 1; e <= 3 * group + 3; ++e) {
        distance += std::abs(a[e] - b[e]);
        bothStrong = bothStrong || (a[e] == 3 && b[e] == 3);
        bothWeak = bothWeak || (a[e] == 1 && b[e] == 1);
    }
    return distance - (bothStrong ? 1 : 0) - (bothWeak ? 1 : 0);
}

CodeDistances codeDistances(const SimilarSignature& a, const SimilarSignature& b)
{
    return CodeDistances {groupCodeDistance(a.bandCodes, b.bandCodes, 0) + groupCodeDistance(a.bandCodes, b.bandCodes, 1),
                          groupCodeDistance(a.bandCodes, b.bandCodes, 2) + groupCodeDistance(a.bandCodes, b.bandCodes, 3)};
}

bool passesCodeGate(const CodeDistances& codes, int32_t level)
{
    return codes.contrast <= level + 3 && codes.luminance <= level + 3
        && codes.contrast + codes.luminance <= levelAllowance(level) + kCodeSumBound;
}

AxisAlignment axisAlignment(int32_t centreA, int32_t spreadA, int32_t centreB, int32_t spreadB)
{
    AxisAlignment axis;
    axis.referenceIsA = spreadA >= spreadB;
    axis.centreR = axis.referenceIsA ? centreA : centreB;
    axis.spreadR = axis.referenceIsA ? spreadA : spreadB;
    axis.centreO = axis.referenceIsA ? centreB : centreA;
    axis.spreadO = axis.referenceIsA ? spreadB : spreadA;
    axis.lo = axis.centreR - std::min(axis.centreR - kInnerFirst, (axis.centreO - kInnerFirst) * axis.spreadR / axis.spreadO);
    axis.hi = axis.centreR + std::min(kInnerLast - axis.centreR, axis.spreadR * (kInnerLast - axis.centreO) / axis.spreadO);
    return axis;
}

AlignmentWindow alignmentWindow(const SimilarSignature& a, const SimilarSignature& b)
{
    AlignmentWindow window;
    window.exists = std::abs(a.centroidX[kWarmCentroid] - b.centroidX[kWarmCentroid]) < kAlignmentReach
        && std::abs(a.centroidY[kWarmCentroid] - b.centroidY[kWarmCentroid]) < kAlignmentReach;
    if (window.exists) {
        window.x = axisAlignment(a.centroidX[kWarmCentroid], a.spreadA, b.centroidX[kWarmCentroid], b.spreadA);
        window.y = axisAlignment(a.centroidY[kWarmCentroid], a.spreadB, b.centroidY[kWarmCentroid], b.spreadB);
    }
    return window;
}

int32_t profileDistance(const SimilarSignature& a, const SimilarSignature& b, int32_t rowX, int32_t rowY,
                        const AlignmentWindow& window)
{
    int32_t score = rowDistance(a.profiles[rowX], b.profiles[rowX]) / kInnerSize
        + rowDistance(a.profiles[rowY], b.profiles[rowY]) / kInnerSize;
    if (window.exists) {
        const int32_t ax = alignedRowDistance(a, b, rowX, window.x);
        const int32_t ay = alignedRowDistance(a, b, rowY, window.y);
        const int32_t aligned = (ax >= 1 && ay >= 1) ? ax + ay : 0;
        if (aligned > 0 && aligned < score)
            score = aligned;
    }
    return score;
}

int32_t contrastMapDistance(const SimilarSignature& a, const SimilarSignature& b, const AlignmentWindow& window)
{
    int32_t plain = 0;
    for (int32_t x = 0; x < kInnerSize; ++x) {
        const auto& columnA = a.contrastMap[x];
        const auto& columnB = b.contrastMap[x];
        for (int32_t y = 0; y < kInnerSize; ++y)
            plain += std::abs(static_cast<int32_t>(columnA[y]) - static_cast<int32_t>(columnB[y]));
    }
    int32_t score = plain / (kInnerSize * kInnerSize);
    if (window.exists) {
        // The y mapping is the same for every column: work it out once.
        std::array<int32_t, kInnerSize> yA {};
        std::array<int32_t, kInnerSize> yB {};
        const int32_t lengthY = window.y.length();
        for (int32_t i = 0; i < lengthY; ++i) {
            yA[i] = window.y.indexOfA(window.y.lo + i) - kInnerFirst;
            yB[i] = window.y.indexOfB(window.y.lo + i) - kInnerFirst;
        }
        int32_t sum = 0;
        for (int32_t kx = window.x.lo; kx <= window.x.hi; ++kx) {
            const auto& columnA = a.contrastMap[window.x.indexOfA(kx) - kInnerFirst];
            const auto& columnB = b.contrastMap[window.x.indexOfB(kx) - kInnerFirst];
            for (int32_t i = 0; i < lengthY; ++i)
                sum += std::abs(static_cast<int32_t>(columnA[yA[i]]) - static_cast<int32_t>(columnB[yB[i]]));
        }
        const int32_t aligned = sum / std::max(1, window.x.length() * lengthY);
        if (aligned > 0 && aligned < score)
            score = aligned;
    }
    return score;
}

std::optional<SimilarPairScores> scoreGatedPair(const SimilarSignature& a, const SimilarSignature& b,
                                                const CodeDistances& codes, int32_t level, int32_t fileCount)
{
    const double lv = levelAllowance(level);
    const FinalBounds& bounds = fileCount > kLargeSearchFiles ? kLargeSearchBounds : kSmallSearchBounds;
    const AlignmentWindow window = alignmentWindow(a, b);

    SimilarPairScores s;
    s.codes = codes;
    s.luma = profileDistance(a, b, 3, 4, window)
        + std::abs(a.planeTotals[1] - b.planeTotals[1]) / kLumaTotalDivisor;
    // LumaScore does not change after this point, so its final bound (never
    // looser than the step bound) can reject the pair right away.
    if (!(s.luma < lv + kLumaStepBound) || !(s.luma < lv + bounds.luma))
        return std::nullopt;

    s.chroma = profileDistance(a, b, 5, 6, window)
        + std::abs(a.planeTotals[2] - b.planeTotals[2]) / kChromaTotalDivisor;
    if (s.chroma > 30)
        s.chroma -= std::min(kLumaReductionMax, std::max(0, 15 - s.luma));
    if (!(s.chroma < lv + kChromaStepBound))
        return std::nullopt;
    // The contrast reduction takes at most 8 off ChromaScore; a pair that
    // cannot pass even then is spared the costly map comparison.
    if (!(s.chroma - kContrastReductionMax < lv + bounds.chroma)
        || !(s.luma + s.chroma - kContrastReductionMax < lv + bounds.lumaChroma))
        return std::nullopt;

    s.contrast = contrastMapDistance(a, b, window)
        + std::abs(a.planeTotals[0] - b.planeTotals[0]) / kContrastTotalDivisor;
    if (s.chroma > 25)
        s.chroma -= std::min(kContrastReductionMax, std::max(0, 50 - s.contrast));

    s.similarity = 2 * s.contrast + s.luma + s.chroma;
    const bool accepted = s.contrast < lv + bounds.contrast && s.luma < lv + bounds.luma
        && s.chroma < lv + bounds.chroma && s.luma + s.chroma < lv + bounds.lumaChroma
        && s.similarity < 2 * lv + bounds.similarity;
    if (!accepted)
        return std::nullopt;
    return s;
}

std::optional<SimilarPairScores> scoreSimilarPair(const SimilarSignature& a, const SimilarSignature& b,
                                                  int32_t level, int32_t fileCount)
{
    const CodeDistances codes = codeDistances(a, b);
    if (!passesCodeGate(codes, level))
        return std::nullopt;
    return scoreGatedPair(a, b, codes, level, fileCount);
}

std::string similarResultLine(const SimilarPairScores& scores, int32_t indexA, int32_t indexB,
                              const SimilarSignature& a, const SimilarSignature& b, std::string_view pathA,
                              std::string_view pathB)
{
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%.4d, %.6d, %.6d, %.3d,%.3d,%.3d,%.6d,%.6d,%.6d,%.6d,%.2d,%.6d,%.6d,%.2d,",
                  scores.similarity, indexA, indexB, scores.contrast, scores.luma, scores.chroma,
                  std::abs(a.planeTotals[1] - b.planeTotals[1]), std::abs(a.planeTotals[2] - b.planeTotals[2]),
                  codeAt(a.bandCodes, 1), codeAt(b.bandCodes, 1), scores.codes.contrast, codeAt(a.bandCodes, 7),
                  codeAt(b.bandCodes, 7), scores.codes.luminance);
    std::string line(buffer);
    line.append(fileNameOf(pathA));
    line += ',';
    line.append(fileNameOf(pathB));
    return line;
}
