// The vectorised byte sums against the plain loops, at the lengths and
// indices where blocks and loads meet.

#include "compare/similar/similar_byte_sums.h"

#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "similar/byte_sum_kind.h"

namespace {

// The kinds this processor has besides the plain loops.
std::vector<ByteSumKind> vectorKinds()
{
    std::vector<ByteSumKind> kinds;
    for (ByteSumKind kind : {ByteSumKind::Shuffles, ByteSumKind::Permutes}) {
        if (kind <= bestByteSumKind())
            kinds.push_back(kind);
    }
    return kinds;
}

// Runs work with the given kind and with the plain loops, returning both results.
template <typename Work>
std::pair<int32_t, int32_t> bothWays(ByteSumKind kind, const Work& work)
{
    const ByteSumKind before = byteSumKind();
    setByteSumKind(kind);
    const int32_t vectorised = work();
    setByteSumKind(ByteSumKind::Plain);
    const int32_t plain = work();
    setByteSumKind(before);
    return {vectorised, plain};
}

IndexPairing randomPairing(std::mt19937& rng, int32_t length)
{
    std::uniform_int_distribution<int> index(0, 59);
    std::uniform_int_distribution<int> garbage(0, 255);
    IndexPairing p;
    p.length = length;
    for (int32_t i = 0; i < 64; ++i) {
        // Past the length anything may stand; it must not count.
        p.a[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i < length ? index(rng) : garbage(rng));
        p.b[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i < length ? index(rng) : garbage(rng));
    }
    return p;
}

} // namespace

TEST(SimilarByteSumsTest, ByteDistanceIsExactBelowItsStop)
{
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> a(3600);
    std::vector<uint8_t> b(3600);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<uint8_t>(byte(rng));
        b[i] = static_cast<uint8_t>(byte(rng));
    }
    for (int32_t count : {0, 1, 15, 16, 17, 64, 511, 512, 513, 3599, 3600}) {
        int32_t expected = 0;
        for (int32_t i = 0; i < count; ++i)
            expected += std::abs(a[static_cast<std::size_t>(i)] - b[static_cast<std::size_t>(i)]);
        EXPECT_EQ(byteDistance(a.data(), b.data(), count), expected) << count;
        EXPECT_EQ(byteDistance(a.data(), b.data(), count, expected + 1), expected) << count;
        if (expected > 0) {
            EXPECT_GE(byteDistance(a.data(), b.data(), count, expected / 2), expected / 2) << count;
        }
    }
}

TEST(SimilarByteSumsTest, GatheredSumsMatchThePlainLoops)
{
    const std::vector<ByteSumKind> kinds = vectorKinds();
    if (kinds.empty())
        GTEST_SKIP() << "no SSSE3 on this processor";
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> rowA(64);
    std::vector<uint8_t> rowB(64);
    // Exactly 3600 bytes, so that reading past the last column would show
    // under the address sanitizer.
    std::vector<uint8_t> mapA(3600);
    std::vector<uint8_t> mapB(3600);
    for (int32_t round = 0; round < 200; ++round) {
        for (auto* v : {&rowA, &rowB, &mapA, &mapB}) {
            for (auto& value : *v)
                value = static_cast<uint8_t>(byte(rng));
        }
        for (int32_t length : {0, 1, 15, 16, 17, 31, 32, 33, 44, 47, 48, 49, 59, 60}) {
            IndexPairing p = randomPairing(rng, length);
            if (round == 0 && length == 60) {
                for (int32_t i = 0; i < 60; ++i)
                    p.a[static_cast<std::size_t>(i)] = 59; // the last column and cell
            }
            const IndexPairing y = randomPairing(rng, 60 - length / 2);
            for (ByteSumKind kind : kinds) {
                const auto rows = bothWays(kind, [&] { return pairedRowDistance(rowA.data(), rowB.data(), p); });
                ASSERT_EQ(rows.first, rows.second) << length;
                // The same pairing by formula: own indices from 60 - length
                // up, the others at base + offset.
                std::vector<int8_t> offsets(64);
                for (auto& offset : offsets)
                    offset = static_cast<int8_t>(std::uniform_int_distribution<int>(-20, 20)(rng));
                const AxisRun run {length, 60 - length, 30, offsets.data(), round % 2 == 0};
                const auto runs = bothWays(kind, [&] { return alignedRowDistance(rowA.data(), rowB.data(), run); });
                ASSERT_EQ(runs.first, runs.second) << length;
                const auto map =
                    bothWays(kind, [&] { return pairedMapDistance(mapA.data(), mapB.data(), p, y, 1 << 30); });
                ASSERT_EQ(map.first, map.second) << length;
                // Stopped early, both are at least the stop.
                const int32_t stop = map.second / 3;
                const auto stopped =
                    bothWays(kind, [&] { return pairedMapDistance(mapA.data(), mapB.data(), p, y, stop); });
                ASSERT_GE(stopped.first, stop);
                ASSERT_GE(stopped.second, stop);
            }
        }
    }
}

