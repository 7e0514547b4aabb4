#include "search/folder_scan.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "search/file_table.h"
#include "search/line_order.h"
#include "search/privilege.h"
#include "search/scan_files.h"
#include "search/scan_line.h"
#include "search/search_error.h"
#include "search/zone_scope.h"
#include "support/test_pictures.h"

namespace fs = std::filesystem;
using testing_support::makeFile;
using testing_support::stampTextOf;
using testing_support::TempDir;
using testing_support::writeBytes;
using testing_support::ZoneScope;

namespace {

std::vector<std::string> scan(const TempDir& dir, CheckMode mode, int32_t depth)
{
    ScanSettings settings;
    settings.mode = mode;
    settings.subDirDepth = depth;
    return buildScanList(dir.str(), settings);
}

std::vector<std::string> pathsOf(const std::vector<std::string>& lines, const TempDir& dir)
{
    std::vector<std::string> paths;
    for (const std::string& line : lines)
        paths.push_back(std::string(ScanLine(line).path().substr(dir.str().size() + 1)));
    return paths;
}

using Paths = std::vector<std::string>;

} // namespace

TEST(ScanLineTest, FixedColumns)
{
    const std::string line = ScanLine::format({4800640, 1234, 20020531184206}, "/p/a b.jpg");
    EXPECT_EQ(line, "00048006400000001234 2002/05/31 18/42/06 /p/a b.jpg");
    EXPECT_EQ(ScanLine(line).path(), "/p/a b.jpg");
    // Sizes of 2 GiB and more keep their value and their ten digits.
    EXPECT_EQ(ScanLine::format({3221225472, 3221225472, 20020531184206}, "/x").substr(0, 21),
              "32212254723221225472 ");
    EXPECT_EQ(ScanLine::format({ScanLine::kMaxNumber, 0, 0}, "/x").substr(0, 41),
              "99999999990000000000 0000/00/00 00/00/00 ");
    // A wider number still comes out whole; a negative one as zeros.
    EXPECT_EQ(ScanLine::format({12345678901, -5, 0}, "/x"), "123456789010000000000 0000/00/00 00/00/00 /x");
}

TEST(ScanLineTest, ReadsBackWhatItWrites)
{
    const std::string text = ScanLine::format({1006012000, 3221225472, 99991231235958}, "/p/Q r.BMP");
    const ScanLine line(text);
    EXPECT_EQ(line.key(), 1006012000);
    EXPECT_EQ(line.size(), 3221225472);
    EXPECT_EQ(line.stampNumber(), 99991231235958);
    EXPECT_EQ(line.stamp(), "9999/12/31 23/59/58");
    EXPECT_EQ(line.path(), "/p/Q r.BMP");
    EXPECT_EQ(ScanLine(ScanLine::format({0, 0, 101000000}, "")).stamp(), "0000/01/01 00/00/00");
    // A line cut short: the numbers it holds, no stamp, no path.
    const ScanLine cut("000000001200000");
    EXPECT_EQ(cut.key(), 12);
    EXPECT_EQ(cut.size(), 0);
    EXPECT_EQ(cut.stamp(), "");
    EXPECT_EQ(cut.path(), "");
    // The stamp without a path: 40 characters hold it, 41 still no path.
    EXPECT_EQ(ScanLine(text.substr(0, 40)).stamp(), "9999/12/31 23/59/58");
    EXPECT_EQ(ScanLine(text.substr(0, 41)).path(), "");
}

