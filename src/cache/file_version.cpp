#include "cache/file_version.h"

#include <ctime>

#include <sys/stat.h>

namespace {

// File times come from the kernel's coarse clock, which moves once a tick
// (at most 10 ms with any usual HZ); twice that leaves a margin.
constexpr int64_t kRacyWindowNs = 20'000'000;

int64_t nanoseconds(const timespec& time)
{
    return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

std::optional<FileVersion> readFileVersion(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return fileVersionOf(st);
}

FileVersion fileVersionOf(const struct stat& st)
{
    // Taken after the status: a change between the two only makes the
    // version look more recent than it is, never older.
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    FileVersion version;
    version.device = static_cast<uint64_t>(st.st_dev);
    version.inode = static_cast<uint64_t>(st.st_ino);
    version.size = static_cast<int64_t>(st.st_size);
    version.mtimeNs = nanoseconds(st.st_mtim);
    version.ctimeNs = nanoseconds(st.st_ctim);
    version.seenNs = nanoseconds(now);
    return version;
}

bool changedTooRecently(const FileVersion& version)
{
    // A time in the future (another machine's clock, a clock set back) is as
    // unsafe as a recent one.
    return version.seenNs - version.ctimeNs < kRacyWindowNs || version.seenNs - version.mtimeNs < kRacyWindowNs;
}
