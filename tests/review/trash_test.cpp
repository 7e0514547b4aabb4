#include "review/trash.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_mounts.h"
#include "support/test_pictures.h"

namespace {

using testing_support::ReadOnlyFolder;
using testing_support::ScopedCurrentFolder;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::TmpfsMount;

using testing_support::pathExists;
using testing_support::readFileText;

int modeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return static_cast<int>(st.st_mode & 07777);
}

std::size_t entriesIn(const std::string& folder)
{
    std::error_code ec;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

// A restore record as file managers read it: exactly three lines.
void expectRecord(const std::string& infoPath, const std::string& encodedPath)
{
    const std::string record = readFileText(infoPath);
    const std::regex shape("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(record, match, shape)) << infoPath << ":\n" << record;
    EXPECT_EQ(match[1].str(), encodedPath);
}

// A failed trash: reported at once, with the file's name, the file as it was.
void expectRefused(const std::function<FileActionResult()>& trash, const std::string& file, const std::string& bytes)
{
    const auto start = std::chrono::steady_clock::now();
    const FileActionResult result = trash();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error.find(file.substr(file.rfind('/') + 1)), std::string::npos) << result.error;
    EXPECT_EQ(readFileText(file), bytes);
}

} // namespace

TEST(TrashTest, MissingDataFolderIsCreatedPrivatelyAndNothingLandsInTheCurrentFolder)
{
    TempDir dir;
    std::filesystem::create_directories(dir.str() + "/home");
    std::filesystem::create_directories(dir.str() + "/started-here");
    ScopedEnv home("HOME", (dir.str() + "/home").c_str());
    ScopedEnv dataHome("XDG_DATA_HOME", nullptr);
    ScopedCurrentFolder cwd(dir.str() + "/started-here");
    const std::string file = dir.file("home/pics/dup a%.jpg");
    testing_support::writeBytes(file, "first");

    const FileActionResult first = moveFileToTrash(file);
    ASSERT_TRUE(first.ok()) << first.error;
    const std::string trash = dir.str() + "/home/.local/share/Trash";
    EXPECT_FALSE(pathExists(file));
    EXPECT_EQ(readFileText(trash + "/files/dup a%.jpg"), "first");
    expectRecord(trash + "/info/dup a%.jpg.trashinfo", dir.str() + "/home/pics/dup%20a%25.jpg");
    EXPECT_EQ(first.trashed.filePath, trash + "/files/dup a%.jpg");
    for (const char* made : {"/home/.local", "/home/.local/share", "/home/.local/share/Trash",
                             "/home/.local/share/Trash/files", "/home/.local/share/Trash/info"})
        EXPECT_EQ(modeOf(dir.str() + made), 0700) << made;
    EXPECT_EQ(entriesIn(dir.str() + "/started-here"), 0u);

    // The same name again: a fresh trash name, both records complete.
    testing_support::writeBytes(file, "second");
    ASSERT_TRUE(moveFileToTrash(file).ok());
    EXPECT_EQ(readFileText(trash + "/files/dup a%.jpg.2"), "second");
    expectRecord(trash + "/info/dup a%.jpg.2.trashinfo", dir.str() + "/home/pics/dup%20a%25.jpg");
    EXPECT_EQ(readFileText(trash + "/files/dup a%.jpg"), "first");
}

TEST(TrashTest, NameClashesEndInAnErrorNotALoop)
{
    TempDir dir;
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string info = dir.str() + "/data/Trash/info/";
    std::filesystem::create_directories(info);
    std::filesystem::create_directories(dir.str() + "/data/Trash/files");
    // Records left by others hold every name a delete would try.
    testing_support::writeBytes(info + "a.jpg.trashinfo", "");
    for (int n = 2; n <= 300; ++n)
        testing_support::writeBytes(info + "a.jpg." + std::to_string(n) + ".trashinfo", "");
    const std::string file = dir.file("pics/a.jpg");
    testing_support::writeBytes(file, "keep");
    expectRefused([&] { return moveFileToTrash(file); }, file, "keep");
    EXPECT_EQ(entriesIn(dir.str() + "/data/Trash/files"), 0u);

    // A stray file without a record holds a name too: it is passed over.
    const std::string other = dir.file("pics/b.jpg");
    testing_support::writeBytes(other, "b");
    testing_support::writeBytes(dir.str() + "/data/Trash/files/b.jpg", "stray");
    const FileActionResult result = moveFileToTrash(other);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(readFileText(dir.str() + "/data/Trash/files/b.jpg"), "stray");
    EXPECT_EQ(readFileText(dir.str() + "/data/Trash/files/b.jpg.2"), "b");
    EXPECT_FALSE(pathExists(info + "b.jpg.trashinfo"));
    expectRecord(info + "b.jpg.2.trashinfo", other);
}

