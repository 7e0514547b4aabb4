#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "cache/signature_cache.h"
#include "cache/signature_codec.h"
#include "cache/signature_store.h"
#include "compare/similar/similar_reduction.h"
#include "picture/orientation.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

FileVersion settledVersion(uint64_t inode = 7)
{
    FileVersion version;
    version.device = 0x801;
    version.inode = inode;
    version.size = 12345;
    version.mtimeNs = 1'600'000'000'123'456'789;
    version.ctimeNs = 1'600'000'001'000'000'001;
    version.seenNs = version.ctimeNs + 5'000'000'000;
    return version;
}

// A decoded outcome of a 90 x 70 picture with both engines' signatures;
// with `turned`, also those of its seven other orientations, each computed
// from the turned picture itself.
PictureOutcome decodedOutcome(uint32_t seed, bool turned)
{
    const Picture picture = testing_support::photoLikePicture(90, 70, seed);
    PictureOutcome outcome;
    outcome.status = PictureOutcome::Status::Loaded;
    outcome.width = 90;
    outcome.height = 70;
    outcome.hasIdentical = true;
    outcome.identical = ComputeSignature(picture);
    outcome.hasSimilar = true;
    reduceSimilarPicture(picture, outcome.similar);
    if (turned) {
        for (int32_t o = 1; o < kOrientationCount; ++o) {
            const Picture turnedCopy = turnedPicture(picture, orientationAt(o));
            outcome.turnedIdentical.push_back(ComputeSignature(turnedCopy));
            reduceSimilarPicture(turnedCopy, outcome.turnedSimilar.emplace_back());
        }
    }
    return outcome;
}

constexpr Reductions kBoth {true, true, false};
constexpr Reductions kBothTurned {true, true, true};
constexpr Reductions kIdenticalTurned {true, false, true};
constexpr Reductions kSimilarTurned {false, true, true};

struct Warnings {
    std::vector<std::string> messages;
    CacheWarning sink()
    {
        return [this](const std::string& message) { messages.push_back(message); };
    }
};

int runSql(const std::string& file, const std::string& sql)
{
    sqlite3* db = nullptr;
    int code = sqlite3_open(file.c_str(), &db);
    if (code == SQLITE_OK)
        code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return code;
}

void expectSameTurned(const PictureOutcome& found, const PictureOutcome& stored, Reductions decoded)
{
    ASSERT_EQ(found.turnedIdentical.size(), decoded.identical ? 7u : 0u);
    ASSERT_EQ(found.turnedSimilar.size(), decoded.similar ? 7u : 0u);
    for (std::size_t i = 0; i < found.turnedIdentical.size(); ++i) {
        EXPECT_EQ(found.turnedIdentical[i].centroids, stored.turnedIdentical[i].centroids) << i;
        EXPECT_EQ(found.turnedIdentical[i].profiles, stored.turnedIdentical[i].profiles) << i;
    }
    for (std::size_t i = 0; i < found.turnedSimilar.size(); ++i) {
        const SimilarSignature& a = found.turnedSimilar[i];
        const SimilarSignature& b = stored.turnedSimilar[i];
        EXPECT_EQ(a.contrastMap, b.contrastMap) << i;
        EXPECT_EQ(a.profiles, b.profiles) << i;
        EXPECT_EQ(a.centroidX, b.centroidX) << i;
        EXPECT_EQ(a.centroidY, b.centroidY) << i;
        EXPECT_EQ(a.planeTotals, b.planeTotals) << i;
        EXPECT_EQ(a.bandCodes, b.bandCodes) << i;
        EXPECT_EQ(a.spreadA, b.spreadA) << i;
        EXPECT_EQ(a.spreadB, b.spreadB) << i;
    }
}

} // namespace

TEST(TurnedCacheTest, TurnedBlobsComeBackExactlyAndAreToldApartFromUprightOnes)
{
    const PictureOutcome outcome = decodedOutcome(11, true);
    const std::optional<std::string> identical = encodeTurnedIdentical(outcome.turnedIdentical);
    const std::optional<std::string> similar = encodeTurnedSimilar(outcome.turnedSimilar);
    ASSERT_TRUE(identical && similar);
    PictureOutcome back;
    back.turnedIdentical = decodeTurnedIdentical(*identical).value();
    back.turnedSimilar = decodeTurnedSimilar(*similar).value();
    expectSameTurned(back, outcome, kBothTurned);
    // The seven orientations of this picture differ: the blob keeps their order.
    EXPECT_NE(back.turnedSimilar[0].contrastMap, back.turnedSimilar[1].contrastMap);

    // Seven or nothing.
    std::vector<IdenticalSignature> six(outcome.turnedIdentical.begin(), outcome.turnedIdentical.end() - 1);
    EXPECT_FALSE(encodeTurnedIdentical(six));
    EXPECT_FALSE(encodeTurnedSimilar({}));
    // Neither kind of blob passes for the other, nor for an upright one.
    EXPECT_FALSE(decodeTurnedSimilar(*identical));
    EXPECT_FALSE(decodeTurnedIdentical(*similar));
    EXPECT_FALSE(decodeIdenticalSignature(*identical));
    EXPECT_FALSE(decodeSimilarSignature(*similar));
    EXPECT_FALSE(decodeTurnedIdentical(encodeIdenticalSignature(outcome.identical)));
    // A blob cut short or with a byte changed is refused.
    EXPECT_FALSE(decodeTurnedSimilar(similar->substr(0, similar->size() - 1)));
    std::string changed = *identical;
    changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 0x40);
    EXPECT_FALSE(decodeTurnedIdentical(changed));
}

