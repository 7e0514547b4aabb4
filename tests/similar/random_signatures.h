#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "compare/similar/similar_signature.h"
#include "search/file_table.h"

namespace similar_testing {

// Signatures around a few prototypes, so that every gate both passes and
// rejects some pairs: codes nudged at random, profiles and maps with noise.
struct Corpus {
    FileTable files;
    std::vector<SimilarSignature> signatures;
};

inline Corpus randomCorpus(int32_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<SimilarSignature> prototypes(6);
    for (SimilarSignature& p : prototypes) {
        for (int32_t e = 1; e <= 12; ++e)
            p.bandCodes[e] = pick(1, 10) <= 6 ? 2 : pick(0, 1) * 2 + 1;
        for (int32_t row = 1; row <= 8; ++row) {
            for (int32_t i = 5; i <= 64; ++i)
                p.profiles[row][i] = static_cast<uint8_t>(pick(0, 80));
        }
        for (auto& cell : p.contrastMap)
            cell = static_cast<uint8_t>(pick(0, 2) == 0 ? 0 : pick(0, 1) == 0 ? 128 : 255);
        p.planeTotals = {pick(100000, 400000), pick(200000, 700000), pick(50000, 300000)};
        p.centroidX[3] = pick(20, 50);
        p.centroidY[3] = pick(20, 50);
        p.spreadA = pick(4, 20);
        p.spreadB = pick(4, 20);
    }
    Corpus corpus;
    for (int32_t i = 0; i < count; ++i) {
        SimilarSignature s = prototypes[static_cast<std::size_t>(pick(0, 5))];
        for (int32_t n = pick(0, 3); n > 0; --n)
            s.bandCodes[pick(1, 12)] = pick(1, 3);
        const int32_t noise = pick(0, 30);
        for (int32_t row = 3; row <= 6; ++row) {
            for (int32_t i2 = 5; i2 <= 64; ++i2)
                s.profiles[row][i2] = static_cast<uint8_t>(std::clamp(s.profiles[row][i2] + pick(-noise, noise), 0, 120));
        }
        for (int32_t n = pick(0, 2000); n > 0; --n)
            s.contrastMap[static_cast<std::size_t>(pick(0, 3599))] = static_cast<uint8_t>(pick(0, 1) * 255);
        s.planeTotals[0] += pick(-150000, 150000);
        s.planeTotals[1] += pick(-300000, 300000);
        s.centroidX[3] += pick(-3, 3);
        s.spreadA = std::max(1, s.spreadA + pick(-2, 2));
        File_rec file;
        file.path = "/pics/p" + std::to_string(i) + (i % 7 == 0 ? ",x.jpg" : ".jpg");
        file.spreadA = s.spreadA;
        file.spreadB = s.spreadB;
        if (i % 23 == 5)
            file.skip = 1;
        if (i % 31 == 9) {
            file.spreadA = 0; // no signature (an abort left it out)
            s = SimilarSignature {};
        }
        corpus.files.push_back(file);
        corpus.signatures.push_back(s);
    }
    return corpus;
}

} // namespace similar_testing
