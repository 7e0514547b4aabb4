#include <chrono>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "cache/signature_cache.h"
#include "cache/signature_codec.h"
#include "cache/signature_store.h"
#include "compare/similar/similar_reduction.h"
#include "picture/orientation.h"
#include "cache/store_records.h"
#include "support/test_pictures.h"

using store_records::runSql;
using store_records::settledVersion;
using testing_support::TempDir;

namespace {

// Both engines' signatures of a 90 x 70 picture; with `turned`, also those
// of its seven other orientations, each computed from the turned picture.
PictureOutcome decodedOutcome(uint32_t seed, bool turned)
{
    PictureOutcome outcome = store_records::decodedRecord(seed);
    const Picture picture = testing_support::photoLikePicture(90, 70, seed);
    for (int32_t o = 1; turned && o < kOrientationCount; ++o) {
        const Picture turnedCopy = turnedPicture(picture, orientationAt(o));
        outcome.turnedIdentical.push_back(ComputeSignature(turnedCopy));
        reduceSimilarPicture(turnedCopy, outcome.turnedSimilar.emplace_back());
    }
    return outcome;
}

constexpr Reductions kBoth {true, true, false};
constexpr Reductions kBothTurned {true, true, true};
constexpr Reductions kIdenticalTurned {true, false, true};

// The codec gives every value back exactly (its own tests), so equal blobs
// are equal signatures.
void expectSameTurned(const PictureOutcome& found, const PictureOutcome& stored, Reductions decoded)
{
    EXPECT_EQ(encodeTurnedIdentical(found.turnedIdentical),
              decoded.identical ? encodeTurnedIdentical(stored.turnedIdentical) : std::nullopt);
    EXPECT_EQ(encodeTurnedSimilar(found.turnedSimilar),
              decoded.similar ? encodeTurnedSimilar(stored.turnedSimilar) : std::nullopt);
}

} // namespace

TEST(TurnedCacheTest, TurnedBlobsComeBackExactlyAndAreToldApart)
{
    const PictureOutcome outcome = decodedOutcome(11, true);
    const std::string identical = encodeTurnedIdentical(outcome.turnedIdentical).value();
    const std::string similar = encodeTurnedSimilar(outcome.turnedSimilar).value();
    const std::vector<SimilarSignature> back = decodeTurnedSimilar(similar).value();
    for (std::size_t o = 0; o < back.size(); ++o) {
        EXPECT_EQ(back[o].contrastMap, outcome.turnedSimilar[o].contrastMap) << o;
        EXPECT_EQ(back[o].bandCodes, outcome.turnedSimilar[o].bandCodes) << o;
    }
    EXPECT_EQ(decodeTurnedIdentical(identical).value()[6].profiles, outcome.turnedIdentical[6].profiles);
    EXPECT_FALSE(encodeTurnedSimilar({})); // seven or nothing
    EXPECT_FALSE(decodeTurnedSimilar(identical));
    EXPECT_FALSE(decodeIdenticalSignature(identical));
    EXPECT_FALSE(decodeTurnedIdentical(encodeIdenticalSignature(outcome.identical)));
    EXPECT_FALSE(decodeTurnedSimilar(similar.substr(0, similar.size() - 1)));
}

// A plain search's record serves plain lookups only; once a search for
// turned copies has kept its turned signatures, they come back for the
// engines read, and a plain lookup still reads none of them.
TEST(TurnedCacheTest, TurnedSignaturesServeOnlyTheVersionTheyWereTakenOf)
{
    TempDir dir;
    auto store = SignatureStore::open(dir.file("c.sqlite"), nullptr);
    ASSERT_TRUE(store);
    const PictureOutcome turned = decodedOutcome(12, true);
    store->add("/t/a.jpg", settledVersion(), decodedOutcome(12, false));
    store->flush();
    EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kIdenticalTurned).value().covers(kBoth));
    EXPECT_FALSE(store->find("/t/a.jpg", settledVersion(), kIdenticalTurned).value().covers(kBothTurned));

    store->add("/t/a.jpg", settledVersion(), turned);
    store->flush();
    EXPECT_EQ(store->stats()->turnedRecords, 1);
    for (const Reductions read : {kIdenticalTurned, Reductions {false, true, true}}) {
        const auto found = store->find("/t/a.jpg", settledVersion(), read);
        ASSERT_TRUE(found);
        EXPECT_TRUE(found->covers(kBothTurned));
        expectSameTurned(*found, turned, read);
    }
    const PictureOutcome plain = store->find("/t/a.jpg", settledVersion(), kBoth).value();
    EXPECT_TRUE(plain.turnedIdentical.empty() && plain.turnedSimilar.empty() && !plain.kept.turned);

    FileVersion other = settledVersion();
    other.size += 1;
    store->add("/t/a.jpg", other, decodedOutcome(12, false));
    store->flush();
    EXPECT_FALSE(store->find("/t/a.jpg", other, kBothTurned).value().covers(kBothTurned));
}

