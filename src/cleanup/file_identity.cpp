#include "cleanup/file_identity.h"

#include <sys/stat.h>

namespace {

int64_t nanoseconds(const timespec& time)
{
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

std::optional<FileIdentity> readIdentity(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                         static_cast<int64_t>(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

bool sameFile(const FileIdentity& seen, const FileIdentity& now)
{
    return seen.device == now.device && seen.inode == now.inode && seen.size == now.size &&
           seen.mtimeNs == now.mtimeNs && (seen.ctimeNs == 0 || seen.ctimeNs == now.ctimeNs);
}