TEST(TrashTest, LongNamesAreShortenedInTheTrashOnly)
{
    TempDir dir;
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    // 247 bytes before ".jpg": a plain cut at byte 237 would split a 写.
    std::string stem = "a";
    for (int i = 0; i < 82; ++i)
        stem += "\xe5\x86\x99";
    const std::string file = dir.file("pics/" + stem + ".jpg");
    testing_support::writeBytes(file, "long");
    const FileActionResult result = moveFileToTrash(file);
    ASSERT_TRUE(result.ok()) << result.error;
    const std::string kept = stem.substr(0, 235) + ".jpg"; // "a" and 78 whole characters
    EXPECT_EQ(readFileText(dir.str() + "/data/Trash/files/" + kept), "long");
    std::string encoded = dir.str() + "/pics/a";
    for (int i = 0; i < 82; ++i)
        encoded += "%E5%86%99";
    expectRecord(dir.str() + "/data/Trash/info/" + kept + ".trashinfo", encoded + ".jpg");
}

TEST(TrashTest, UnwritableInfoFolderFailsFastAndKeepsTheFile)
{
    TempDir dir;
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string trash = dir.str() + "/data/Trash";
    std::filesystem::create_directories(trash + "/files");
    const std::string file = dir.file("pics/a.jpg");
    testing_support::writeBytes(file, "keep");

    // A plain file where the info folder belongs.
    testing_support::writeBytes(trash + "/info", "not a folder");
    expectRefused([&] { return moveFileToTrash(file); }, file, "keep");
    EXPECT_EQ(entriesIn(trash + "/files"), 0u);

    // A read-only info folder.
    std::filesystem::remove(trash + "/info");
    std::filesystem::create_directories(trash + "/info");
    ReadOnlyFolder readOnly(trash + "/info");
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a folder read-only here";
    expectRefused([&] { return moveFileToTrash(file); }, file, "keep");
    EXPECT_EQ(entriesIn(trash + "/files"), 0u);
    EXPECT_EQ(entriesIn(trash + "/info"), 0u);
}

