#include "review/file_actions.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "common/fd_closer.h"
#include "common/folder_path.h"
#include "review/error_messages.h"
#include "review/file_steps.h"

namespace {

// Room kept free beyond the copy itself: the file system's own records of
// the new file.
constexpr unsigned long long kCopyHeadroom = 1 << 20;

FileActionResult moveFailed(const std::string& from, const std::string& to, FileActionFailure kind, int error,
                            const std::string& culprit)
{
    return {moveFailedText(from, to) + "\n" + systemErrorText(error, culprit), kind, error, {}};
}

// The folder must let entries be added or removed by this process.
int folderWritable(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

FileActionResult copyAcrossFileSystems(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return moveFailed(from, to, FileActionFailure::Refused, errno, from);
    FdCloser closeIn(in);
    std::string temp = parentFolder(to) + "/.zelvic-move-XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0)
        return moveFailed(from, to, FileActionFailure::Refused, errno, parentFolder(to));
    int error = copyDescriptor(in, out);
    if (::close(out) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), to.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return moveFailed(from, to, FileActionFailure::Refused, error, error == ENOSPC ? to : parentFolder(to));
    }
    syncFolder(parentFolder(to));
    if (::unlink(from.c_str()) != 0) {
        const int unlinkError = errno;
        return {copiedButKeptText(to) + "\n" + systemErrorText(unlinkError, errorSubject(unlinkError, from)),
                FileActionFailure::Refused, unlinkError, {}};
    }
    return {};
}

} // namespace

FileActionResult checkMove(const std::string& from, const std::string& to)
{
    constexpr FileActionFailure kImpossible = FileActionFailure::MoveImpossible;
    struct stat source {};
    if (::lstat(from.c_str(), &source) != 0) {
        const int error = errno;
        return moveFailed(from, to, error == ENOENT ? FileActionFailure::Missing : kImpossible, error, from);
    }
    const std::string sourceFolder = parentFolder(from);
    if (const int error = folderWritable(sourceFolder))
        return moveFailed(from, to, kImpossible, error, sourceFolder);
    const std::string targetFolder = parentFolder(to);
    if (const int error = folderWritable(targetFolder))
        return moveFailed(from, to, kImpossible, error, targetFolder);
    struct stat target {};
    if (::stat(targetFolder.c_str(), &target) == 0 && target.st_dev != source.st_dev) {
        struct statvfs space {};
        if (::statvfs(targetFolder.c_str(), &space) == 0) {
            const unsigned long long available =
                static_cast<unsigned long long>(space.f_bavail) * static_cast<unsigned long long>(space.f_frsize);
            if (available < static_cast<unsigned long long>(source.st_size) + kCopyHeadroom)
                return moveFailed(from, to, kImpossible, ENOSPC, targetFolder);
        }
    }
    return {};
}

FileActionResult moveFileReplacing(const std::string& from, const std::string& to)
{
    const FileActionResult checked = checkMove(from, to);
    if (!checked.ok())
        return checked;
    // A file already at the target that is not the one being moved goes to
    // the trash first: replacing it outright would destroy a picture the user
    // never saw in the review.
    struct stat source {};
    struct stat target {};
    FileActionResult trashed;
    bool madeRoom = false;
    if (::lstat(to.c_str(), &target) == 0 && !S_ISDIR(target.st_mode)
        && !(::lstat(from.c_str(), &source) == 0 && source.st_dev == target.st_dev && source.st_ino == target.st_ino)) {
        trashed = moveFileToTrash(to);
        if (!trashed.ok())
            return {moveFailedText(from, to) + "\n" + trashed.error, trashed.failure, trashed.systemError, {}};
        madeRoom = true;
    }
    FileActionResult moved;
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        moved = error == EXDEV ? copyAcrossFileSystems(from, to)
                               : moveFailed(from, to, FileActionFailure::Refused, error, errorSubject(error, from));
    }
    if (!moved.ok() && madeRoom) {
        const FileActionResult restored = restoreFromTrash(trashed.trashed, to);
        moved.error += "\n" + (restored.ok() ? restoredText(to) : restored.error);
    }
    if (moved.ok() && madeRoom)
        moved.trashed = trashed.trashed; // the review names the file it replaced
    return moved;
}
