#include "picture/file_bytes.h"

#include <cerrno>
#include <cstring>

#include "picture/picture_file.h"

std::optional<std::vector<uint8_t>> readFileBytes(const std::string& path, std::string& error)
{
    PictureFile file;
    if (!file.open(path) && file.failure() != LoadFailure::Empty) {
        error = file.error();
        return std::nullopt;
    }
    // What a decoder may hold of one picture bounds what is read of it.
    if (file.size() > kPictureMemoryBudget) {
        error = "file too large";
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(file.size()));
    const int64_t got = file.read(bytes.data(), bytes.size());
    if (got < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}
