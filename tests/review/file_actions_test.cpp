#include "review/file_actions.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "review/error_messages.h"
#include "support/test_mounts.h"
#include "support/test_pictures.h"

namespace {

using testing_support::TempDir;

using testing_support::pathExists;
using testing_support::readFileText;

// Points the trash at a folder of the test's own for its lifetime.
class TrashHome {
public:
    explicit TrashHome(const TempDir& dir)
        : m_trash(dir.str() + "/data/Trash"), m_dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str())
    {
        std::filesystem::create_directories(dir.str() + "/data");
    }
    const std::string& trash() const { return m_trash; }

private:
    std::string m_trash;
    testing_support::ScopedEnv m_dataHome;
};

} // namespace

TEST(FileActionsTest, TrashKeepsTheFileRestorable)
{
    TempDir dir;
    TrashHome home(dir);
    const std::string file = dir.file("pics/dup a.jpg");
    testing_support::writeBytes(file, "picture bytes");
    const FileActionResult result = moveFileToTrash(file);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_FALSE(pathExists(file));
    EXPECT_EQ(readFileText(home.trash() + "/files/dup a.jpg"), "picture bytes");
    const std::string info = readFileText(home.trash() + "/info/dup a.jpg.trashinfo");
    EXPECT_NE(info.find("[Trash Info]"), std::string::npos);
    EXPECT_NE(info.find("Path="), std::string::npos);
    EXPECT_NE(info.find("DeletionDate="), std::string::npos);
}

TEST(FileActionsTest, TrashTakesNamesThatAreNotUtf8)
{
    TempDir dir;
    TrashHome home(dir);
    // Shift-JIS for 写真, as old cameras and Windows archives leave them.
    const std::string name = "\x8e\xca\x90\x5e.jpg";
    const std::string file = dir.file("pics") + "/" + name;
    std::filesystem::create_directories(dir.str() + "/pics");
    testing_support::writeBytes(file, "sjis");
    const FileActionResult first = moveFileToTrash(file);
    ASSERT_TRUE(first.ok()) << first.error;
    EXPECT_FALSE(pathExists(file));
    EXPECT_EQ(readFileText(home.trash() + "/files/" + name), "sjis");
    const std::string info = readFileText(home.trash() + "/info/" + name + ".trashinfo");
    EXPECT_NE(info.find("/pics/%8E%CA%90%5E.jpg"), std::string::npos) << info;

    // A second file of the same name gets a fresh trash name.
    testing_support::writeBytes(file, "again");
    ASSERT_TRUE(moveFileToTrash(file).ok());
    EXPECT_EQ(readFileText(home.trash() + "/files/" + name + ".2"), "again");
    EXPECT_EQ(readFileText(home.trash() + "/files/" + name), "sjis");
}

TEST(FileActionsTest, TrashOfAMissingFileFails)
{
    TempDir dir;
    TrashHome home(dir);
    const FileActionResult result = moveFileToTrash(dir.str() + "/gone.jpg");
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find("gone.jpg"), std::string::npos);
}

TEST(FileActionsTest, MoveReplacesAnExistingTargetWhichGoesToTheTrash)
{
    TempDir dir;
    TrashHome home(dir);
    const std::string from = dir.file("x/a.jpg");
    const std::string to = dir.file("y/a.jpg");
    testing_support::writeBytes(from, "new");
    testing_support::writeBytes(to, "old");
    const FileActionResult result = moveFileReplacing(from, to);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_FALSE(pathExists(from));
    EXPECT_EQ(readFileText(to), "new");
    EXPECT_EQ(readFileText(home.trash() + "/files/a.jpg"), "old");
}

TEST(FileActionsTest, MoveOntoItselfKeepsTheFile)
{
    TempDir dir;
    const std::string from = dir.file("x/a.jpg");
    testing_support::writeBytes(from, "same");
    ASSERT_TRUE(moveFileReplacing(from, from).ok());
    EXPECT_EQ(readFileText(from), "same");
}

TEST(FileActionsTest, FailedMoveLeavesTheSource)
{
    TempDir dir;
    const std::string from = dir.file("x/a.jpg");
    testing_support::writeBytes(from, "keep");
    const FileActionResult result = moveFileReplacing(from, dir.str() + "/missing-folder/a.jpg");
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(readFileText(from), "keep");
}

