#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cache/signature_store.h"
#include "search/privilege.h"
#include "support/cli_run.h"
#include "support/test_pictures.h"

using testing_support::CliRun;
using testing_support::runCli;
using testing_support::TempDir;

namespace {

// Files changed within a clock tick of a search are not kept; the tests
// let their pictures age past that before the first search.
void letFilesSettle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
}

// The JSON with the time and the cache's counts taken out: what must not
// depend on the cache.
std::string withoutTimeAndCache(const std::string& json)
{
    static const std::regex varying(",\"elapsed_seconds\":[0-9.e+-]+(,\"cache\":\\{[^}]*\\})?");
    return std::regex_replace(json, varying, "");
}

struct CacheCounts {
    long hits = -1;
    long misses = -1;
};

CacheCounts countsOf(const std::string& json)
{
    static const std::regex counts("\"cache\":\\{\"hits\":([0-9]+),\"misses\":([0-9]+)\\}");
    std::smatch match;
    if (!std::regex_search(json, match, counts))
        return {};
    return CacheCounts {std::stol(match[1]), std::stol(match[2])};
}

int lineCount(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Pictures of every kind a search meets: distinct photographs, exact and
// re-compressed copies, a bitmap, damaged and empty files, a picture too
// small for the identical engine but not for the similar one. The damage of
// the cut and the scribbled JPEG lies in rows that only one engine may need,
// where a decode for both engines could see more of it than one for a
// single engine.
void writeMixedFolder(const TempDir& dir, int photographs)
{
    for (int i = 0; i < photographs; ++i)
        testing_support::writeJpeg(dir.file("p" + std::to_string(i) + ".jpg"),
                                   testing_support::photoLikePicture(160, 120, 200 + static_cast<uint32_t>(i)));
    std::filesystem::copy_file(dir.file("p1.jpg"), dir.file("copy-of-p1.jpg"));
    testing_support::writeJpeg(dir.file("p2-again.JPG"), testing_support::photoLikePicture(160, 120, 202), 60);
    testing_support::writeBmp24(dir.file("sub/p3.bmp"), testing_support::photoLikePicture(160, 120, 203));
    testing_support::writeBytes(dir.file("empty.jpg"), "");
    testing_support::writeBytes(dir.file("text.jpg"), "no picture here");
    testing_support::writeJpeg(dir.file("tiny.jpg"), testing_support::photoLikePicture(4, 4, 1));
    const std::string whole = testing_support::readFileText(dir.file("p0.jpg"));
    testing_support::writeBytes(dir.file("cut.jpg"), whole.substr(0, whole.size() * 2 / 3));
    std::string scribbled = whole;
    for (std::size_t i = scribbled.size() * 3 / 4; i < scribbled.size() * 3 / 4 + 64; ++i)
        scribbled[i] = static_cast<char>(0xFF - (i & 0x0F));
    testing_support::writeBytes(dir.file("scribbled.jpg"), scribbled);
}

std::vector<std::string> searchArgs(const TempDir& dir, const std::string& mode, const std::string& level)
{
    return {"search", dir.str(), "--mode", mode, "--level", level, "--depth", "1", "--json"};
}

std::vector<std::string> operator+(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace

TEST(CacheSearchTest, EmptyWarmAndNoCacheSearchesPrintTheSame)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 8);
    letFilesSettle();
    // 16 files; in the picture modes each is decoded once, the damaged ones too.
    constexpr long kFiles = 16;
    for (const std::string mode : {"identical", "similar", "size", "dims"}) {
        for (const std::string level : {"strict", "middle", "loose"}) {
            SCOPED_TRACE(mode + " " + level);
            const std::string cache = caches.file(mode + level + ".sqlite");
            const CliRun none = runCli(searchArgs(pictures, mode, level) + std::vector<std::string> {"--no-cache"});
            ASSERT_EQ(none.status, 0) << none.err;
            EXPECT_EQ(none.out.find("\"cache\""), std::string::npos);
            const std::string expected = withoutTimeAndCache(none.out);

            const CliRun cold = runCli(searchArgs(pictures, mode, level) + std::vector<std::string> {"--cache", cache, "--jobs", "1"});
            const CliRun warm = runCli(searchArgs(pictures, mode, level) + std::vector<std::string> {"--cache", cache, "--jobs", "2"});
            const CliRun warm3 = runCli(searchArgs(pictures, mode, level) + std::vector<std::string> {"--cache", cache, "--jobs", "3"});
            for (const CliRun* run : {&cold, &warm, &warm3}) {
                EXPECT_EQ(run->status, 0);
                EXPECT_EQ(withoutTimeAndCache(run->out), expected);
                EXPECT_EQ(lineCount(run->err, "zelvic-cli:"), 0) << run->err;
            }
            if (mode == "identical" || mode == "similar") {
                EXPECT_EQ(countsOf(cold.out).hits, 0);
                EXPECT_EQ(countsOf(cold.out).misses, kFiles);
                EXPECT_EQ(countsOf(warm.out).hits, kFiles);
                EXPECT_EQ(countsOf(warm.out).misses, 0);
            } else {
                // Only members of runs are looked at, and then only once.
                EXPECT_EQ(countsOf(warm.out).misses, 0);
                EXPECT_EQ(countsOf(warm.out).hits, countsOf(cold.out).misses);
            }
        }
    }
}

