#include "review/trash.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_name.h"
#include "common/folder_path.h"
#include "common/write_whole.h"
#include "review/error_messages.h"
#include "review/file_steps.h"

namespace {

// Trash names tried for one file before giving up. Clashes are rare (the
// same name deleted again); a trash that refuses every name must end in an
// error, not in a frozen window.
constexpr int kMaxTrashNames = 200;

// Longest trash name: the record's name adds ".trashinfo" and a clash adds
// ".200", and either must stay within the file system's 255 bytes.
constexpr std::size_t kMaxTrashNameBytes = 255 - 10 - 4;

enum class TrashSync { EachFile, Batch };

// Where a file goes: the trash folder (holding files/ and info/), the path
// its record stores, and whether the file must be copied there.
struct TrashPlace {
    std::string folder;
    std::string recordedPath;
    bool byCopy = false;
};

FileActionResult failed(const std::string& file, FileActionFailure kind, int error, const std::string& reason)
{
    return {trashFailedText(file) + "\n" + reason, kind, error, {}};
}

FileActionResult refused(const std::string& file, int error, const std::string& culprit)
{
    return failed(file, FileActionFailure::Refused, error, systemErrorText(error, culprit));
}

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string homeTrashFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    const std::string home = homeFolder();
    if (home.empty())
        return {};
    return (home == "/" ? std::string() : home) + "/.local/share/Trash";
}

// The device a path is on, or will be on once created: that of its nearest
// existing folder.
std::optional<dev_t> deviceOf(std::string path)
{
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            return st.st_dev;
        if (path == "/" || path.empty())
            return std::nullopt;
        path = parentFolder(path);
    }
}

// mkdir -p; folders made are private to the user (0700), as the trash and
// the data folder above it must be. Returns 0 or errno, `culprit` the folder.
int makeFolders(const std::string& path, std::string& culprit)
{
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/')
            continue;
        const std::string part = path.substr(0, i);
        culprit = part;
        if (::mkdir(part.c_str(), 0700) == 0)
            continue;
        if (errno != EEXIST)
            return errno;
        struct stat st {};
        if (::stat(part.c_str(), &st) != 0)
            return errno;
        if (!S_ISDIR(st.st_mode))
            return ENOTDIR;
    }
    return 0;
}

// The trash's own folders: files/ and info/ inside `folder`.
int makeTrashFolders(const std::string& folder, std::string& culprit)
{
    if (const int error = makeFolders(folder + "/files", culprit))
        return error;
    return makeFolders(folder + "/info", culprit);
}

// Path= holds a URL-style path: every byte outside the unreserved set is
// written %XX, which carries any byte, UTF-8 or not.
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

std::string deletionDate()
{
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return date;
}

std::atomic<TrashRecordSync> recordSync {::fsync};

// Creates the record with O_EXCL (so two deletes never share a name),
// writes it, syncs it and checks its size: a record that is not complete on
// disk is worth nothing to a file manager. Returns 0, EEXIST for a taken
// name, or errno with the record removed again.
int writeRecord(const std::string& infoPath, const std::string& record, TrashSync sync)
{
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = 0;
    if (!writeWhole(fd, record.data(), record.size()))
        error = errno;
    else if (sync == TrashSync::EachFile && recordSync.load(std::memory_order_relaxed)(fd) != 0)
        error = errno;
    struct stat st {};
    if (error == 0 && (::fstat(fd, &st) != 0 || st.st_size != static_cast<off_t>(record.size())))
        error = EIO;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(infoPath.c_str());
    return error;
}

// The name a file takes in the trash: its own, shortened when the trash's
// additions would make a name too long (the record keeps the full path). The
// extension stays, and a multi-byte character is not cut in two.
std::string trashNameOf(std::string_view name)
{
    if (name.size() <= kMaxTrashNameBytes)
        return std::string(name);
    std::string_view extension;
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name.size() - dot <= 16)
        extension = name.substr(dot);
    std::size_t keep = kMaxTrashNameBytes - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return std::string(name.substr(0, keep)) + std::string(extension);
}

FileActionResult trashInto(const std::string& file, const TrashPlace& place, TrashSync sync)
{
    std::string culprit;
    if (const int error = makeTrashFolders(place.folder, culprit))
        return refused(file, error, culprit);
    const std::string record = "[Trash Info]\nPath=" + percentEncoded(place.recordedPath) +
                               "\nDeletionDate=" + deletionDate() + "\n";
    const std::string base = trashNameOf(fileNameOf(file));
    for (int attempt = 1; attempt <= kMaxTrashNames; ++attempt) {
        const std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
        const std::string infoPath = place.folder + "/info/" + name + ".trashinfo";
        const std::string target = place.folder + "/files/" + name;
        const int recordError = writeRecord(infoPath, record, sync);
        if (recordError == EEXIST)
            continue;
        if (recordError != 0)
            return refused(file, recordError, place.folder + "/info");
        bool copied = place.byCopy;
        int error = copied ? 0 : renameNoReplace(file, target);
        // EXDEV: one device seen through two mounts (a bind mount), which a
        // rename cannot cross.
        if (error == EXDEV)
            copied = true;
        if (copied) {
            error = copyFileExclusive(file, target);
            if (error == 0 && ::unlink(file.c_str()) != 0) {
                error = errno;
                ::unlink(target.c_str());
            }
        }
        if (error != 0) {
            ::unlink(infoPath.c_str());
            if (error == EEXIST)
                continue; // a file without a record holds the name
            return refused(file, error, errorSubject(error, file));
        }
        if (sync == TrashSync::EachFile) {
            syncFolder(place.folder + "/files");
            syncFolder(place.folder + "/info");
            syncFolder(parentFolder(file));
        }
        FileActionResult done;
        done.trashed = {target, infoPath, copied};
        return done;
    }
    return failed(file, FileActionFailure::NoTrashName, EEXIST, noTrashNameText(std::string(fileNameOf(file))));
}

