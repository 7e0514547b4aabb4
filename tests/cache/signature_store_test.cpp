// The signature store's records: what is kept and found for which file
// version and engine, from several threads, pruned and cleared.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "cache/signature_store.h"
#include "cache/store_records.h"
#include "search/privilege.h"
#include "support/test_pictures.h"

using namespace store_records;
using testing_support::TempDir;

TEST(SignatureStoreTest, RecordComesBackOnlyForTheSameFileVersion)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    const PictureOutcome record = decodedRecord(3);
    Warnings warnings;
    {
        auto store = SignatureStore::open(file, warnings.sink());
        ASSERT_TRUE(store);
        store->add("/p/a.jpg", settledVersion(), record);
    } // closing writes the batch
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    const std::optional<PictureOutcome> found = store->find("/p/a.jpg", settledVersion());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->status, PictureOutcome::Status::Loaded);
    EXPECT_EQ(found->width, 90);
    EXPECT_EQ(found->height, 70);
    ASSERT_TRUE(found->hasIdentical && found->hasSimilar);
    EXPECT_EQ(found->identical.centroids, record.identical.centroids);
    EXPECT_EQ(found->identical.profiles, record.identical.profiles);
    EXPECT_EQ(found->similar.contrastMap, record.similar.contrastMap);
    EXPECT_EQ(found->similar.spreadA, record.similar.spreadA);

    // Any field of the version, or the path, tells another file.
    const std::vector<std::function<void(FileVersion&)>> changes = {
        [](FileVersion& v) { v.device += 1; }, [](FileVersion& v) { v.inode += 1; },
        [](FileVersion& v) { v.size += 1; },   [](FileVersion& v) { v.mtimeNs += 1; },
        [](FileVersion& v) { v.ctimeNs += 1; }};
    for (const auto& change : changes) {
        FileVersion other = settledVersion();
        change(other);
        EXPECT_FALSE(store->find("/p/a.jpg", other));
    }
    EXPECT_FALSE(store->find("/p/A.jpg", settledVersion()));
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(SignatureStoreTest, OnlyLastingFailuresAndSettledVersionsAreKept)
{
    TempDir dir;
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    for (LoadFailure failure : {LoadFailure::Damaged, LoadFailure::Empty, LoadFailure::TooLarge, LoadFailure::NotRegular,
                                LoadFailure::Missing, LoadFailure::AccessDenied, LoadFailure::SystemError})
        store->add("/f/" + std::to_string(static_cast<int>(failure)), settledVersion(),
                   failedRecord(failure, "why " + std::to_string(static_cast<int>(failure))));
    PictureOutcome interrupted = decodedRecord(2);
    interrupted.status = PictureOutcome::Status::Interrupted;
    store->add("/f/interrupted.jpg", settledVersion(), interrupted);
    FileVersion fresh = settledVersion();
    fresh.seenNs = fresh.ctimeNs + 1'000'000; // looked at 1 ms after its change
    store->add("/f/fresh.jpg", fresh, decodedRecord(2));
    FileVersion ahead = settledVersion();
    ahead.mtimeNs = ahead.seenNs + 1; // a time in the future
    store->add("/f/ahead.jpg", ahead, decodedRecord(2));
    store->flush();

    // A damaged or empty file stays so until it changes; the rest may pass
    // (a picture too large may have met a moment short of memory).
    for (LoadFailure failure : {LoadFailure::Damaged, LoadFailure::Empty}) {
        const auto found = store->find("/f/" + std::to_string(static_cast<int>(failure)), settledVersion());
        ASSERT_TRUE(found);
        EXPECT_EQ(found->status, PictureOutcome::Status::Failed);
        EXPECT_EQ(found->failure, failure);
        EXPECT_EQ(found->error, "why " + std::to_string(static_cast<int>(failure)));
        EXPECT_TRUE(found->covers(Reductions {true, true}));
    }
    for (LoadFailure failure : {LoadFailure::TooLarge, LoadFailure::NotRegular, LoadFailure::Missing,
                                LoadFailure::AccessDenied, LoadFailure::SystemError})
        EXPECT_FALSE(store->find("/f/" + std::to_string(static_cast<int>(failure)), settledVersion()));
    EXPECT_FALSE(store->find("/f/interrupted.jpg", settledVersion()));
    EXPECT_FALSE(store->find("/f/fresh.jpg", fresh));
    EXPECT_FALSE(store->find("/f/ahead.jpg", ahead));
}