TEST(TrashTest, FullDiskFailsWithoutAnEmptyRecord)
{
    TempDir dir;
    TmpfsMount volume(dir.str() + "/vol", "256k");
    if (!volume.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/vol/data").c_str());
    const std::string trash = dir.str() + "/vol/data/Trash";
    std::filesystem::create_directories(trash + "/files");
    std::filesystem::create_directories(trash + "/info");
    const std::string file = dir.str() + "/vol/a.jpg";
    testing_support::writeBytes(file, "keep");
    {
        const int fill = ::open((dir.str() + "/vol/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fill, 0);
        const std::string block(4096, 'x');
        while (::write(fill, block.data(), block.size()) > 0) {
        }
        ::close(fill);
    }
    expectRefused([&] { return moveFileToTrash(file); }, file, "keep");
    EXPECT_EQ(entriesIn(trash + "/files"), 0u);
    EXPECT_EQ(entriesIn(trash + "/info"), 0u);
    EXPECT_NE(moveFileToTrash(file).error.find("ディスクに空き領域がありません"), std::string::npos);
}

TEST(TrashTest, FileOnAnotherFileSystemGoesToThatVolumesTrash)
{
    TempDir dir;
    TmpfsMount volume(dir.str() + "/vol", "1m");
    if (!volume.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string uid = std::to_string(::getuid());
    const std::string vol = dir.str() + "/vol";
    // Shift-JIS for 写真: the record carries any byte.
    const std::string name = "\x8e\xca\x90\x5e.jpg";
    const std::string file = vol + "/sub/" + name;
    std::filesystem::create_directories(vol + "/sub");

    testing_support::writeBytes(file, "one");
    const FileActionResult own = moveFileToTrash(file);
    ASSERT_TRUE(own.ok()) << own.error;
    EXPECT_EQ(readFileText(vol + "/.Trash-" + uid + "/files/" + name), "one");
    // Relative to the volume, so it holds wherever the volume is mounted.
    expectRecord(vol + "/.Trash-" + uid + "/info/" + name + ".trashinfo", "sub/%8E%CA%90%5E.jpg");
    EXPECT_EQ(modeOf(vol + "/.Trash-" + uid), 0700);
    EXPECT_FALSE(pathExists(dir.str() + "/data/Trash"));

    // A shared .Trash without the sticky bit is not safe to use.
    std::filesystem::create_directories(vol + "/.Trash");
    ::chmod((vol + "/.Trash").c_str(), 0777);
    testing_support::writeBytes(file, "two");
    ASSERT_TRUE(moveFileToTrash(file).ok());
    EXPECT_EQ(readFileText(vol + "/.Trash-" + uid + "/files/" + name + ".2"), "two");

    // With the sticky bit it is the volume's trash.
    ::chmod((vol + "/.Trash").c_str(), 01777);
    testing_support::writeBytes(file, "three");
    ASSERT_TRUE(moveFileToTrash(file).ok());
    EXPECT_EQ(readFileText(vol + "/.Trash/" + uid + "/files/" + name), "three");
    expectRecord(vol + "/.Trash/" + uid + "/info/" + name + ".trashinfo", "sub/%8E%CA%90%5E.jpg");
}

TEST(TrashTest, VolumeWithoutATrashOfItsOwnUsesTheHomeTrashByCopy)
{
    TempDir dir;
    TmpfsMount volume(dir.str() + "/vol", "1m");
    if (!volume.ok())
        GTEST_SKIP() << "no rights to mount a tmpfs";
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string vol = dir.str() + "/vol";
    // Something that is no folder holds the volume trash's name.
    testing_support::writeBytes(vol + "/.Trash-" + std::to_string(::getuid()), "");
    const std::string file = vol + "/a.jpg";
    testing_support::writeBytes(file, "copied");
    const FileActionResult result = moveFileToTrash(file);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_FALSE(pathExists(file));
    EXPECT_EQ(readFileText(dir.str() + "/data/Trash/files/a.jpg"), "copied");
    expectRecord(dir.str() + "/data/Trash/info/a.jpg.trashinfo", file);
    EXPECT_TRUE(result.trashed.copied);

    // Put back from there, the file is whole and the record gone.
    ASSERT_TRUE(restoreFromTrash(result.trashed, file).ok());
    EXPECT_EQ(readFileText(file), "copied");
    EXPECT_EQ(entriesIn(dir.str() + "/data/Trash/files"), 0u);
    EXPECT_EQ(entriesIn(dir.str() + "/data/Trash/info"), 0u);
}

TEST(TrashTest, SameDeviceUnderASecondMountIsTrashedByCopy)
{
    TempDir dir;
    std::filesystem::create_directories(dir.str() + "/pics");
    testing_support::BindMount bound(dir.str() + "/pics", dir.str() + "/bound");
    if (!bound.ok())
        GTEST_SKIP() << "no rights to bind-mount a folder";
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string file = dir.str() + "/bound/a.jpg";
    testing_support::writeBytes(file, "bound");
    const FileActionResult result = moveFileToTrash(file);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_TRUE(result.trashed.copied);
    EXPECT_FALSE(pathExists(dir.str() + "/pics/a.jpg"));
    EXPECT_EQ(readFileText(dir.str() + "/data/Trash/files/a.jpg"), "bound");
    expectRecord(dir.str() + "/data/Trash/info/a.jpg.trashinfo", file);
}

TEST(TrashTest, RestorePutsTheFileBackButNeverOverAnother)
{
    TempDir dir;
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string file = dir.file("pics/a.jpg");
    testing_support::writeBytes(file, "old");
    const FileActionResult trashed = moveFileToTrash(file);
    ASSERT_TRUE(trashed.ok()) << trashed.error;

    testing_support::writeBytes(file, "newcomer");
    const FileActionResult blocked = restoreFromTrash(trashed.trashed, file);
    EXPECT_FALSE(blocked.ok());
    EXPECT_NE(blocked.error.find("ごみ箱に入ったままです"), std::string::npos) << blocked.error;
    EXPECT_EQ(readFileText(file), "newcomer");
    EXPECT_EQ(readFileText(trashed.trashed.filePath), "old");

    std::filesystem::remove(file);
    ASSERT_TRUE(restoreFromTrash(trashed.trashed, file).ok());
    EXPECT_EQ(readFileText(file), "old");
    EXPECT_FALSE(pathExists(trashed.trashed.infoPath));
}

// A record that may not have reached the disk is worth nothing: a failing
// sync of it fails the delete, keeps the file and leaves no record.
TEST(TrashTest, RecordThatCannotBeSyncedFailsTheDelete)
{
    TempDir dir;
    ScopedEnv dataHome("XDG_DATA_HOME", (dir.str() + "/data").c_str());
    const std::string trash = dir.str() + "/data/Trash";
    const std::string file = dir.file("pics/a.jpg");
    testing_support::writeBytes(file, "keep");
    static int syncs = 0;
    syncs = 0;
    setTrashRecordSync([](int) {
        ++syncs;
        errno = EIO;
        return -1;
    });
    const FileActionResult result = moveFileToTrash(file);
    setTrashRecordSync(nullptr);
    EXPECT_EQ(syncs, 1);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.systemError, EIO);
    EXPECT_EQ(readFileText(file), "keep");
    EXPECT_EQ(entriesIn(trash + "/files"), 0u);
    EXPECT_EQ(entriesIn(trash + "/info"), 0u);
    // With fsync back, the same delete goes through.
    EXPECT_TRUE(moveFileToTrash(file).ok());
    EXPECT_EQ(entriesIn(trash + "/info"), 1u);
}