TEST(CacheSearchTest, OneDecodeLeavesTheOtherPictureModeWarm)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 5);
    letFilesSettle();
    const std::string cache = caches.file("c.sqlite");
    const CliRun identical = runCli(searchArgs(pictures, "identical", "strict") + std::vector<std::string> {"--cache", cache});
    EXPECT_EQ(countsOf(identical.out).misses, 13);
    const CliRun similar = runCli(searchArgs(pictures, "similar", "loose") + std::vector<std::string> {"--cache", cache});
    EXPECT_EQ(countsOf(similar.out).hits, 13);
    EXPECT_EQ(countsOf(similar.out).misses, 0);
    const CliRun none = runCli(searchArgs(pictures, "similar", "loose") + std::vector<std::string> {"--no-cache"});
    EXPECT_EQ(withoutTimeAndCache(similar.out), withoutTimeAndCache(none.out));
}

// A record copied onto another file's row, checksum and all, belongs to
// neither: both kinds of search set the cache aside and group as without it.
TEST(CacheSearchTest, RecordMovedToAnotherRowIsCaughtLikeDamage)
{
    TempDir pictures;
    TempDir caches;
    for (int i = 0; i < 4; ++i)
        testing_support::writeJpeg(pictures.file("p" + std::to_string(i) + ".jpg"),
                                   testing_support::photoLikePicture(160, 120, 300 + static_cast<uint32_t>(i)));
    std::filesystem::copy_file(pictures.file("p0.jpg"), pictures.file("copy-of-p0.jpg"));
    letFilesSettle();
    for (const std::string mode : {"identical", "similar"}) {
        SCOPED_TRACE(mode);
        const std::vector<std::string> args = searchArgs(pictures, mode, "middle");
        const std::string cache = caches.file(mode + ".sqlite");
        const CliRun none = runCli(args + std::vector<std::string> {"--no-cache"});
        ASSERT_EQ(none.status, 0) << none.err;
        ASSERT_EQ(runCli(args + std::vector<std::string> {"--cache", cache}).status, 0);
        // p1's record put on p2's row: the same size and versions, so only
        // the key tells them apart.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(cache.c_str(), &db), SQLITE_OK);
        const char* move =
            "UPDATE pictures SET (identical, similar, checksum) = (SELECT identical, similar, checksum FROM pictures"
            " WHERE CAST(path AS TEXT) LIKE '%/p1.jpg') WHERE CAST(path AS TEXT) LIKE '%/p2.jpg'";
        EXPECT_EQ(sqlite3_exec(db, move, nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_changes(db), 1);
        sqlite3_close(db);

        const CliRun moved = runCli(args + std::vector<std::string> {"--cache", cache});
        EXPECT_EQ(moved.status, 0);
        EXPECT_EQ(withoutTimeAndCache(moved.out), withoutTimeAndCache(none.out));
        EXPECT_EQ(lineCount(moved.err, "zelvic-cli:"), 1) << moved.err;
        EXPECT_NE(moved.err.find("damaged"), std::string::npos) << moved.err;
        EXPECT_TRUE(std::filesystem::exists(cache + ".corrupt"));
        // The log and its index went with the file, or are gone: none is
        // left for the set-aside file or for a new cache to meet.
        for (const char* part : {"-wal", "-shm", ".corrupt-wal", ".corrupt-shm"})
            EXPECT_FALSE(std::filesystem::exists(cache + part)) << part;
    }
}

// A cache of the layout before checksums were bound to their keys is
// emptied and filled again, without a warning.
TEST(CacheSearchTest, CacheOfTheEarlierLayoutStartsAgain)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 3);
    letFilesSettle();
    const std::vector<std::string> args = searchArgs(pictures, "identical", "strict");
    const std::string cache = caches.file("c.sqlite");
    runCli(args + std::vector<std::string> {"--cache", cache});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(cache.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const CliRun again = runCli(args + std::vector<std::string> {"--cache", cache});
    const CliRun warm = runCli(args + std::vector<std::string> {"--cache", cache});
    EXPECT_EQ(lineCount(again.err + warm.err, "zelvic-cli:"), 0) << again.err << warm.err;
    EXPECT_EQ(countsOf(again.out).hits, 0);
    EXPECT_EQ(countsOf(again.out).misses, 11);
    EXPECT_EQ(countsOf(warm.out).hits, 11);
}