// The mount point of the volume holding `folder` (a real path): the highest
// folder above it on the same device.
std::string topFolderOf(const std::string& folder, dev_t device)
{
    std::string top = folder;
    while (top != "/") {
        const std::string up = parentFolder(top);
        struct stat st {};
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != device)
            break;
        top = up;
    }
    return top;
}

// A folder of the user's own: a real folder (no link) owned by them.
bool isOwnFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// The volume trash for a file under `top`: $top/.Trash/$uid when the
// administrator has set up a shared .Trash (a real folder with the sticky
// bit, so users cannot take each other's), else $top/.Trash-$uid.
std::optional<std::string> volumeTrash(const std::string& top)
{
    const std::string base = top == "/" ? std::string() : top;
    const std::string uid = std::to_string(::getuid());
    std::string culprit;
    struct stat shared {};
    if (::lstat((base + "/.Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
        const std::string mine = base + "/.Trash/" + uid;
        if ((::mkdir(mine.c_str(), 0700) == 0 || errno == EEXIST) && isOwnFolder(mine) &&
            makeTrashFolders(mine, culprit) == 0)
            return mine;
    }
    const std::string own = base + "/.Trash-" + uid;
    if ((::mkdir(own.c_str(), 0700) == 0 || errno == EEXIST) && isOwnFolder(own) &&
        makeTrashFolders(own, culprit) == 0)
        return own;
    return std::nullopt;
}

std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    const std::optional<std::string> cwd = currentFolder();
    return cwd ? childPath(*cwd, path) : std::string();
}

std::string realFolder(const std::string& folder)
{
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr)
        return folder;
    std::string out(real);
    std::free(real);
    return out;
}

FileActionResult moveToTrash(const std::string& path, TrashSync sync)
{
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        const int error = path.empty() ? ENOENT : errno;
        return {systemErrorText(error, path),
                error == ENOENT || error == ENOTDIR ? FileActionFailure::Missing : FileActionFailure::Refused, error, {}};
    }
    const std::string file = absolutePath(path);
    if (file.empty())
        return refused(path, errno, path);
    const std::string home = homeTrashFolder();
    const std::optional<dev_t> homeDevice = home.empty() ? std::nullopt : deviceOf(home);
    if (homeDevice && *homeDevice == st.st_dev)
        return trashInto(file, {home, file, false}, sync);

    const std::string folder = realFolder(parentFolder(file));
    const std::string top = topFolderOf(folder, st.st_dev);
    if (const std::optional<std::string> trash = volumeTrash(top)) {
        // Records in a volume trash name the file relative to the volume,
        // so they stay right wherever the volume is mounted next.
        std::string inside = (folder == "/" ? std::string() : folder) + "/" + std::string(fileNameOf(file));
        inside.erase(0, top == "/" ? 1 : top.size() + 1);
        return trashInto(file, {*trash, inside, false}, sync);
    }
    if (home.empty() || !S_ISREG(st.st_mode))
        return failed(file, FileActionFailure::NoTrash, 0, noTrashText(file));
    return trashInto(file, {home, file, true}, sync);
}

FileActionResult restoreTrashed(const TrashedFile& trashed, const std::string& originalPath, TrashSync sync)
{
    int error = 0;
    if (!trashed.copied) {
        error = renameNoReplace(trashed.filePath, originalPath);
    } else {
        error = copyFileExclusive(trashed.filePath, originalPath);
        if (error == 0)
            ::unlink(trashed.filePath.c_str());
    }
    if (error != 0)
        return {leftInTrashText(originalPath) + "\n" + systemErrorText(error, errorSubject(error, originalPath)),
                FileActionFailure::Refused, error, trashed};
    ::unlink(trashed.infoPath.c_str());
    if (sync == TrashSync::EachFile)
        syncFolder(parentFolder(originalPath));
    return {};
}

} // namespace

FileActionResult moveFileToTrash(const std::string& path)
{
    return moveToTrash(path, TrashSync::EachFile);
}

FileActionResult moveFileToTrashUnsynced(const std::string& path)
{
    return moveToTrash(path, TrashSync::Batch);
}

FileActionResult restoreFromTrash(const TrashedFile& trashed, const std::string& originalPath)
{
    return restoreTrashed(trashed, originalPath, TrashSync::EachFile);
}

FileActionResult restoreFromTrashUnsynced(const TrashedFile& trashed, const std::string& originalPath)
{
    return restoreTrashed(trashed, originalPath, TrashSync::Batch);
}

std::vector<std::string> trashFoldersFor(const std::string& path)
{
    std::vector<std::string> folders;
    const std::string home = homeTrashFolder();
    if (!home.empty())
        folders.push_back(home);
    const std::string folder = realFolder(parentFolder(absolutePath(path)));
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return folders;
    const std::string top = topFolderOf(folder, st.st_dev);
    const std::string base = top == "/" ? std::string() : top;
    const std::string uid = std::to_string(::getuid());
    folders.push_back(base + "/.Trash/" + uid);
    folders.push_back(base + "/.Trash-" + uid);
    return folders;
}

void setTrashRecordSync(TrashRecordSync sync)
{
    recordSync.store(sync ? sync : ::fsync, std::memory_order_relaxed);
}