// What a record of a plain search serves, and what a search for turned
// copies then adds and finds.
TEST(TurnedCacheTest, PlainRecordServesPlainLookupsOnlyUntilTurnedSignaturesAreKept)
{
    TempDir dir;
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    const PictureOutcome turned = decodedOutcome(12, true);
    PictureOutcome plain = turned;
    plain.turnedIdentical.clear();
    plain.turnedSimilar.clear();
    store->add("/t/a.jpg", settledVersion(), plain);
    store->flush();

    const auto plainFound = store->find("/t/a.jpg", settledVersion(), kIdenticalTurned);
    ASSERT_TRUE(plainFound);
    EXPECT_TRUE(plainFound->covers(kBoth));
    EXPECT_FALSE(plainFound->covers(kBothTurned));
    EXPECT_EQ(store->stats()->turnedRecords, 0);

    store->add("/t/a.jpg", settledVersion(), turned);
    store->flush();
    EXPECT_EQ(store->stats()->turnedRecords, 1);
    EXPECT_EQ(store->stats()->records, 1);
    for (const Reductions read : {kIdenticalTurned, kSimilarTurned, kBothTurned}) {
        const auto found = store->find("/t/a.jpg", settledVersion(), read);
        ASSERT_TRUE(found);
        EXPECT_TRUE(found->kept.turned);
        EXPECT_TRUE(found->covers(kBothTurned));
        expectSameTurned(*found, turned, read);
    }
    // A plain lookup reads none of them.
    const auto plainAgain = store->find("/t/a.jpg", settledVersion(), kBoth);
    ASSERT_TRUE(plainAgain);
    EXPECT_TRUE(plainAgain->turnedIdentical.empty() && plainAgain->turnedSimilar.empty());
    EXPECT_FALSE(plainAgain->kept.turned);
    EXPECT_EQ(plainAgain->identical.profiles, turned.identical.profiles);

    // Turned signatures of another version of the file are not used.
    FileVersion other = settledVersion();
    other.size += 1;
    store->add("/t/a.jpg", other, plain);
    store->flush();
    const auto otherFound = store->find("/t/a.jpg", other, kBothTurned);
    ASSERT_TRUE(otherFound);
    EXPECT_FALSE(otherFound->covers(kBothTurned));
    EXPECT_TRUE(warnings.messages.empty());
}

// The turned signatures go with the upright ones: an engine the picture is
// too small for needs none, one whose turned part was never kept sends the
// picture to be decoded again.
TEST(TurnedCacheTest, EachUprightSignatureNeedsItsTurnedOnes)
{
    TempDir dir;
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    PictureOutcome tooSmall; // 4 x 4: no identical signature, a similar one
    tooSmall.status = PictureOutcome::Status::Loaded;
    tooSmall.width = 4;
    tooSmall.height = 4;
    const PictureOutcome source = decodedOutcome(13, true);
    tooSmall.hasSimilar = true;
    tooSmall.similar = source.similar;
    tooSmall.turnedSimilar = source.turnedSimilar;
    PictureOutcome identicalTurnedOnly = decodedOutcome(14, true);
    identicalTurnedOnly.turnedSimilar.clear();
    PictureOutcome failed;
    failed.status = PictureOutcome::Status::Failed;
    failed.failure = LoadFailure::Damaged;
    failed.error = "damaged";
    store->add("/t/small.jpg", settledVersion(), tooSmall);
    store->add("/t/half.jpg", settledVersion(), identicalTurnedOnly);
    store->add("/t/failed.jpg", settledVersion(), failed);
    store->flush();

    const auto small = store->find("/t/small.jpg", settledVersion(), kBothTurned);
    ASSERT_TRUE(small);
    EXPECT_TRUE(small->covers(kBothTurned));
    EXPECT_EQ(small->turnedSimilar.size(), 7u);
    EXPECT_TRUE(small->turnedIdentical.empty());

    const auto half = store->find("/t/half.jpg", settledVersion(), kIdenticalTurned);
    ASSERT_TRUE(half);
    EXPECT_FALSE(half->covers(kBothTurned));
    EXPECT_TRUE(half->turnedIdentical.empty());

    const auto failedFound = store->find("/t/failed.jpg", settledVersion(), kBothTurned);
    ASSERT_TRUE(failedFound);
    EXPECT_TRUE(failedFound->covers(kBothTurned));
    EXPECT_EQ(store->stats()->turnedRecords, 2);
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(TurnedCacheTest, DamagedTurnedRowSetsTheFileAsideButNotForPlainLookups)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    {
        Warnings warnings;
        auto store = SignatureStore::open(file, warnings.sink());
        ASSERT_TRUE(store);
        store->add("/t/a.jpg", settledVersion(), decodedOutcome(15, true));
        store->flush();
    }
    ASSERT_EQ(runSql(file, "UPDATE turned SET similar = CAST(substr(similar, 1, 40) || 'x' || substr(similar, 42) AS BLOB)"),
              SQLITE_OK);
    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    // A plain search never reads the damage.
    EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kBoth));
    EXPECT_TRUE(warnings.messages.empty());
    EXPECT_FALSE(store->find("/t/a.jpg", settledVersion(), kIdenticalTurned));
    ASSERT_EQ(warnings.messages.size(), 1u);
    EXPECT_NE(warnings.messages[0].find("damaged"), std::string::npos) << warnings.messages[0];
    EXPECT_FALSE(store->usable());
}