// A picture-size search reads no header whose size it kept: a size planted
// in the cache for c's present version is what the search lists; once c is
// rewritten, its header is read again.
TEST(CacheSearchTest, PictureSizeSearchTakesKeptSizesAndRereadsChangedFiles)
{
    TempDir pictures;
    TempDir caches;
    const std::string cache = caches.file("c.sqlite");
    const std::string c = pictures.file("c.jpg");
    testing_support::writeJpeg(pictures.file("a.jpg"), testing_support::photoLikePicture(160, 120, 1));
    testing_support::writeJpeg(pictures.file("b.jpg"), testing_support::photoLikePicture(160, 120, 2));
    testing_support::writeJpeg(c, testing_support::photoLikePicture(80, 60, 3));
    letFilesSettle();
    const std::vector<std::string> args = {"search", pictures.str(), "--mode", "dims", "--json", "--cache", cache};
    const std::vector<std::string> noCache = {"search", pictures.str(), "--mode", "dims", "--json", "--no-cache"};
    const CliRun first = runCli(args);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(withoutTimeAndCache(first.out), withoutTimeAndCache(runCli(noCache).out));
    // The key of 80 x 60 is 600080, of 160 x 120 1200160.
    EXPECT_NE(first.out.find("\"00006000800"), std::string::npos) << first.out;

    {
        auto store = SignatureStore::open(cache, [](const std::string&) {});
        ASSERT_TRUE(store);
        const std::optional<FileVersion> version = readFileVersion(c);
        ASSERT_TRUE(version);
        ASSERT_EQ(store->findHeaderSize(c, *version)->width, 80);
        store->addHeaderSize(c, *version, PictureSize {160, 120});
        store->flush();
    }
    const CliRun planted = runCli(args);
    EXPECT_EQ(planted.out.find("\"00006000800"), std::string::npos) << planted.out;
    EXPECT_EQ(lineCount(planted.out, "\"00012001600"), 3) << planted.out;

    testing_support::writeJpeg(c, testing_support::photoLikePicture(80, 60, 4));
    letFilesSettle();
    const CliRun reread = runCli(args);
    EXPECT_EQ(withoutTimeAndCache(reread.out), withoutTimeAndCache(runCli(noCache).out));
    EXPECT_NE(reread.out.find("\"00006000800"), std::string::npos) << reread.out;
}

