#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "search/folder_scan.h"
#include "search/privilege.h"
#include "search/scan_files.h"
#include "search/scan_line.h"
#include "search/search_error.h"
#include "support/test_pictures.h"

namespace fs = std::filesystem;
using testing_support::makeFile;
using testing_support::TempDir;

namespace {

using Paths = std::vector<std::string>;

// The paths of a scan below dir, without dir's "/" in front.
Paths scanPaths(const TempDir& dir, const Paths& folders, int32_t depth, const Paths& excludes = {},
                int32_t jobs = 1)
{
    ScanSettings settings;
    settings.subDirDepth = depth;
    settings.excludes = excludes;
    settings.jobs = jobs;
    Paths absolute;
    for (const std::string& folder : folders)
        absolute.push_back(folder.empty() ? dir.str() : dir.file(folder));
    Paths paths;
    for (const std::string& line : buildScanList(absolute, settings))
        paths.push_back(std::string(ScanLine(line).path().substr(dir.str().size() + 1)));
    return paths;
}

} // namespace

TEST(SeveralFoldersTest, OverlappingAndNestedFoldersListEachPathOnceInTheListOrder)
{
    TempDir dir;
    makeFile(dir, "top.jpg", 9);
    makeFile(dir, "a/x.jpg", 5);
    makeFile(dir, "a/sub/y.jpg", 6);
    makeFile(dir, "a/sub/deep/w.jpg", 7);
    makeFile(dir, "b/Z.jpg", 5);
    // Each folder to the depth from itself: "a" at depth 1 reaches sub/y but
    // not sub/deep/w, which "a/sub" reaches; y is reached twice, listed once.
    // The merged list is in the one order: size, stamp, path ignoring case.
    const Paths expected {"a/x.jpg", "b/Z.jpg", "a/sub/y.jpg", "a/sub/deep/w.jpg"};
    for (const int32_t jobs : {1, 3}) {
        EXPECT_EQ(scanPaths(dir, {"a", "b", "a/sub", "a"}, 1, {}, jobs), expected) << jobs;
        EXPECT_EQ(scanPaths(dir, {"a/sub", "b", "a"}, 1, {}, jobs), expected) << jobs;
    }
    // The outer folder at depth 0 adds its own files only.
    EXPECT_EQ(scanPaths(dir, {"", "a/sub"}, 0), (Paths {"a/sub/y.jpg", "top.jpg"}));
    // Whole lines: the same as each folder's own scan gives.
    ScanSettings settings;
    settings.subDirDepth = 0;
    const std::vector<std::string> alone = buildScanList(dir.file("b"), settings);
    const std::vector<std::string> merged = buildScanList(Paths {dir.file("b"), dir.file("b")}, settings);
    EXPECT_EQ(merged, alone);
}

TEST(SeveralFoldersTest, LinksToFoldersAreNotFollowedAndLinkedFilesKeepTheirPaths)
{
    TempDir dir;
    makeFile(dir, "a/x.jpg", 5);
    makeFile(dir, "b/z.jpg", 6);
    fs::create_symlink(dir.path() / "b", dir.path() / "a/tob");
    fs::create_symlink(dir.path() / "b/z.jpg", dir.path() / "a/z-link.jpg");
    fs::create_symlink(dir.path() / "a", dir.path() / "b/loop");
    // z is reached through b only; the link to it in a is a path of its own,
    // as it is when a alone is searched.
    EXPECT_EQ(scanPaths(dir, {"a", "b"}, 3), (Paths {"a/x.jpg", "a/z-link.jpg", "b/z.jpg"}));
    // A search folder given through a link is listed under the link's path.
    EXPECT_EQ(scanPaths(dir, {"a/tob", "a"}, 0), (Paths {"a/x.jpg", "a/tob/z.jpg", "a/z-link.jpg"}));
}