// An engine the picture is too small for needs no turned signatures; one
// whose turned part is missing sends the picture to be decoded again.
TEST(TurnedCacheTest, EachUprightSignatureNeedsItsTurnedOnes)
{
    TempDir dir;
    auto store = SignatureStore::open(dir.file("c.sqlite"), nullptr);
    ASSERT_TRUE(store);
    PictureOutcome tooSmall = decodedOutcome(13, true); // as 4 x 4: no identical signature
    tooSmall.width = tooSmall.height = 4;
    tooSmall.hasIdentical = false;
    tooSmall.turnedIdentical.clear();
    PictureOutcome half = decodedOutcome(14, true);
    half.turnedSimilar.clear();
    store->add("/t/small.jpg", settledVersion(), tooSmall);
    store->add("/t/half.jpg", settledVersion(), half);
    store->flush();

    const PictureOutcome small = store->find("/t/small.jpg", settledVersion(), kBothTurned).value();
    EXPECT_TRUE(small.covers(kBothTurned));
    EXPECT_EQ(small.turnedSimilar.size(), 7u);
    EXPECT_FALSE(store->find("/t/half.jpg", settledVersion(), kIdenticalTurned).value().covers(kBothTurned));
}

TEST(TurnedCacheTest, DamagedTurnedRowSetsTheFileAsideButNotForPlainLookups)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    SignatureStore::open(file, nullptr)->add("/t/a.jpg", settledVersion(), decodedOutcome(15, true));
    ASSERT_EQ(runSql(file, "UPDATE turned SET similar = CAST(substr(similar, 1, 40) || 'x' || substr(similar, 42) AS BLOB)"),
              SQLITE_OK);
    std::vector<std::string> warnings;
    auto store = SignatureStore::open(file, [&warnings](const std::string& message) { warnings.push_back(message); });
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kBoth));
    EXPECT_TRUE(warnings.empty());
    EXPECT_FALSE(store->find("/t/a.jpg", settledVersion(), kIdenticalTurned));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("damaged"), std::string::npos) << warnings[0];
}

// A cache of the layout before the turned signatures keeps its records and
// gains their table; clear drops its rows too.
TEST(TurnedCacheTest, LayoutWithoutTurnedTableKeepsItsRecords)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    SignatureStore::open(file, nullptr)->add("/t/a.jpg", settledVersion(), decodedOutcome(16, false));
    ASSERT_EQ(runSql(file, "DROP TABLE turned; PRAGMA user_version = 3"), SQLITE_OK);
    auto store = SignatureStore::open(file, nullptr);
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kBoth));
    store->add("/t/a.jpg", settledVersion(), decodedOutcome(16, true));
    store->flush();
    EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kBothTurned).value().covers(kBothTurned));
    ASSERT_TRUE(store->clear());
    EXPECT_EQ(store->stats()->turnedRecords, 0);
}

// The cache as a search's load pipeline asks it: a search for turned copies
// misses a picture a plain search left, and once its decode is stored, hits
// with the turned signatures of the engine it reads.
TEST(TurnedCacheTest, SearchCacheHitsForTurnedCopiesOnlyOnceTheyAreKept)
{
    TempDir dir;
    File_rec file;
    file.path = dir.file("a.jpg");
    testing_support::writeBytes(file.path, "bytes of a picture");
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // out of the same clock tick
    SignatureCache cache(SignatureStore::open(dir.file("c.sqlite"), nullptr));
    const PictureOutcome turned = decodedOutcome(18, true);
    const Reductions readIdentical {true, false, false};
    PictureOutcome found;
    EXPECT_FALSE(cache.lookup(file, kBoth, readIdentical, found));
    cache.store(file, decodedOutcome(18, false));
    cache.flush();
    EXPECT_TRUE(cache.lookup(file, kBoth, readIdentical, found));
    EXPECT_FALSE(cache.lookup(file, kBothTurned, readIdentical, found));
    cache.store(file, turned);
    cache.flush();
    found = PictureOutcome {};
    ASSERT_TRUE(cache.lookup(file, kBothTurned, readIdentical, found));
    expectSameTurned(found, turned, readIdentical);
    EXPECT_EQ(cache.hitCounter().load(), 2);
}