TEST(CacheSearchTest, ContentChangedWithSizeAndTimesPutBackIsReadAgain)
{
    TempDir pictures;
    TempDir caches;
    const std::string cache = caches.file("c.sqlite");
    // Bitmaps of one size have one byte count whatever they show.
    const std::string a = pictures.file("a.bmp");
    const std::string b = pictures.file("b.bmp");
    const std::string c = pictures.file("c.bmp");
    testing_support::writeBmp24(a, testing_support::photoLikePicture(64, 48, 1));
    testing_support::writeBmp24(b, testing_support::photoLikePicture(64, 48, 2));
    testing_support::writeBmp24(c, testing_support::photoLikePicture(64, 48, 3));
    letFilesSettle();
    const std::vector<std::string> args = {"search", pictures.str(), "--mode", "identical", "--json", "--cache", cache};
    const CliRun first = runCli(args);
    ASSERT_NE(first.out.find("\"pairs\":0"), std::string::npos) << first.out;

    struct stat before {};
    ASSERT_EQ(::stat(b.c_str(), &before), 0);
    // b rewritten in place with a's picture (same inode, same size), c
    // replaced by a new file holding a's picture (new inode); both get their
    // old modification time back.
    testing_support::writeBmp24(b, testing_support::photoLikePicture(64, 48, 1));
    testing_support::writeBmp24(pictures.file("c.new"), testing_support::photoLikePicture(64, 48, 1));
    std::filesystem::rename(pictures.file("c.new"), c);
    for (const std::string& path : {b, c}) {
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        ASSERT_EQ(after.st_size, before.st_size);
    }
    letFilesSettle();
    const CliRun second = runCli(args);
    EXPECT_EQ(countsOf(second.out).hits, 1);
    EXPECT_EQ(countsOf(second.out).misses, 2);
    EXPECT_NE(second.out.find("\"pairs\":3"), std::string::npos) << second.out;
    const CliRun none = runCli({"search", pictures.str(), "--mode", "identical", "--json", "--no-cache"});
    EXPECT_EQ(withoutTimeAndCache(second.out), withoutTimeAndCache(none.out));
}