TEST(SignatureStoreTest, PartsKnownPerEngine)
{
    TempDir dir;
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    PictureOutcome onlySimilar = decodedRecord(4); // the identical reduction did not run
    onlySimilar.hasIdentical = false;
    PictureOutcome tooSmall; // 4 x 4: too small for the identical engine, not for the similar one
    tooSmall.status = PictureOutcome::Status::Loaded;
    tooSmall.width = 4;
    tooSmall.height = 4;
    tooSmall.hasSimilar = true;
    tooSmall.similar = decodedRecord(5).similar;
    store->add("/s/a.jpg", settledVersion(), onlySimilar);
    store->add("/s/b.jpg", settledVersion(), tooSmall);
    store->flush();

    const auto a = store->find("/s/a.jpg", settledVersion());
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->covers(kIdenticalOnly));
    EXPECT_TRUE(a->covers(kSimilarOnly));
    const auto b = store->find("/s/b.jpg", settledVersion());
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->covers(Reductions {true, true}));
    EXPECT_FALSE(b->hasIdentical);
    EXPECT_TRUE(b->hasSimilar);
    EXPECT_EQ(b->similar.contrastMap, tooSmall.similar.contrastMap);
}

TEST(SignatureStoreTest, OnlyTheSignaturesReadAreDecodedTheOthersAreMarkedKept)
{
    TempDir dir;
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    const PictureOutcome both = decodedRecord(6);
    PictureOutcome onlySimilar = decodedRecord(7);
    onlySimilar.hasIdentical = false;
    store->add("/k/both.jpg", settledVersion(), both);
    store->add("/k/similar.jpg", settledVersion(), onlySimilar);
    store->flush();

    const auto similarRead = store->find("/k/both.jpg", settledVersion(), kSimilarOnly);
    ASSERT_TRUE(similarRead);
    EXPECT_TRUE(similarRead->hasSimilar);
    EXPECT_EQ(similarRead->similar.contrastMap, both.similar.contrastMap);
    EXPECT_FALSE(similarRead->hasIdentical);
    EXPECT_TRUE(similarRead->kept.identical && !similarRead->kept.similar);
    EXPECT_TRUE(similarRead->covers(Reductions {true, true})); // a hit for a search that fills both

    const auto identicalRead = store->find("/k/both.jpg", settledVersion(), kIdenticalOnly);
    ASSERT_TRUE(identicalRead);
    EXPECT_TRUE(identicalRead->hasIdentical && !identicalRead->hasSimilar && identicalRead->kept.similar);
    EXPECT_EQ(identicalRead->identical.profiles, both.identical.profiles);

    // A part the record lacks is neither decoded nor kept: the file is decoded again.
    const auto lacking = store->find("/k/similar.jpg", settledVersion(), kSimilarOnly);
    ASSERT_TRUE(lacking);
    EXPECT_FALSE(lacking->kept.identical);
    EXPECT_FALSE(lacking->covers(Reductions {true, true}));
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(SignatureStoreTest, LookupsFromSeveralThreadsFindWhatOneFinds)
{
    TempDir dir;
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    constexpr int kRecords = 200;
    std::vector<PictureOutcome> records;
    for (int i = 0; i < kRecords; ++i) {
        records.push_back(decodedRecord(static_cast<uint32_t>(100 + i % 7)));
        store->add("/t/" + std::to_string(i) + ".jpg", settledVersion(static_cast<uint64_t>(i)), records.back());
    }
    store->flush();
    // More threads than the store has lookup connections, each looking up
    // every record, some of them under another version.
    std::vector<std::thread> threads;
    std::atomic<int> wrong {0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRecords; ++i) {
                const int at = (i * 7 + t * 31) % kRecords;
                const auto found = store->find("/t/" + std::to_string(at) + ".jpg",
                                               settledVersion(static_cast<uint64_t>(at + (t == 5 ? 1000 : 0))));
                const bool right = t == 5 ? !found
                                          : found && found->hasSimilar
                        && found->similar.contrastMap == records[static_cast<std::size_t>(at)].similar.contrastMap;
                wrong += right ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(SignatureStoreTest, RecordsOfOtherVersionsAreNotUsed)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    fillCache(file, "/v/a.jpg");
    fillCache(file, "/v/b.jpg");
    fillCache(file, "/v/c.jpg");
    // As if another libjpeg-turbo had decoded it.
    ASSERT_EQ(runSql(file, "UPDATE pictures SET decoder = decoder + 1 WHERE path = CAST('/v/a.jpg' AS BLOB)"), SQLITE_OK);

    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    // A record of another decoder is passed over before its check.
    EXPECT_FALSE(store->find("/v/a.jpg", settledVersion()));
    EXPECT_TRUE(store->find("/v/b.jpg", settledVersion()));
    const auto stats = store->stats();
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->records, 3);
    EXPECT_EQ(stats->otherVersion, 1);
    // A picture with both a record and a size is one picture.
    store->addHeaderSize("/v/a.jpg", settledVersion(), PictureSize {1, 1});
    store->addHeaderSize("/v/d.jpg", settledVersion(), PictureSize {1, 1});
    EXPECT_EQ(store->stats()->pictures, 4);
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(SignatureStoreTest, PruneDropsGoneAndChangedFilesAndClearDropsAll)
{
    TempDir dir;
    const std::string kept = dir.file("kept.jpg");
    const std::string changed = dir.file("changed.jpg");
    const std::string gone = dir.file("gone.jpg");
    for (const std::string& path : {kept, changed, gone})
        testing_support::writeBytes(path, "content");
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // out of the same clock tick
    Warnings warnings;
    auto store = SignatureStore::open(dir.file("c.sqlite"), warnings.sink());
    ASSERT_TRUE(store);
    for (const std::string& path : {kept, changed, gone}) {
        const std::optional<FileVersion> version = readFileVersion(path);
        ASSERT_TRUE(version);
        ASSERT_FALSE(changedTooRecently(*version));
        store->add(path, *version, decodedRecord(8));
    }
    store->flush();
    testing_support::writeBytes(changed, "CONTENT");
    std::filesystem::remove(gone);

    const auto pruned = store->prune();
    ASSERT_TRUE(pruned);
    EXPECT_EQ(pruned->kept, 1);
    EXPECT_EQ(pruned->dropped, 2);
    EXPECT_TRUE(store->find(kept, *readFileVersion(kept)));
    EXPECT_EQ(store->stats()->records, 1);

    ASSERT_TRUE(store->clear());
    EXPECT_EQ(store->stats()->records, 0);
    EXPECT_FALSE(store->find(kept, *readFileVersion(kept)));
    EXPECT_TRUE(warnings.messages.empty());
}

// Lookups share read transactions, which must neither hide what the store
// itself has just written nor outlive the loading: once it has ended,
// another process's changes show.
TEST(SignatureStoreTest, SharedReadTransactionsSeeOwnWritesAndEndWithTheLoading)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    for (uint64_t i = 0; i < 100; ++i)
        store->add(numbered(i), settledVersion(i), decodedRecord(static_cast<uint32_t>(i % 3)));
    store->flush();
    // More lookups than one transaction serves.
    for (int32_t round = 0; round < 2; ++round) {
        for (uint64_t i = 0; i < 100; ++i)
            ASSERT_TRUE(store->find(numbered(i), settledVersion(i))) << i;
    }
    ASSERT_FALSE(store->find("late", settledVersion(500)));
    store->add("late", settledVersion(500), decodedRecord(4));
    store->flush();
    EXPECT_TRUE(store->find("late", settledVersion(500)));

    auto other = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->clear());
    store->endReads();
    EXPECT_FALSE(store->find("p1", settledVersion(1)));
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(SignatureStoreTest, HeaderSizesComeBackForTheSameVersionAndArePrunedAndCleared)
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
    store->addHeaderSize(kept, *readFileVersion(kept), PictureSize {640, 480});
    store->addHeaderSize(gone, *readFileVersion(gone), PictureSize {0, 0}); // a header without a size is kept too
    FileVersion recent = settledVersion(9);
    recent.ctimeNs = recent.seenNs - 1'000'000;
    store->addHeaderSize("recent.jpg", recent, PictureSize {1, 1});
    store->flush();

    const std::optional<PictureSize> found = store->findHeaderSize(kept, *readFileVersion(kept));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->width, 640);
    EXPECT_EQ(found->height, 480);
    ASSERT_TRUE(store->findHeaderSize(gone, *readFileVersion(gone)));
    FileVersion other = *readFileVersion(kept);
    ++other.ctimeNs;
    EXPECT_FALSE(store->findHeaderSize(kept, other));
    EXPECT_FALSE(store->findHeaderSize("recent.jpg", recent));
    EXPECT_EQ(store->stats()->headerSizes, 2);
    EXPECT_EQ(store->stats()->pictures, 2); // no records here: the sizes' paths

    std::filesystem::remove(gone);
    const auto pruned = store->prune();
    ASSERT_TRUE(pruned);
    EXPECT_EQ(pruned->kept, 1);
    EXPECT_EQ(pruned->dropped, 1);
    EXPECT_TRUE(store->findHeaderSize(kept, *readFileVersion(kept)));
    ASSERT_TRUE(store->clear());
    EXPECT_EQ(store->stats()->headerSizes, 0);
    EXPECT_FALSE(store->findHeaderSize(kept, *readFileVersion(kept)));
    EXPECT_TRUE(warnings.messages.empty());
}
