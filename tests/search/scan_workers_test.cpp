// The scan on several threads: the list must not depend on how many there are
// nor on which thread met which folder first.

#include "search/folder_scan.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/worker_pool.h"
#include "search/line_order.h"
#include "search/privilege.h"
#include "search/scan_files.h"
#include "search/scan_line.h"
#include "search/search_error.h"
#include "search/zone_scope.h"
#include "support/test_pictures.h"

namespace fs = std::filesystem;
using testing_support::makeFile;
using testing_support::TempDir;
using testing_support::ZoneScope;

namespace {

std::vector<std::string> scanWith(const TempDir& dir, int32_t jobs, CheckMode mode = CheckMode::FileSize)
{
    ScanSettings settings;
    settings.mode = mode;
    settings.subDirDepth = 3;
    settings.jobs = jobs;
    return buildScanList(dir.str(), settings);
}

} // namespace

TEST(ScanWorkersTest, EveryThreadCountGivesTheListInListOrder)
{
    TempDir dir;
    // Folders at four levels (the fourth is not entered), names that tie on
    // their first eight bytes or differ only in letter case, a folder name
    // that is a prefix of a file name, sizes and stamps that tie often.
    const char* names[] = {"abcdefgh.jpg", "ABCDEFGH.JPG", "abcdefgh-x.bmp", "abcdefg.jpg", "a.jpg", "A.jpg", "b.BMP"};
    const char* folders[] = {"", "abcdefgh/", "abcdefgh/Sub/", "abcdefgh/sub/", "abcdefgh/sub/deep/", "abcdefgh/sub/deep/deeper/",
                             "Z/", "z/", "z/pics.jpg/", ".hidden/"};
    int made = 0;
    for (const char* folder : folders) {
        for (const char* name : names) {
            makeFile(dir, std::string(folder) + name, static_cast<std::size_t>(made % 3), 1'000'000'000 + (made % 2) * 2);
            ++made;
        }
    }
    const auto one = scanWith(dir, 1);
    EXPECT_EQ(one.size(), 7u * 8); // not the hidden folder, not the fourth level
    std::vector<std::string> expected = one;
    sortLines(expected);
    EXPECT_EQ(one, expected);
    for (int32_t jobs : {2, 3, 8})
        EXPECT_EQ(scanWith(dir, jobs), one) << jobs << " threads";
}

TEST(ScanWorkersTest, StampsAcrossAZoneChangeAreLocalTime)
{
    ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    TempDir dir;
    // Every 7 seconds over the two hours around the change of 2023-10-29
    // (01:00 UTC), and around the one of 2023-03-26.
    std::vector<int64_t> times;
    for (int64_t t = 1698541200 - 3600; t < 1698541200 + 3600; t += 7)
        times.push_back(t);
    for (int64_t t = 1679792400 - 1800; t < 1679792400 + 1800; t += 13)
        times.push_back(t);
    for (std::size_t i = 0; i < times.size(); ++i)
        makeFile(dir, std::string("f").append(std::to_string(i % 10)).append("/").append(std::to_string(times[i])).append(".jpg"), 1,
                 times[i]);
    for (int32_t jobs : {1, 2}) {
        const auto lines = scanWith(dir, jobs);
        ASSERT_EQ(lines.size(), times.size());
        for (const std::string& line : lines) {
            const std::string name = line.substr(line.rfind('/') + 1);
            const std::time_t time = std::stoll(name);
            ASSERT_EQ(ScanLine(line).stamp(), testing_support::stampTextOf(time)) << name;
        }
    }
}

TEST(ScanWorkersTest, UnopenedPictureNamedIsTheFirstPathWhateverTheThreads)
{
    TempDir dir;
    ::chmod(dir.str().c_str(), 0755);
    for (const char* name : {"m.jpg", "z/locked.jpg", "a/b/locked.jpg", "a/locked.jpg", "a/fine.jpg"}) {
        makeFile(dir, name, 4, 1'000'000'000);
        ::chmod(dir.file(name).c_str(), std::string(name).find("locked") != std::string::npos ? 0 : 0644);
    }
    ::chmod(dir.file("m.jpg").c_str(), 0);
    for (const char* folder : {"z", "a", "a/b"})
        ::chmod(dir.file(folder).c_str(), 0755);
    const int result = testing_support::runUnprivileged([&] {
        for (int32_t jobs : {1, 2, 4}) {
            try {
                scanWith(dir, jobs, CheckMode::PictureSize);
                return 1;
            } catch (const SearchError& error) {
                if (std::string(error.what()) != "ファイル " + dir.str() + "/a/b/locked.jpg は開けません")
                    return 2;
            }
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST(ScanWorkersTest, AbortStopsEveryThread)
{
    TempDir dir;
    for (int i = 0; i < 20; ++i)
        makeFile(dir, std::string("s").append(std::to_string(i)).append("/p.jpg"), 1, 1'000'000'000);
    std::atomic<bool> abort {true};
    ScanSettings settings;
    settings.subDirDepth = 3;
    settings.jobs = 4;
    settings.abortFlag = &abort;
    EXPECT_TRUE(buildScanList(dir.str(), settings).empty());
    abort = false;
    EXPECT_EQ(buildScanList(dir.str(), settings).size(), 20u);
}

TEST(ScanWorkersTest, FolderLargerThanOneReadOfEntries)
{
    // About 240 KiB of directory entries: several reads of the entry buffer.
    TempDir dir;
    const std::string longName(100, 'n');
    for (int i = 0; i < 2000; ++i)
        makeFile(dir, std::string(longName).append(std::to_string(i)).append(i % 2 ? ".jpg" : ".txt"), 1, 1'000'000'000);
    for (int32_t jobs : {1, 2}) {
        const auto lines = scanWith(dir, jobs);
        EXPECT_EQ(lines.size(), 1000u);
        std::vector<std::string> expected = lines;
        sortLines(expected);
        EXPECT_EQ(lines, expected);
    }
}

TEST(ScanWorkersTest, TheSearchPoolDoesTheScanAndOutlivesIt)
{
    TempDir dir;
    for (int i = 0; i < 30; ++i)
        makeFile(dir, std::string("f").append(std::to_string(i % 6)).append("/p").append(std::to_string(i)).append(".jpg"), 1,
                 1'000'000'000);
    WorkerPool pool(2);
    std::mutex mutex;
    std::set<std::thread::id> poolThreads;
    pool.run([&](int32_t) {
        std::lock_guard lock(mutex);
        poolThreads.insert(std::this_thread::get_id());
    });
    std::set<std::thread::id> scanThreads;
    ScanSettings settings;
    settings.mode = CheckMode::PictureSize;
    settings.subDirDepth = 3;
    settings.jobs = 1; // the pool's size counts, not this
    settings.pictureSize = [&](const std::string&, const struct stat&) {
        std::lock_guard lock(mutex);
        scanThreads.insert(std::this_thread::get_id());
        return std::optional<PictureSize>(PictureSize {4, 3});
    };
    const auto alone = buildScanList(dir.str(), settings);
    EXPECT_EQ(alone.size(), 30u);
    EXPECT_EQ(scanThreads, std::set {std::this_thread::get_id()});
    scanThreads.clear();
    settings.pool = &pool;
    // Twice on the same pool: the first scan leaves its threads ready.
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(buildScanList(dir.str(), settings), alone) << round;
    EXPECT_FALSE(scanThreads.empty());
    for (const std::thread::id& id : scanThreads)
        EXPECT_EQ(poolThreads.count(id), 1u);
}