TEST(ScanLineTest, PictureSizeKeysNeverCollide)
{
    // Under 10,000 wide the key is Height * 10000 + Width.
    EXPECT_EQ(pictureSizeKey(640, 480), 4800640);
    EXPECT_EQ(pictureSizeKey(9999, 65535), 655359999);
    EXPECT_EQ(pictureSizeKey(2000, 61), 612000);
    // 12,000 x 60 once shared 612000 with 2,000 x 61.
    EXPECT_EQ(pictureSizeKey(12000, 60), 1006012000);
    EXPECT_EQ(pictureSizeKey(10000, 0), 1000010000);
    EXPECT_EQ(pictureSizeKey(65535, 65535), 7553565535);
    // Every wide key sorts after every narrow one and splits back exactly.
    for (const auto& [width, height] : {std::pair {0, 0}, {9999, 65535}, {10000, 0}, {12000, 60}, {2000, 61},
                                         {65535, 65535}, {65535, 1}, {1, 65535}}) {
        const int64_t key = pictureSizeKey(width, height);
        EXPECT_LE(key, ScanLine::kMaxNumber);
        EXPECT_EQ(width >= 10000, key > pictureSizeKey(9999, 65535)) << width << " x " << height;
        EXPECT_EQ(sizeOfPictureKey(key).width, width);
        EXPECT_EQ(sizeOfPictureKey(key).height, height);
    }
}

TEST(ScanLineTest, StampIsLocalWithEvenSeconds)
{
    ZoneScope utc("UTC"); // stamps read in UTC
    EXPECT_EQ(stampTextOf(1022870527), "2002/05/31 18/42/06"); // 18:42:07
    EXPECT_EQ(stampTextOf(1022870526), "2002/05/31 18/42/06");
    // Outside the DOS range the real date stays.
    EXPECT_EQ(stampTextOf(0), "1970/01/01 00/00/00");
    EXPECT_EQ(stampTextOf(4354819201), "2108/01/01 00/00/00");
    // A year that fits tm_year but not tm_year + 1900 in an int: the far
    // future, not a wrapped-around negative year.
    EXPECT_EQ(stampTextOf(67767973046273304), "9999/12/31 23/59/58");
    ZoneScope::set("JST-9");
    EXPECT_EQ(stampTextOf(1022870527), "2002/06/01 03/42/06");
}

TEST(FolderScanTest, FolderArgumentHasOneTrailingSlash)
{
    EXPECT_EQ(scanFolderArgument("/"), "/");
    EXPECT_EQ(scanFolderArgument("/home/a"), "/home/a/");
    EXPECT_EQ(scanFolderArgument("/home/a/"), "/home/a/");
}

TEST(FolderScanTest, LinesInMode0)
{
    ZoneScope utc("UTC"); // stamps read in UTC
    TempDir dir;
    makeFile(dir, "odd.jpg", 77, 1022870527);
    const auto lines = scan(dir, CheckMode::FileSize, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "00000000770000000077 2002/05/31 18/42/06 " + dir.str() + "/odd.jpg");
}

