#include "marks/content_hash.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QCryptographicHash>

#include "common/fd_closer.h"

namespace {

constexpr std::size_t kReadChunk = 1 << 20;

} // namespace

std::optional<ContentHash> hashFileContent(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const FdCloser closer(fd);
    QCryptographicHash hasher(QCryptographicHash::Sha256);
    std::vector<char> buffer(kReadChunk);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        hasher.addData(QByteArrayView(buffer.data(), static_cast<qsizetype>(got)));
    }
    const QByteArray digest = hasher.result();
    ContentHash hash {};
    if (static_cast<std::size_t>(digest.size()) != hash.size())
        return std::nullopt;
    for (std::size_t i = 0; i < hash.size(); ++i)
        hash[i] = static_cast<uint8_t>(digest[static_cast<qsizetype>(i)]);
    return hash;
}

std::string contentHashText(const ContentHash& hash)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(hash.size() * 2);
    for (const uint8_t byte : hash) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

std::optional<ContentHash> contentHashFromBytes(std::string_view bytes)
{
    ContentHash hash {};
    if (bytes.size() != hash.size())
        return std::nullopt;
    for (std::size_t i = 0; i < hash.size(); ++i)
        hash[i] = static_cast<uint8_t>(bytes[i]);
    return hash;
}
