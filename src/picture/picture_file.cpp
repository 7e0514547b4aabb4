#include "picture/picture_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LoadFailure failureOfErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return LoadFailure::Missing;
    case EACCES:
    case EPERM:
        return LoadFailure::AccessDenied;
    default:
        return LoadFailure::SystemError;
    }
}

PictureFile::~PictureFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void PictureFile::fail(LoadFailure failure, const std::string& error, int systemError)
{
    m_failure = failure;
    m_error = error;
    m_systemError = systemError;
}

bool PictureFile::open(const std::string& path)
{
    m_path = path;
    // O_NONBLOCK so that opening a FIFO without a writer returns at once;
    // it is cleared again before any read of a regular file.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (m_fd < 0) {
        const int error = errno;
        fail(failureOfErrno(error), std::strerror(error), error);
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        fail(LoadFailure::SystemError, std::strerror(error), error);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(LoadFailure::NotRegular, "not a regular file");
        return false;
    }
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        fail(LoadFailure::SystemError, std::strerror(error), error);
        return false;
    }
    m_size = st.st_size;
    if (m_size == 0) {
        fail(LoadFailure::Empty, "empty file");
        return false;
    }
    return true;
}

int64_t PictureFile::read(uint8_t* out, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool PictureFile::startsWith(const uint8_t* signature, std::size_t length)
{
    uint8_t head[8] {};
    ssize_t got = 0;
    do
        got = ::pread(m_fd, head, length, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        const int error = errno;
        fail(LoadFailure::SystemError, std::strerror(error), error);
        return false;
    }
    if (static_cast<std::size_t>(got) != length || std::memcmp(head, signature, length) != 0) {
        fail(LoadFailure::Damaged, "not a picture of its kind (wrong signature)");
        return false;
    }
    return true;
}
