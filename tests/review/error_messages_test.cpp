#include "review/error_messages.h"

#include <cerrno>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace {

LoadedPicture failedLoad(LoadFailure failure, const std::string& error, int systemError = 0)
{
    LoadedPicture loaded;
    loaded.error = error;
    loaded.failure = failure;
    loaded.systemError = systemError;
    return loaded;
}

} // namespace

TEST(ErrorMessagesTest, SystemErrorsNameTheFile)
{
    const std::string path = "/p/写真 1.jpg";
    EXPECT_EQ(systemErrorText(ENOENT, path), "ファイル /p/写真 1.jpg が見つかりません");
    EXPECT_EQ(systemErrorText(EACCES, path), "/p/写真 1.jpg へのアクセスが拒否されました");
    EXPECT_EQ(systemErrorText(EPERM, path), "/p/写真 1.jpg へのアクセスが拒否されました");
    EXPECT_EQ(systemErrorText(EROFS, path), "/p/写真 1.jpg は読み取り専用のファイルシステムにあります");
    EXPECT_EQ(systemErrorText(ENOSPC, path), "ディスクに空き領域がありません");
    EXPECT_EQ(systemErrorText(ENOTDIR, path), "ファイル /p/写真 1.jpg が見つかりません");
    EXPECT_EQ(systemErrorText(EIO, path), "ファイル /p/写真 1.jpg の読み書きでエラーが起きました");
    // Anything the table does not know still names the file, with its number.
    EXPECT_EQ(systemErrorText(EPROTO, path), "ファイル /p/写真 1.jpg は開けません (I/O エラー " +
                                                 std::to_string(EPROTO) + ")");
    // The settings file's texts name no file: its path follows on a line of its own.
    EXPECT_EQ(runtimeFileErrorText(ENOENT), "ファイルが見つかりません");
    EXPECT_EQ(runtimeFileErrorText(EROFS), "ファイルへのアクセスが拒否されました");
    EXPECT_EQ(runtimeFileErrorText(ENOSPC), "ディスクに空き領域がありません");
    EXPECT_EQ(runtimeFileErrorText(EIO), "I/O エラー (" + std::to_string(EIO) + ")");
    // A name that is not UTF-8 shows its bad bytes as U+FFFD, never raw.
    EXPECT_EQ(systemErrorText(ENOENT, "/p/\x8e\xca.jpg"), "ファイル /p/\xef\xbf\xbd\xef\xbf\xbd.jpg が見つかりません");
}

TEST(ErrorMessagesTest, PictureFailuresInTheUsersWords)
{
    const std::string path = "/p/a.jpg";
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::Missing, "No such file or directory", ENOENT), path),
              "ファイル /p/a.jpg が見つかりません");
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::AccessDenied, "Permission denied", EACCES), path),
              "/p/a.jpg へのアクセスが拒否されました");
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::NotRegular, "not a file"), path), "ファイル /p/a.jpg は開けません");
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::Empty, "empty file"), path), "ファイル /p/a.jpg は空です");
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::Damaged, "Not a JPEG file: starts with 0xe3 0xd7"), path),
              "ファイル /p/a.jpg は壊れているか、画像ではありません");
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::TooLarge, "picture too large"), path),
              "ファイル /p/a.jpg の画像は大きすぎて表示できません");
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::SystemError, "Input/output error", EIO), path),
              "ファイル /p/a.jpg の読み書きでエラーが起きました");
    // A loader that says only what went wrong, not of which kind: damaged.
    EXPECT_EQ(pictureLoadText(failedLoad(LoadFailure::None, "bad Huffman table"), path),
              "ファイル /p/a.jpg は壊れているか、画像ではありません");
    EXPECT_EQ(pictureLoadText(LoadedPicture {}, path), "");
}

TEST(ErrorMessagesTest, FileActionTextsAndExceptions)
{
    EXPECT_EQ(trashFailedText("/p/a.jpg"), "ファイル /p/a.jpg をごみ箱に移動できません");
    EXPECT_EQ(moveFailedText("/p/a.jpg", "/q/a.jpg"), "ファイル /p/a.jpg を /q/a.jpg に移動できません");
    EXPECT_EQ(restoredText("/q/a.jpg"), "ファイル /q/a.jpg をごみ箱から元の場所に戻しました");
    EXPECT_EQ(leftInTrashText("/q/a.jpg"), "ファイル /q/a.jpg はごみ箱に入ったままです");

    EXPECT_EQ(notAnIntegerText("1.5"), "'1.5' は整数ではありません");

    EXPECT_EQ(exceptionText(std::bad_alloc()), "メモリが足りません");
    EXPECT_EQ(exceptionText(std::filesystem::filesystem_error(
                  "open", "/p/x", std::make_error_code(std::errc::permission_denied))),
              "/p/x へのアクセスが拒否されました");
    EXPECT_EQ(exceptionText(std::runtime_error("ファイル /p/x は開けません")), "ファイル /p/x は開けません");
}