TEST(FolderScanTest, OrderIsKeySizeStampThenPathIgnoringCase)
{
    TempDir dir;
    makeFile(dir, "z-small.jpg", 10);
    makeFile(dir, "b-late.jpg", 20, 1'000'000'100);
    makeFile(dir, "Y-early.JPG", 20, 1'000'000'000);
    makeFile(dir, "B-same.jpg", 30);
    makeFile(dir, "a-same.bmp", 30);
    makeFile(dir, "c-same.Bmp", 30);
    EXPECT_EQ(pathsOf(scan(dir, CheckMode::FileSize, 0), dir),
              (Paths {"z-small.jpg", "Y-early.JPG", "b-late.jpg", "a-same.bmp", "B-same.jpg", "c-same.Bmp"}));
}

TEST(FolderScanTest, TakesOnlyJpgAndBmpFiles)
{
    TempDir dir;
    for (const char* name : {"a.jpg", "b.JPG", "c.Bmp", "d.jpeg", "e.png", "jpg", "f.jpg.txt", ".hidden.jpg"})
        makeFile(dir, name, 5);
    fs::create_directories(dir.path() / "folder.jpg");
    EXPECT_EQ(pathsOf(scan(dir, CheckMode::FileSize, 3), dir), (Paths {".hidden.jpg", "a.jpg", "b.JPG", "c.Bmp"}));
}

TEST(FolderScanTest, DepthZeroToThree)
{
    TempDir dir;
    makeFile(dir, "l0.jpg", 1);
    makeFile(dir, "s1/l1.jpg", 2);
    makeFile(dir, "s1/s2/l2.jpg", 3);
    makeFile(dir, "s1/s2/s3/l3.jpg", 4);
    makeFile(dir, "s1/s2/s3/s4/l4.jpg", 5);
    const Paths all {"l0.jpg", "s1/l1.jpg", "s1/s2/l2.jpg", "s1/s2/s3/l3.jpg"};
    for (int32_t depth = 0; depth <= 3; ++depth)
        EXPECT_EQ(pathsOf(scan(dir, CheckMode::FileSize, depth), dir), Paths(all.begin(), all.begin() + depth + 1));
}

TEST(FolderScanTest, HiddenFoldersAndLinks)
{
    TempDir dir;
    makeFile(dir, "data/big.bin", 1000);
    makeFile(dir, ".hidden/x.jpg", 7);
    makeFile(dir, "shown/y.jpg", 8);
    fs::create_symlink(dir.path() / "data/big.bin", dir.path() / "link.jpg");
    fs::create_symlink(dir.path() / "shown", dir.path() / "folderlink");
    fs::create_symlink(dir.path() / "shown", dir.path() / "folderlink.jpg");
    fs::create_symlink(dir.path() / "nowhere.jpg", dir.path() / "dangling.jpg");
    fs::create_symlink(dir.path(), dir.path() / "shown/loop"); // would never end if followed
    const auto lines = scan(dir, CheckMode::FileSize, 3);
    EXPECT_EQ(pathsOf(lines, dir), (Paths {"shown/y.jpg", "link.jpg"}));
    // A link to a file carries its target's size.
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 20), "00000010000000001000");
}

TEST(FolderScanTest, NamesThatAreNotUtf8KeepTheirBytes)
{
    TempDir dir;
    const std::string name = "\x83\x65\x83\x58\x83\x67.jpg"; // Shift_JIS bytes
    makeFile(dir, name, 3);
    const auto lines = scan(dir, CheckMode::FileSize, 0);
    ASSERT_EQ(lines.size(), 1u);
    const std::string path(ScanLine(lines[0]).path());
    EXPECT_EQ(path, dir.str() + "/" + name);
    EXPECT_EQ(::access(path.c_str(), R_OK), 0);
}

TEST(FolderScanTest, LargeFiles)
{
    TempDir dir;
    makeFile(dir, "small.jpg", 100);
    // Sparse files: no disk space is used.
    const int64_t threeGiB = int64_t {3} << 30;
    writeBytes(dir.file("big.jpg"), "");
    fs::resize_file(dir.file("big.jpg"), static_cast<std::uintmax_t>(threeGiB));
    writeBytes(dir.file("huge.jpg"), "");
    fs::resize_file(dir.file("huge.jpg"), 10'000'000'000u);
    const auto lines = scan(dir, CheckMode::FileSize, 0);
    EXPECT_EQ(pathsOf(lines, dir), (Paths {"small.jpg", "big.jpg"}));
    const FileTable files = BuildFileTable(lines, CheckMode::FileSize);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].size, threeGiB);
}

