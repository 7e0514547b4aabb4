#include "picture/iso_boxes.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

bool IsoBox::is(const char* name) const
{
    return std::memcmp(type, name, 4) == 0;
}

bool readFileAt(int fd, int64_t offset, uint8_t* out, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, out + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

namespace {

uint64_t bigEndian(const uint8_t* bytes, int count)
{
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

} // namespace

bool readIsoBox(int fd, int64_t fileSize, int64_t start, IsoBox& box, int64_t& bytesRead)
{
    uint8_t header[16];
    if (fileSize - start < 8 || !readFileAt(fd, start, header, 8))
        return false;
    bytesRead += 8;
    uint64_t size = bigEndian(header, 4);
    int64_t headerBytes = 8;
    if (size == 1) {
        if (fileSize - start < 16 || !readFileAt(fd, start + 8, header + 8, 8))
            return false;
        bytesRead += 8;
        size = bigEndian(header + 8, 8);
        headerBytes = 16;
    } else if (size == 0) {
        size = static_cast<uint64_t>(fileSize - start);
    }
    if (size < static_cast<uint64_t>(headerBytes) || size > static_cast<uint64_t>(INT64_MAX - start))
        return false;
    std::memcpy(box.type, header + 4, 4);
    box.start = start;
    box.contents = start + headerBytes;
    box.size = size;
    return true;
}