// Maps of 0, 128 and 255 only, packed as bit planes: every kind gives the
// byte sum, whatever mix of values and at cells on word edges.
TEST(SimilarByteSumsTest, PackedMapsSumLikeTheBytes)
{
    std::mt19937 rng(17);
    constexpr uint8_t kValues[3] = {0, 128, 255};
    std::vector<uint8_t> mapA(3600);
    std::vector<uint8_t> mapB(3600);
    ContrastPlanes planesA;
    ContrastPlanes planesB;
    std::vector<ByteSumKind> kinds = vectorKinds();
    kinds.push_back(ByteSumKind::Plain);
    for (int32_t round = 0; round < 40; ++round) {
        // Rounds differ in how many cells are marked, from none to all.
        const int32_t marked = round * 100 / 39;
        for (auto* map : {&mapA, &mapB}) {
            for (auto& cell : *map) {
                const bool mark = std::uniform_int_distribution<int>(0, 99)(rng) < marked;
                cell = mark ? kValues[std::uniform_int_distribution<int>(1, 2)(rng)] : 0;
            }
        }
        if (round == 1) {
            mapA.assign(3600, 255); // every difference at its largest
            mapB.assign(3600, 0);
        }
        ASSERT_TRUE(packContrastPlanes(mapA.data(), 3600, planesA));
        ASSERT_TRUE(packContrastPlanes(mapB.data(), 3600, planesB));
        const int32_t expected = byteDistance(mapA.data(), mapB.data(), 3600);
        for (ByteSumKind kind : kinds) {
            const auto sums = bothWays(kind, [&] { return planeDistance(planesA, planesB); });
            ASSERT_EQ(sums.first, expected) << round << " kind " << static_cast<int>(kind);
            ASSERT_EQ(sums.second, expected) << round;
        }
    }
    // Any other value, anywhere, leaves the map to the byte sums.
    for (const std::size_t cell : {std::size_t {0}, std::size_t {17}, std::size_t {1000}, std::size_t {3599}}) {
        for (const uint8_t value : {uint8_t {1}, uint8_t {127}, uint8_t {254}}) {
            std::vector<uint8_t> map = mapB;
            map[cell] = value;
            EXPECT_FALSE(packContrastPlanes(map.data(), 3600, planesA)) << cell << " " << int {value};
        }
    }
    // A length that is no multiple of sixteen packs its last cells one by one,
    // into the same bits.
    std::vector<uint8_t> mixed(3600);
    for (std::size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = static_cast<uint8_t>((i * 7 + i / 5) % 3 == 0 ? 0 : (i % 4 == 1 ? 255 : 128));
    ASSERT_TRUE(packContrastPlanes(mixed.data(), 3600, planesA));
    ASSERT_TRUE(packContrastPlanes(mixed.data(), 3587, planesB));
    for (std::size_t w = 0; w < ContrastPlanes::kWords; ++w) {
        const uint64_t kept = w < 3587 / 64 ? ~uint64_t {0} : w == 3587 / 64 ? (uint64_t {1} << (3587 % 64)) - 1 : 0;
        EXPECT_EQ(planesB.words[w], planesA.words[w] & kept) << w;
        EXPECT_EQ(planesB.words[w + ContrastPlanes::kWords], planesA.words[w + ContrastPlanes::kWords] & kept) << w;
    }
}
