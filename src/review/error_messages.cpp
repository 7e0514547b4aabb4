#include "review/error_messages.h"

#include <cerrno>
#include <filesystem>
#include <new>

#include "common/path_text.h"

namespace {

// "%s" stands for the path; texts without it name no file.
struct ErrnoText {
    int error;
    const char* text;
};

constexpr ErrnoText kErrnoTexts[] = {
    {ENOENT, "ファイル %s が見つかりません"},
    {ENOTDIR, "ファイル %s が見つかりません"},
    {EACCES, "%s へのアクセスが拒否されました"},
    {EPERM, "%s へのアクセスが拒否されました"},
    {EROFS, "%s は読み取り専用のファイルシステムにあります"},
    {ENOSPC, "ディスクに空き領域がありません"},
    {EDQUOT, "ディスクの使用量の上限を超えました"},
    {EEXIST, "ファイル %s は既に存在します"},
    {EISDIR, "%s はフォルダです"},
    {EBUSY, "ファイル %s は使用中です"},
    {ETXTBSY, "ファイル %s は使用中です"},
    {ENAMETOOLONG, "ファイル名 %s が長すぎます"},
    {ELOOP, "%s のシンボリックリンクが多すぎます"},
    {EMFILE, "開いているファイルが多すぎます"},
    {ENFILE, "開いているファイルが多すぎます"},
    {ENOMEM, "メモリが足りません"},
    {EIO, "ファイル %s の読み書きでエラーが起きました"},
    {EXDEV, "%s は別のドライブにあります"},
};

struct LoadText {
    LoadFailure failure;
    const char* text;
};

constexpr LoadText kLoadTexts[] = {
    {LoadFailure::Missing, "ファイル %s が見つかりません"},
    {LoadFailure::AccessDenied, "%s へのアクセスが拒否されました"},
    {LoadFailure::NotRegular, "ファイル %s は開けません"},
    {LoadFailure::Empty, "ファイル %s は空です"},
    {LoadFailure::Damaged, "ファイル %s は壊れているか、画像ではありません"},
    {LoadFailure::TooLarge, "ファイル %s の画像は大きすぎて表示できません"},
};

std::string filled(const char* text, const std::string& path)
{
    std::string out(text);
    const auto at = out.find("%s");
    if (at != std::string::npos)
        out.replace(at, 2, messagePath(path));
    return out;
}

} // namespace

std::string messagePath(const std::string& path)
{
    return pathText(path).toStdString();
}

std::string systemErrorText(int error, const std::string& path)
{
    for (const ErrnoText& entry : kErrnoTexts) {
        if (entry.error == error)
            return filled(entry.text, path);
    }
    return filled("ファイル %s は開けません", path) + " (I/O エラー " + std::to_string(error) + ")";
}

std::string runtimeFileErrorText(int error)
{
    switch (error) {
    case ENOENT:
        return "ファイルが見つかりません";
    case EACCES:
    case EPERM:
    case EROFS:
        return "ファイルへのアクセスが拒否されました";
    case ENOSPC:
    case EDQUOT:
        return "ディスクに空き領域がありません";
    default:
        return "I/O エラー (" + std::to_string(error) + ")";
    }
}

std::string notAnIntegerText(const std::string& text)
{
    return "'" + messagePath(text) + "' は整数ではありません";
}

std::string pictureLoadText(const LoadedPicture& loaded, const std::string& path)
{
    LoadFailure failure = loaded.failure;
    if (failure == LoadFailure::None && !loaded.error.empty())
        failure = LoadFailure::Damaged;
    if (failure == LoadFailure::SystemError)
        return systemErrorText(loaded.systemError, path);
    for (const LoadText& entry : kLoadTexts) {
        if (entry.failure == failure)
            return filled(entry.text, path);
    }
    return {};
}

std::string trashFailedText(const std::string& path)
{
    return filled("ファイル %s をごみ箱に移動できません", path);
}

std::string moveFailedText(const std::string& from, const std::string& to)
{
    return filled("ファイル %s を ", from) + filled("%s に移動できません", to);
}

std::string copiedButKeptText(const std::string& to)
{
    return filled("ファイル %s にコピーしましたが、元のファイルを削除できません", to);
}

std::string noTrashText(const std::string& path)
{
    return filled("%s を入れるごみ箱を作れません", path);
}

std::string noTrashNameText(const std::string& path)
{
    return filled("ごみ箱に %s と同じ名前のファイルが多すぎます", path);
}

std::string restoredText(const std::string& path)
{
    return filled("ファイル %s をごみ箱から元の場所に戻しました", path);
}

std::string leftInTrashText(const std::string& path)
{
    return filled("ファイル %s はごみ箱に入ったままです", path);
}

std::string exceptionText(const std::exception& e)
{
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr)
        return "メモリが足りません";
    if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&e);
        fs != nullptr && fs->code().category() == std::generic_category())
        return systemErrorText(fs->code().value(), fs->path1().string());
    return e.what();
}