TEST(SeveralFoldersTest, ExclusionsLeaveOutFilesAndFolders)
{
    TempDir dir;
    makeFile(dir, "p/a.jpg", 1);
    makeFile(dir, "p/b.bmp", 2);
    makeFile(dir, "p/Lightroom/c.jpg", 3);
    makeFile(dir, "p/Lightroom/deeper/d.jpg", 4);
    makeFile(dir, "p/Lightroomy/e.jpg", 5);
    makeFile(dir, "p/cache/f.jpg", 6);
    makeFile(dir, "q/cache/g.jpg", 7);
    const Paths all {"p/a.jpg", "p/b.bmp", "p/Lightroom/c.jpg", "p/Lightroom/deeper/d.jpg", "p/Lightroomy/e.jpg",
                     "p/cache/f.jpg", "q/cache/g.jpg"};
    EXPECT_EQ(scanPaths(dir, {"p", "q"}, 3), all);
    // "*" crosses "/"; a folder is matched with and without its trailing "/",
    // so "*/Lightroom" keeps out the files below it, which it does not match.
    for (const char* pattern : {"*/Lightroom/*", "*/Lightroom"})
        EXPECT_EQ(scanPaths(dir, {"p", "q"}, 3, {pattern}),
                  (Paths {"p/a.jpg", "p/b.bmp", "p/Lightroomy/e.jpg", "p/cache/f.jpg", "q/cache/g.jpg"}))
            << pattern;
    EXPECT_EQ(scanPaths(dir, {"p", "q"}, 3, {"*.bmp", dir.str() + "/p/cache/*", "*/deeper/*"}),
              (Paths {"p/a.jpg", "p/Lightroom/c.jpg", "p/Lightroomy/e.jpg", "q/cache/g.jpg"}));
    // A search folder that matches is not entered either; the other is.
    EXPECT_EQ(scanPaths(dir, {"p/Lightroom", "q"}, 3, {"*/Lightroom"}), (Paths {"q/cache/g.jpg"}));
    // Patterns are case-sensitive, as file names are.
    EXPECT_EQ(scanPaths(dir, {"p"}, 0, {"*.JPG"}), (Paths {"p/a.jpg", "p/b.bmp"}));
    // One folder with patterns: the same as with no patterns where none match.
    EXPECT_EQ(scanPaths(dir, {"p"}, 3, {"*/nothing/*"}), Paths(all.begin(), all.end() - 1));
}

TEST(SeveralFoldersTest, UnopenedPictureNamedFirstInListOrderAcrossFolders)
{
    TempDir dir;
    ::chmod(dir.str().c_str(), 0755);
    makeFile(dir, "b/second.jpg", 5);
    makeFile(dir, "a/third.jpg", 5);
    makeFile(dir, "b/A-first.jpg", 5);
    for (const char* name : {"b/second.jpg", "a/third.jpg", "b/A-first.jpg"})
        ::chmod(dir.file(name).c_str(), 0);
    // The error of a picture-size scan names the first path in list order,
    // whichever folder was scanned first.
    const auto firstUnopened = [&](const Paths& folders, const Paths& excludes) -> std::string {
        ScanSettings settings;
        settings.mode = CheckMode::PictureSize;
        settings.excludes = excludes;
        try {
            buildScanList(folders, settings);
        } catch (const SearchError& error) {
            return error.what();
        }
        return "no error";
    };
    const int result = testing_support::runUnprivileged([&] {
        if (firstUnopened({dir.file("b"), dir.file("a")}, {}) != "ファイル " + dir.file("a/third.jpg") + " は開けません")
            return 1;
        if (firstUnopened({dir.file("a"), dir.file("b")}, {"*/a/third.jpg"})
            != "ファイル " + dir.file("b/A-first.jpg") + " は開けません")
            return 2;
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST(SeveralFoldersTest, FoldersOfTheOptionsOnceInTheOrderNamed)
{
    SearchOptions options;
    options.folder = "/b";
    EXPECT_EQ(searchFoldersOf(options), (Paths {"/b"}));
    options.moreFolders = {"/a", "/b", "/a/c", "/a"};
    EXPECT_EQ(searchFoldersOf(options), (Paths {"/b", "/a", "/a/c"}));
}