TEST(CacheSearchTest, UnusableCachesGiveTheNoCacheOutputAndOneWarning)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 4);
    letFilesSettle();
    const std::vector<std::string> args = searchArgs(pictures, "similar", "middle");
    const std::string expected = withoutTimeAndCache(runCli(args + std::vector<std::string> {"--no-cache"}).out);
    auto filled = [&](const std::string& name) {
        const std::string file = caches.file(name);
        runCli(args + std::vector<std::string> {"--cache", file});
        return file;
    };
    struct Case {
        std::string name;
        std::string file;
        const char* says;
    };
    std::vector<Case> cases;
    {
        const std::string garbage = caches.file("garbage.sqlite");
        testing_support::writeBytes(garbage, std::string(20000, '\x5a'));
        cases.push_back({"garbage", garbage, "damaged"});
    }
    {
        // A sound header, every page after it overwritten.
        const std::string damaged = filled("damaged.sqlite");
        std::string bytes = testing_support::readFileText(damaged);
        for (std::size_t i = 100; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        testing_support::writeBytes(damaged, bytes);
        cases.push_back({"damaged pages", damaged, "damaged"});
    }
    {
        const std::string newer = filled("newer.sqlite");
        sqlite3* db = nullptr;
        sqlite3_open(newer.c_str(), &db);
        sqlite3_exec(db, "PRAGMA user_version = 1000", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        cases.push_back({"newer", newer, "newer"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun run = runCli(args + std::vector<std::string> {"--cache", c.file});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(withoutTimeAndCache(run.out), expected);
        EXPECT_EQ(run.out.find("\"cache\""), std::string::npos); // not in use
        EXPECT_EQ(lineCount(run.err, "zelvic-cli:"), 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_TRUE(std::filesystem::exists(caches.file("garbage.sqlite.corrupt")));

    // A zero-length file is an empty database: it becomes a working cache.
    const std::string empty = caches.file("empty.sqlite");
    testing_support::writeBytes(empty, "");
    const CliRun fills = runCli(args + std::vector<std::string> {"--cache", empty});
    const CliRun uses = runCli(args + std::vector<std::string> {"--cache", empty});
    EXPECT_EQ(withoutTimeAndCache(fills.out), expected);
    EXPECT_EQ(withoutTimeAndCache(uses.out), expected);
    EXPECT_EQ(countsOf(uses.out).misses, 0);
    EXPECT_EQ(lineCount(fills.err + uses.err, "zelvic-cli:"), 0);
}

TEST(CacheSearchTest, ReadOnlyCacheGivesTheNoCacheOutputAndOneWarning)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 4);
    letFilesSettle();
    ::chmod(pictures.str().c_str(), 0755);
    ::chmod(pictures.file("sub").c_str(), 0755);
    ::chmod(caches.str().c_str(), 0777);
    const std::vector<std::string> args = searchArgs(pictures, "identical", "strict");
    const std::string cache = caches.file("c.sqlite");
    runCli(args + std::vector<std::string> {"--cache", cache});
    ::chmod(cache.c_str(), 0444);
    const std::string expected = withoutTimeAndCache(runCli(args + std::vector<std::string> {"--no-cache"}).out);
    const std::string result = caches.file("result");
    const int status = testing_support::runUnprivileged([&] {
        const CliRun run = runCli(args + std::vector<std::string> {"--cache", cache});
        testing_support::writeBytes(result, run.out + '\n' + run.err);
        return run.status;
    });
    ASSERT_EQ(status, 0);
    const std::string text = testing_support::readFileText(result);
    const std::size_t split = text.find('\n'); // the JSON is one line
    ASSERT_NE(split, std::string::npos);
    EXPECT_EQ(withoutTimeAndCache(text.substr(0, split + 1)), expected);
    EXPECT_EQ(lineCount(text, "zelvic-cli:"), 1) << text;
    EXPECT_NE(text.find("read-only"), std::string::npos) << text;
}

TEST(CacheSearchTest, FullDiskGivesTheNoCacheOutputAndOneWarning)
{
    TempDir pictures;
    TempDir disk;
    // 256 KB hold the cache's first pages and not the records of 300 pictures.
    if (::mount("tmpfs", disk.str().c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    for (int i = 0; i < 300; ++i)
        testing_support::writeJpeg(pictures.file("f" + std::to_string(i) + ".jpg"),
                                   testing_support::photoLikePicture(64, 48, 500 + static_cast<uint32_t>(i)));
    std::filesystem::copy_file(pictures.file("f9.jpg"), pictures.file("f9-copy.jpg"));
    letFilesSettle();
    const std::vector<std::string> args = {"search", pictures.str(), "--mode", "identical", "--json"};
    const CliRun full = runCli(args + std::vector<std::string> {"--cache", disk.file("c.sqlite")});
    const CliRun none = runCli(args + std::vector<std::string> {"--no-cache"});
    ::umount(disk.str().c_str());
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(withoutTimeAndCache(full.out), withoutTimeAndCache(none.out));
    EXPECT_NE(full.out.find("\"pairs\":1"), std::string::npos);
    EXPECT_EQ(lineCount(full.err, "zelvic-cli:"), 1) << full.err;
    EXPECT_NE(full.err.find("disk is full"), std::string::npos) << full.err;
}

TEST(CacheSearchTest, TwoSearchesFillOneCacheAtOnce)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 150);
    letFilesSettle();
    const std::string cache = caches.file("c.sqlite");
    const std::vector<std::string> identical = searchArgs(pictures, "identical", "strict") + std::vector<std::string> {"--cache", cache};
    const std::vector<std::string> similar = searchArgs(pictures, "similar", "strict") + std::vector<std::string> {"--cache", cache};
    const std::string out1 = caches.file("out1"), out2 = caches.file("out2");
    const std::string err1 = caches.file("err1"), err2 = caches.file("err2");
    using testing_support::shellQuoted;
    const std::string both = "(" + testing_support::cliCommand(identical) + " >" + shellQuoted(out1) + " 2>" + shellQuoted(err1)
                             + " & " + testing_support::cliCommand(similar) + " >" + shellQuoted(out2) + " 2>"
                             + shellQuoted(err2) + " & wait)";
    ASSERT_EQ(std::system(both.c_str()), 0);
    const std::string one = testing_support::readFileText(out1);
    const std::string two = testing_support::readFileText(out2);
    EXPECT_EQ(testing_support::readFileText(err1).find("zelvic-cli:"), std::string::npos) << testing_support::readFileText(err1);
    EXPECT_EQ(testing_support::readFileText(err2).find("zelvic-cli:"), std::string::npos) << testing_support::readFileText(err2);
    EXPECT_EQ(withoutTimeAndCache(one),
              withoutTimeAndCache(runCli(searchArgs(pictures, "identical", "strict") + std::vector<std::string> {"--no-cache"}).out));
    EXPECT_EQ(withoutTimeAndCache(two),
              withoutTimeAndCache(runCli(searchArgs(pictures, "similar", "strict") + std::vector<std::string> {"--no-cache"}).out));

    // Whatever either kept, every file is now in the cache for both modes.
    for (const auto* args : {&identical, &similar}) {
        const CliRun again = runCli(*args);
        EXPECT_EQ(countsOf(again.out).misses, 0);
        EXPECT_EQ(countsOf(again.out).hits, 158);
    }
}

TEST(CacheSearchTest, SearchKilledMidwayLeavesAUsableCache)
{
    TempDir pictures;
    TempDir caches;
    for (int i = 0; i < 300; ++i)
        testing_support::writeJpeg(pictures.file("k" + std::to_string(i) + ".jpg"),
                                   testing_support::photoLikePicture(480, 360, 900 + static_cast<uint32_t>(i)));
    std::filesystem::copy_file(pictures.file("k5.jpg"), pictures.file("k5-copy.jpg"));
    letFilesSettle();
    const std::string cache = caches.file("c.sqlite");
    const std::vector<std::string> args = {"search", pictures.str(), "--mode", "similar", "--json", "--cache", cache};

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::vector<char*> argv {const_cast<char*>(ZELVIC_CLI_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(ZELVIC_CLI_PATH, argv.data());
        ::_exit(127);
    }
    // Killed once some batches are committed (another connection sees their
    // records), long before the end. The size of the log would not tell: a
    // batch's pages are written to it before its commit.
    const auto committedRecords = [&cache] {
        sqlite3* db = nullptr;
        int64_t records = 0;
        if (sqlite3_open_v2(cache.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* count = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT count(*) FROM pictures", -1, &count, nullptr) == SQLITE_OK
                && sqlite3_step(count) == SQLITE_ROW)
                records = sqlite3_column_int64(count, 0);
            sqlite3_finalize(count);
        }
        sqlite3_close(db);
        return records;
    };
    bool exited = false;
    int status = 0;
    for (int i = 0; i < 4000 && !exited; ++i) {
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited && committedRecords() >= 64)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
    }

    const CliRun after = runCli(args);
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(lineCount(after.err, "zelvic-cli:"), 0) << after.err;
    const CacheCounts counts = countsOf(after.out);
    EXPECT_GT(counts.hits, 0);
    EXPECT_EQ(counts.hits + counts.misses, 301);
    const CliRun none = runCli({"search", pictures.str(), "--mode", "similar", "--json", "--no-cache"});
    EXPECT_EQ(withoutTimeAndCache(after.out), withoutTimeAndCache(none.out));
}

TEST(CacheSearchTest, CacheCommandCountsPrunesAndClears)
{
    TempDir pictures;
    TempDir caches;
    writeMixedFolder(pictures, 3);
    letFilesSettle();
    const std::string cache = caches.file("c.sqlite");
    const CliRun missing = runCli({"cache", "stats", "--cache", cache});
    EXPECT_EQ(missing.status, 0);
    EXPECT_NE(missing.out.find("no signature cache"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(cache)); // looking does not create one

    runCli(searchArgs(pictures, "identical", "strict") + std::vector<std::string> {"--cache", cache});
    const CliRun stats = runCli({"cache", "stats", "--cache=" + cache});
    EXPECT_EQ(stats.status, 0) << stats.err;
    // 11 files; the tiny one decodes but has no identical signature, the
    // empty and the text file are kept as failures (libjpeg reads the cut
    // and the scribbled one to the end, with warnings).
    EXPECT_NE(stats.out.find("records: 11\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("load failures: 2\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("identical signatures: 8\n"), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find("similar signatures: 9\n"), std::string::npos) << stats.out;

    std::filesystem::remove(pictures.file("p0.jpg"));
    testing_support::writeBytes(pictures.file("text.jpg"), "other text, not a picture either");
    const CliRun prune = runCli({"cache", "prune", "--cache", cache});
    EXPECT_EQ(prune.status, 0) << prune.err;
    EXPECT_EQ(prune.out, "kept 9, dropped 2\n");

    const CliRun clear = runCli({"cache", "clear", "--cache", cache});
    EXPECT_EQ(clear.status, 0) << clear.err;
    EXPECT_NE(runCli({"cache", "stats", "--cache", cache}).out.find("records: 0\n"), std::string::npos);

    EXPECT_EQ(runCli({"cache", "stats", "--cache"}).status, 2);
    EXPECT_EQ(runCli({"cache", "shrink"}).status, 2);
    EXPECT_EQ(runCli({"search", pictures.str(), "--cache", cache, "--no-cache"}).status, 2);
}