// A cache of the layout before the turned signatures keeps its records and
// gains their table; an older layout still starts again.
TEST(TurnedCacheTest, LayoutWithoutTurnedTableKeepsItsRecords)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    {
        Warnings warnings;
        auto store = SignatureStore::open(file, warnings.sink());
        ASSERT_TRUE(store);
        store->add("/t/a.jpg", settledVersion(), decodedOutcome(16, false));
        store->flush();
    }
    ASSERT_EQ(runSql(file, "DROP TABLE turned; PRAGMA user_version = 3"), SQLITE_OK);
    {
        Warnings warnings;
        auto store = SignatureStore::open(file, warnings.sink());
        ASSERT_TRUE(store);
        EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kBoth));
        store->add("/t/a.jpg", settledVersion(), decodedOutcome(16, true));
        store->flush();
        EXPECT_TRUE(store->find("/t/a.jpg", settledVersion(), kBothTurned)->covers(kBothTurned));
        EXPECT_TRUE(warnings.messages.empty());
    }
    ASSERT_EQ(runSql(file, "PRAGMA user_version = 2"), SQLITE_OK);
    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->find("/t/a.jpg", settledVersion(), kBoth));
    EXPECT_EQ(store->stats()->turnedRecords, 0);
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(TurnedCacheTest, PruneAndClearDropTurnedRowsToo)
{
    TempDir dir;
    const std::string kept = dir.file("kept.jpg");
    const std::string gone = dir.file("gone.jpg");
    for (const std::string& path : {kept, gone})
        testing_support::writeBytes(path, "content");
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // out of the same clock tick
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    for (const std::string& path : {kept, gone})
        store->add(path, readFileVersion(path).value(), decodedOutcome(17, true));
    store->flush();
    std::filesystem::remove(gone);
    const auto pruned = store->prune();
    ASSERT_TRUE(pruned);
    EXPECT_EQ(pruned->kept, 2);   // kept.jpg's record and its turned row
    EXPECT_EQ(pruned->dropped, 2);
    EXPECT_EQ(store->stats()->turnedRecords, 1);
    ASSERT_TRUE(store->clear());
    EXPECT_EQ(store->stats()->turnedRecords, 0);
    EXPECT_TRUE(warnings.messages.empty());
}

// The cache as a search's load pipeline asks it: a search for turned copies
// misses a picture a plain search left, and once its decode is stored, hits
// it with the turned signatures of the engine it reads.
TEST(TurnedCacheTest, SearchCacheHitsForTurnedCopiesOnlyOnceTheyAreKept)
{
    TempDir dir;
    File_rec file;
    file.path = dir.file("a.jpg");
    testing_support::writeBytes(file.path, "bytes of a picture");
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    Warnings warnings;
    SignatureCache cache(SignatureStore::open(dir.file("c.sqlite"), warnings.sink()));
    const PictureOutcome turned = decodedOutcome(18, true);
    PictureOutcome plain = turned;
    plain.turnedIdentical.clear();
    plain.turnedSimilar.clear();
    const Reductions readIdentical {true, false, false};

    PictureOutcome found;
    EXPECT_FALSE(cache.lookup(file, kBoth, readIdentical, found));
    cache.store(file, plain);
    cache.flush();
    EXPECT_TRUE(cache.lookup(file, kBoth, readIdentical, found));
    EXPECT_TRUE(found.turnedIdentical.empty());
    EXPECT_FALSE(cache.lookup(file, kBothTurned, readIdentical, found));
    cache.store(file, turned);
    cache.flush();
    found = PictureOutcome {};
    ASSERT_TRUE(cache.lookup(file, kBothTurned, readIdentical, found));
    expectSameTurned(found, turned, readIdentical);
    EXPECT_TRUE(found.kept.similar && found.kept.turned);
    EXPECT_EQ(cache.hitCounter().load(), 2);
    EXPECT_TRUE(warnings.messages.empty());
}
