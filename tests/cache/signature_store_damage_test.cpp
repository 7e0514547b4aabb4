// The signature store over a damaged, unusable or locked cache file: one
// warning, the file set aside, and no search stopped by it.

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "cache/record_checksum.h"
#include "cache/signature_store.h"
#include "cache/store_records.h"
#include "search/privilege.h"
#include "support/test_pictures.h"

using namespace store_records;
using testing_support::TempDir;

TEST(SignatureStoreTest, DamagedRecordSetsTheFileAside)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    fillCache(file, "/d/a.jpg");
    // One byte of a signature changed, which SQLite itself cannot see.
    ASSERT_EQ(runSql(file, "UPDATE pictures SET similar = CAST(substr(similar, 1, 40) || 'x' || substr(similar, 42) AS BLOB)"),
              SQLITE_OK);

    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->find("/d/a.jpg", settledVersion()));
    EXPECT_FALSE(store->usable());
    expectOneWarning(warnings, "damaged");
    EXPECT_TRUE(std::filesystem::exists(file + ".corrupt"));
    EXPECT_FALSE(std::filesystem::exists(file));
    // Nothing more is said, whatever else is asked of it.
    store->add("/d/b.jpg", settledVersion(), decodedRecord(5));
    store->flush();
    EXPECT_FALSE(store->find("/d/a.jpg", settledVersion()));
    EXPECT_EQ(warnings.messages.size(), 1u);
}

TEST(SignatureStoreTest, UnusableFilesGiveOneWarningAndNoStore)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* says;
        bool renamed;
    };
    const std::vector<Case> cases = {
        {"garbage", [](const std::string& f) { testing_support::writeBytes(f, std::string(9000, 'g')); }, "damaged", true},
        {"a header with nothing after it",
         [](const std::string& f) {
             fillCache(f, "/x.jpg");
             std::filesystem::resize_file(f, 100);
         },
         "damaged", true},
        {"newer", [](const std::string& f) {
             fillCache(f, "/x.jpg");
             runSql(f, "PRAGMA user_version = 99");
         }, "newer", false},
        {"someone else's database", [](const std::string& f) { runSql(f, "CREATE TABLE notes (text TEXT)"); },
         "not a Zelvic", false},
        {"a folder", [](const std::string& f) { std::filesystem::create_directories(f); }, "not a regular file", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file(std::string(c.name) + "/c.sqlite");
        c.make(file);
        const std::string before = std::filesystem::is_regular_file(file) ? readAll(file) : std::string();
        Warnings warnings;
        EXPECT_FALSE(SignatureStore::open(file, warnings.sink()));
        expectOneWarning(warnings, c.says);
        // Set aside, never deleted: a damaged file keeps every byte beside itself.
        if (c.renamed) {
            EXPECT_EQ(readAll(file + ".corrupt"), before);
            EXPECT_FALSE(std::filesystem::exists(file));
        } else if (std::filesystem::is_regular_file(file)) {
            EXPECT_EQ(readAll(file), before);
        }
    }
}

TEST(SignatureStoreTest, DamagedFileIsRenamedUnderAFreeName)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    testing_support::writeBytes(file + ".corrupt", "an earlier one");
    testing_support::writeBytes(file, std::string(5000, 'z'));
    Warnings warnings;
    EXPECT_FALSE(SignatureStore::open(file, warnings.sink()));
    EXPECT_EQ(readAll(file + ".corrupt"), "an earlier one");
    EXPECT_EQ(readAll(file + ".corrupt-2"), std::string(5000, 'z'));
    // The next open starts a new cache.
    EXPECT_TRUE(SignatureStore::open(file, warnings.sink()));
    EXPECT_EQ(warnings.messages.size(), 1u);
}

TEST(SignatureStoreTest, ZeroLengthFileIsAnEmptyCache)
{
    // SQLite itself leaves a zero-length file while its first transaction
    // sits in the log, so another search may be filling it: it is used, not
    // set aside.
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    testing_support::writeBytes(file, "");
    Warnings warnings;
    {
        auto store = SignatureStore::open(file, warnings.sink());
        ASSERT_TRUE(store);
        store->add("/z.jpg", settledVersion(), decodedRecord(6));
    }
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->find("/z.jpg", settledVersion()));
    EXPECT_TRUE(warnings.messages.empty());
}

TEST(SignatureStoreTest, ReadOnlyOrUnreadableFileIsSetAside)
{
    TempDir dir;
    ::chmod(dir.str().c_str(), 0777);
    const std::string readOnly = dir.file("ro.sqlite");
    const std::string unreadable = dir.file("none.sqlite");
    fillCache(readOnly, "/r.jpg");
    fillCache(unreadable, "/r.jpg");
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(unreadable.c_str(), 0);
    const int result = testing_support::runUnprivileged([&] {
        for (const std::string& file : {readOnly, unreadable}) {
            Warnings warnings;
            if (SignatureStore::open(file, warnings.sink()) || warnings.messages.size() != 1)
                return 1;
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(std::filesystem::exists(readOnly));
    EXPECT_TRUE(std::filesystem::exists(unreadable));
}

TEST(SignatureStoreTest, LockHeldPastTheWaitSetsTheStoreAside)
{
    TempDir dir;
    const std::string file = dir.file("c.sqlite");
    fillCache(file, "/l/a.jpg");
    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    // Readers still read past a writer in WAL.
    EXPECT_TRUE(store->find("/l/a.jpg", settledVersion()));
    const auto start = std::chrono::steady_clock::now();
    store->add("/l/b.jpg", settledVersion(), decodedRecord(7));
    store->flush();
    const auto waited = std::chrono::steady_clock::now() - start;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(store->usable());
    expectOneWarning(warnings, "locked");
    EXPECT_TRUE(std::filesystem::exists(file)); // a locked cache is not damaged
}

// A kept size that fails its check, or that no header can give (sizes are
// 16-bit numbers) even with a matching checksum, sets the file aside.
TEST(SignatureStoreTest, DamagedOrImpossibleHeaderSizeSetsTheFileAside)
{
    std::string forged = "UPDATE header_sizes SET width = 70000, checksum = ";
    forged += std::to_string(recordChecksum(kHeaderReaderVersion, 0, 0, 70000, 480, LoadFailure::None, {}, {}, {}));
    for (const std::string& change : {std::string("UPDATE header_sizes SET width = 641"), forged}) {
        SCOPED_TRACE(change);
        TempDir dir;
        const std::string file = dir.file("c.sqlite");
        {
            auto store = SignatureStore::open(file, [](const std::string&) {});
            ASSERT_TRUE(store);
            store->addHeaderSize("/d/a.jpg", settledVersion(), PictureSize {640, 480});
            store->flush();
        }
        ASSERT_EQ(runSql(file, change), SQLITE_OK);

        Warnings warnings;
        auto store = SignatureStore::open(file, warnings.sink());
        ASSERT_TRUE(store);
        EXPECT_FALSE(store->findHeaderSize("/d/a.jpg", settledVersion()));
        EXPECT_FALSE(store->usable());
        expectOneWarning(warnings, "damaged");
    }
}