TEST(FolderScanTest, PictureSizeKeysAndTheirSplit)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("vga.jpg"), testing_support::solidPicture(640, 480, 1, 2, 3));
    // A frame header claiming 12345 x 6: 10,000 wide or more takes a wide key.
    writeBytes(dir.file("wide.JPG"), std::string("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x06\x30\x39\x01\x01\x11\x00\xFF\xDA", 17));
    // Top-down bitmap: height -200 reads as 65336.
    const std::string topDown = std::string("BM") + std::string(12, '\0') + std::string("\x28\0\0\0\xC8\0\0\0\x38\xFF\xFF\xFF", 12);
    writeBytes(dir.file("topdown.bmp"), topDown);
    const auto lines = scan(dir, CheckMode::PictureSize, 0);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 10), "0004800640");
    EXPECT_EQ(lines[1].substr(0, 10), "0653360200");
    EXPECT_EQ(lines[2].substr(0, 10), "1000612345");
    const FileTable files = BuildFileTable(lines, CheckMode::PictureSize);
    EXPECT_EQ(files[0].height, 480);
    EXPECT_EQ(files[0].width, 640);
    EXPECT_EQ(files[1].height, 65336);
    EXPECT_EQ(files[1].width, 200);
    EXPECT_EQ(files[2].height, 6);
    EXPECT_EQ(files[2].width, 12345);
    EXPECT_EQ(files[0].path, dir.str() + "/vga.jpg");
    EXPECT_EQ(files[0].skip, 0);
    // Outside CheckMode 1 width and height stay zero.
    const FileTable bySize = BuildFileTable(scan(dir, CheckMode::FileSize, 0), CheckMode::FileSize);
    EXPECT_EQ(bySize[0].width, 0);
    EXPECT_EQ(bySize[0].height, 0);
}

TEST(FolderScanTest, UnreadableFolderAndPicture)
{
    TempDir dir;
    ::chmod(dir.str().c_str(), 0755);
    makeFile(dir, "open/a.jpg", 4);
    makeFile(dir, "closed/b.jpg", 4);
    makeFile(dir, "locked.jpg", 4);
    ::chmod(dir.file("closed").c_str(), 0700);
    ::chmod(dir.file("locked.jpg").c_str(), 0);
    const int result = testing_support::runUnprivileged([&] {
        // The closed folder contributes nothing; in CheckMode 0 the locked
        // picture is still listed, its size is all that is needed.
        if (pathsOf(scan(dir, CheckMode::FileSize, 1), dir) != Paths {"locked.jpg", "open/a.jpg"})
            return 1;
        try {
            scan(dir, CheckMode::PictureSize, 1);
            return 2;
        } catch (const SearchError& error) {
            return std::string(error.what()) == "ファイル " + dir.str() + "/locked.jpg は開けません" ? 0 : 3;
        }
    });
    EXPECT_EQ(result, 0);
}

TEST(FolderScanTest, AbortStopsTheScan)
{
    TempDir dir;
    makeFile(dir, "a.jpg", 1);
    makeFile(dir, "s/b.jpg", 1);
    std::atomic<bool> abort {true};
    ScanSettings settings;
    settings.subDirDepth = 1;
    settings.abortFlag = &abort;
    EXPECT_TRUE(buildScanList(dir.str(), settings).empty());
    EXPECT_TRUE(buildScanList(dir.str() + "/missing", ScanSettings {}).empty());
}

TEST(ScanLineTest, OrderIsTheListOrder)
{
    // Keys, sizes, stamps and paths that differ in letter case only, paths
    // that end where another goes on and paths that tie on their first eight
    // bytes.
    std::vector<std::string> lines;
    const char* names[] = {"/p/A.jpg", "/p/a.jpg", "/p/B.JPG", "/p/_x.jpg",
                           "/P/a.jpg", "/p/a.jpgz", "/p/abcdefgh", "/p/ABCDEFGHi"};
    for (int i = 0; i < 3000; ++i)
        lines.push_back(ScanLine::format({(i * 7919) % 97, (i * 31) % 5, i % 3 ? 20020531184206 : 20010101000000},
                                         std::string(names[i % 8]) + std::to_string(i % 11)));
    for (const std::size_t shared : {0, 3}) {
        // Past a shared prefix, only the lines that share it: all but "/P/".
        std::vector<std::string> sorted;
        for (const std::string& line : lines) {
            if (shared == 0 || ScanLine(line).path().starts_with("/p/"))
                sorted.push_back(line);
        }
        std::vector<std::string> expected = sorted;
        sortLines(expected);
        std::sort(sorted.begin(), sorted.end(), [shared](const std::string& a, const std::string& b) {
            return ScanLine(a).order(shared) < ScanLine(b).order(shared);
        });
        EXPECT_EQ(sorted, expected) << shared;
    }
}
