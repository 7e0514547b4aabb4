#include "review/file_actions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QString>

#include "common/path_text.h"
#include "picture/picture_loader.h"

namespace {

std::string shownName(const std::string& path)
{
    // Messages are UTF-8; a name that is not shows its bad bytes as U+FFFD.
    return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())).toStdString();
}

std::string systemError(int error)
{
    return std::strerror(error);
}

std::string parentFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool roundTripsThroughQt(const std::string& path)
{
    return pathBytes(pathText(path)) == path;
}

// The trash format stores the original location as a URL-style path: every
// byte outside the unreserved set is written %XX, which carries any byte.
std::string percentEncoded(const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string homeTrashFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return {};
    return std::string(home) + "/.local/share/Trash";
}

bool makeFolders(const std::string& path)
{
    // mkdir -p with the trash's private mode.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Home trash for names Qt cannot carry: claim an info file with O_EXCL, then
// rename the file in. The file must be on the trash's file system, as with
// any trash: a rename is what makes the move safe.
FileActionResult trashRawName(const std::string& path)
{
    const std::string failed = "ファイル " + shownName(path) + " をごみ箱に移動できません";
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr)
            return {failed};
        absolute = std::string(cwd) + "/" + path;
    }
    const std::string trash = homeTrashFolder();
    if (trash.empty() || !makeFolders(trash + "/files") || !makeFolders(trash + "/info"))
        return {failed + " (ごみ箱を作れません)"};
    struct stat fileStat {};
    struct stat trashStat {};
    if (::lstat(absolute.c_str(), &fileStat) != 0 || ::stat((trash + "/files").c_str(), &trashStat) != 0)
        return {failed + " (" + systemError(errno) + ")"};
    if (fileStat.st_dev != trashStat.st_dev)
        return {failed + " (ごみ箱と別のファイルシステムにあります)"};

    char date[32];
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string info = "[Trash Info]\nPath=" + percentEncoded(absolute) + "\nDeletionDate=" + date + "\n";

    const std::string base(fileNameOf(absolute));
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
        const std::string infoPath = trash + "/info/" + name + ".trashinfo";
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return {failed + " (" + systemError(errno) + ")"};
        }
        const bool written = writeAll(fd, info.data(), info.size());
        ::close(fd);
        const std::string target = trash + "/files/" + name;
        struct stat existing {};
        if (written && ::lstat(target.c_str(), &existing) != 0 && ::rename(absolute.c_str(), target.c_str()) == 0)
            return {};
        const int error = errno;
        ::unlink(infoPath.c_str());
        if (written && ::lstat(target.c_str(), &existing) == 0)
            continue; // a stray file without info record holds the name
        return {failed + " (" + systemError(error) + ")"};
    }
    return {failed};
}

FileActionResult copyAcrossFileSystems(const std::string& from, const std::string& to)
{
    const std::string failed = "ファイル " + shownName(from) + " を " + shownName(to) + " に移動できません";
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return {failed + " (" + systemError(errno) + ")"};
    struct stat source {};
    if (::fstat(in, &source) != 0) {
        const int error = errno;
        ::close(in);
        return {failed + " (" + systemError(error) + ")"};
    }
    std::string temp = parentFolder(to) + "/.zelvic-move-XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return {failed + " (" + systemError(error) + ")"};
    }
    int error = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0)
            break;
        if (!writeAll(out, buffer, static_cast<std::size_t>(n))) {
            error = errno;
            break;
        }
    }
    if (error == 0) {
        ::fchmod(out, source.st_mode & 07777);
        const struct timespec times[2] = {source.st_atim, source.st_mtim};
        ::futimens(out, times);
        if (::fsync(out) != 0)
            error = errno;
    }
    ::close(in);
    if (::close(out) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), to.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return {failed + " (" + systemError(error) + ")"};
    }
    const int folder = ::open(parentFolder(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    if (::unlink(from.c_str()) != 0)
        return {"ファイル " + shownName(to) + " にコピーしましたが、元のファイルを削除できません (" +
                systemError(errno) + ")"};
    return {};
}

} // namespace

FileActionResult moveFileToTrash(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {"ファイル " + shownName(path) + " が見つかりません"};
    if (!roundTripsThroughQt(path))
        return trashRawName(path);
    if (!QFile::moveToTrash(pathText(path)))
        return {"ファイル " + shownName(path) + " をごみ箱に移動できません"};
    return {};
}

FileActionResult moveFileReplacing(const std::string& from, const std::string& to)
{
    // A file already at the target that is not the one being moved goes to
    // the trash first: replacing it outright would destroy a picture the user
    // never saw in the review.
    struct stat source {};
    struct stat target {};
    if (::lstat(to.c_str(), &target) == 0 && !S_ISDIR(target.st_mode)
        && !(::lstat(from.c_str(), &source) == 0 && source.st_dev == target.st_dev && source.st_ino == target.st_ino)) {
        const FileActionResult trashed = moveFileToTrash(to);
        if (!trashed.ok())
            return {"ファイル " + shownName(from) + " を " + shownName(to) + " に移動できません (" + trashed.error + ")"};
    }
    if (::rename(from.c_str(), to.c_str()) == 0)
        return {};
    if (errno == EXDEV)
        return copyAcrossFileSystems(from, to);
    return {"ファイル " + shownName(from) + " を " + shownName(to) + " に移動できません (" + systemError(errno) + ")"};
}
