#include "common/folder_path.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/test_pictures.h"

// The search folder reaches the scan and the JSON report through this one
// function, from the folder tree and from the command line alike.
TEST(FolderPathTest, AbsoluteFolderIsLexicallyNormal)
{
    EXPECT_EQ(absoluteFolder("/", "/x"), "/");
    EXPECT_EQ(absoluteFolder("//", "/x"), "/");
    EXPECT_EQ(absoluteFolder("////", "/x"), "/");
    EXPECT_EQ(absoluteFolder("", "/x/y"), "/x/y");
    EXPECT_EQ(absoluteFolder(".", "/x/y/"), "/x/y");
    EXPECT_EQ(absoluteFolder("..", "/x"), "/");
    EXPECT_EQ(absoluteFolder("../../..", "/x"), "/");
    EXPECT_EQ(absoluteFolder("/..", "/x"), "/");
    EXPECT_EQ(absoluteFolder("/../a/./b//", "/x"), "/a/b");
    EXPECT_EQ(absoluteFolder("a/b/..", "/x"), "/x/a");
    EXPECT_EQ(absoluteFolder("a/b/../", "/x"), "/x/a");
    EXPECT_EQ(absoluteFolder("a/", "//base//"), "/base/a");
    EXPECT_EQ(absoluteFolder("a", "//"), "/a");
    EXPECT_EQ(absoluteFolder("///a//b", "/x"), "/a/b");
    // Names made only of dots are names.
    EXPECT_EQ(absoluteFolder("...", "/x"), "/x/...");
    EXPECT_EQ(absoluteFolder(".a/..b", "/"), "/.a/..b");
    // A relative base still gives an absolute folder.
    EXPECT_EQ(absoluteFolder("a", "rel"), "/rel/a");
}

TEST(FolderPathTest, AbsoluteFolderKeepsBytesThatAreNotUtf8)
{
    EXPECT_EQ(absoluteFolder("\xff\xfe/./\x82\xa0", "/b"), "/b/\xff\xfe/\x82\xa0");
    EXPECT_EQ(absoluteFolder("\xe3\x81\x82/../\xc0", "/\x80"), "/\x80/\xc0");
}

TEST(FolderPathTest, ParentFolderAndChildPath)
{
    EXPECT_EQ(parentFolder("/p/q/a.jpg"), "/p/q");
    EXPECT_EQ(parentFolder("/a.jpg"), "/");
    EXPECT_EQ(parentFolder("a.jpg"), ".");
    EXPECT_EQ(childPath("/", "a.jpg"), "/a.jpg");
    EXPECT_EQ(childPath("/p", "a.jpg"), "/p/a.jpg");
    EXPECT_EQ(childPath(parentFolder("/a.jpg"), "b.jpg"), "/b.jpg");
}

TEST(FolderPathTest, CurrentFolderFollowsTheProcess)
{
    testing_support::TempDir dir;
    const std::optional<std::string> before = currentFolder();
    ASSERT_TRUE(before);
    ASSERT_EQ(::chdir(dir.str().c_str()), 0);
    const std::optional<std::string> inside = currentFolder();
    ASSERT_EQ(::chdir(before->c_str()), 0);
    ASSERT_TRUE(inside);
    char* real = ::realpath(dir.str().c_str(), nullptr);
    EXPECT_EQ(*inside, std::string(real));
    std::free(real);
}

TEST(FolderPathTest, CurrentFolderLongerThanAPageOrGone)
{
    testing_support::TempDir dir;
    const std::optional<std::string> before = currentFolder();
    ASSERT_TRUE(before);
    ASSERT_EQ(::chdir(dir.str().c_str()), 0);
    // Beyond the first buffer of 4096 bytes: the buffer grows.
    const std::string name(200, 'd');
    for (int level = 0; level < 25; ++level)
        ASSERT_TRUE(::mkdir(name.c_str(), 0700) == 0 && ::chdir(name.c_str()) == 0);
    const std::optional<std::string> deep = currentFolder();
    // A removed current folder has no path.
    ASSERT_EQ(::mkdir("gone", 0700), 0);
    ASSERT_EQ(::chdir("gone"), 0);
    ASSERT_EQ(::rmdir("../gone"), 0);
    errno = 0;
    const std::optional<std::string> gone = currentFolder();
    const int goneError = errno;
    ASSERT_EQ(::chdir(before->c_str()), 0);
    ASSERT_TRUE(deep);
    EXPECT_GT(deep->size(), std::size_t {5000});
    EXPECT_EQ(deep->substr(deep->size() - name.size() - 1), "/" + name);
    EXPECT_FALSE(gone);
    EXPECT_EQ(goneError, ENOENT);
}