TEST(FileActionsTest, MoveAcrossFileSystemsCopiesThenRemoves)
{
    TempDir dir;
    const std::string other = "/dev/shm";
    struct stat a {};
    struct stat b {};
    if (::stat(dir.str().c_str(), &a) != 0 || ::stat(other.c_str(), &b) != 0 || a.st_dev == b.st_dev ||
        ::access(other.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const std::string from = dir.file("x/a.jpg");
    testing_support::writeBytes(from, std::string(200000, 'z'));
    testing_support::setModificationTime(from, 1600000000);
    const std::string to = other + "/zelvic-move-test-" + std::to_string(::getpid()) + ".jpg";
    const FileActionResult result = moveFileReplacing(from, to);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_FALSE(pathExists(from));
    EXPECT_EQ(readFileText(to), std::string(200000, 'z'));
    struct stat moved {};
    ASSERT_EQ(::stat(to.c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mtim.tv_sec, 1600000000);
    ::unlink(to.c_str());
}

TEST(FileActionsTest, MoveThatCannotBeMadeChangesNothing)
{
    TempDir dir;
    TrashHome home(dir);
    const std::string from = dir.file("x/a.jpg");
    const std::string to = dir.file("y/a.jpg");
    testing_support::writeBytes(from, "new");
    testing_support::writeBytes(to, "old");
    for (const std::string& folder : {dir.str() + "/x", dir.str() + "/y"}) {
        testing_support::ReadOnlyFolder readOnly(folder);
        if (!readOnly.ok())
            GTEST_SKIP() << "cannot make a folder read-only here";
        const FileActionResult result = moveFileReplacing(from, to);
        EXPECT_FALSE(result.ok()) << folder;
        EXPECT_EQ(result.failure, FileActionFailure::MoveImpossible) << folder;
        EXPECT_NE(result.error.find(folder), std::string::npos) << result.error;
        EXPECT_EQ(readFileText(from), "new");
        EXPECT_EQ(readFileText(to), "old");
        EXPECT_FALSE(pathExists(home.trash() + "/files/a.jpg"));
    }
    // The same check stands alone for the review to ask before it trashes.
    EXPECT_TRUE(checkMove(from, to).ok());
    EXPECT_EQ(checkMove(dir.str() + "/x/gone.jpg", to).failure, FileActionFailure::Missing);
    EXPECT_EQ(checkMove(from, dir.str() + "/missing-folder/a.jpg").systemError, ENOENT);
}

TEST(FileActionsTest, MoveWithoutRoomForTheCopyChangesNothing)
{
    TempDir dir;
    TrashHome home(dir);
    testing_support::TmpfsMount volume(dir.str() + "/vol", "256k");
    if (!volume.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    const std::string from = dir.file("x/a.jpg");
    const std::string to = dir.str() + "/vol/a.jpg";
    testing_support::writeBytes(from, std::string(400000, 'z'));
    testing_support::writeBytes(to, "old");
    const FileActionResult result = moveFileReplacing(from, to);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.systemError, ENOSPC);
    EXPECT_NE(result.error.find("ディスクに空き領域がありません"), std::string::npos) << result.error;
    EXPECT_EQ(readFileText(from), std::string(400000, 'z'));
    EXPECT_EQ(readFileText(to), "old");
    EXPECT_FALSE(pathExists(dir.str() + "/vol/.Trash-" + std::to_string(::getuid())));
}

// The target goes to its volume's trash (a rename and one small record),
// and then the copy finds no free inode: the move fails after the target was
// trashed, and the target must come back to its own path, not the source's.
TEST(FileActionsTest, MoveThatFailsAfterTrashingTheTargetPutsTheTargetBack)
{
    TempDir dir;
    TrashHome home(dir);
    // Room for the copy as far as the space check goes, few inodes.
    const std::string volume = dir.str() + "/vol";
    testing_support::TmpfsMount mount(volume, "4m,nr_inodes=32");
    if (!mount.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    const std::string from = dir.file("x/a.jpg");
    const std::string to = volume + "/a.jpg";
    testing_support::writeBytes(from, "new");
    testing_support::writeBytes(to, "old");
    const std::string trash = volume + "/.Trash-" + std::to_string(::getuid());
    for (const std::string& folder : {trash, trash + "/files", trash + "/info"})
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    // Every inode taken but one, which the trash record takes.
    int fillers = 0;
    while (::mkdir((volume + "/f" + std::to_string(fillers)).c_str(), 0700) == 0)
        ++fillers;
    ASSERT_EQ(errno, ENOSPC);
    ASSERT_GT(fillers, 0);
    ::rmdir((volume + "/f0").c_str());

    const FileActionResult result = moveFileReplacing(from, to);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.systemError, ENOSPC) << result.error;
    EXPECT_EQ(readFileText(from), "new");
    EXPECT_EQ(readFileText(to), "old");
    EXPECT_TRUE(std::filesystem::is_empty(trash + "/files"));
    EXPECT_TRUE(std::filesystem::is_empty(trash + "/info"));
    // Trashed first and put back: the message says so.
    EXPECT_NE(result.error.find(restoredText(to)), std::string::npos) << result.error;
}
