#include "cache/record_checksum.h"

#include <cstring>

namespace {

class Checksum {
public:
    void add(std::string_view bytes)
    {
        for (char c : bytes) {
            m_hash ^= static_cast<uint8_t>(c);
            m_hash *= 0x100000001B3ULL;
        }
        m_hash ^= bytes.size();
        m_hash *= 0x100000001B3ULL;
    }
    // The same kind of sum eight bytes at a step: the turned signatures of a
    // picture are five times the bytes of its record, read at every lookup
    // of a search for turned copies.
    void addWords(std::string_view bytes)
    {
        std::size_t at = 0;
        for (; at + 8 <= bytes.size(); at += 8) {
            uint64_t word = 0;
            std::memcpy(&word, bytes.data() + at, 8);
            m_hash ^= word;
            m_hash *= 0x100000001B3ULL;
        }
        add(bytes.substr(at));
        m_hash ^= bytes.size();
        m_hash *= 0x100000001B3ULL;
    }
    void add(int64_t value)
    {
        char bytes[8];
        std::memcpy(bytes, &value, sizeof bytes);
        add(std::string_view(bytes, sizeof bytes));
    }
    int64_t value() const { return static_cast<int64_t>(m_hash); }

private:
    uint64_t m_hash = 0xCBF29CE484222325ULL;
};

} // namespace

int64_t recordChecksum(int64_t decoder, int32_t identicalVersion, int32_t similarVersion, int32_t width,
                       int32_t height, LoadFailure failure, std::string_view error, std::string_view identical,
                       std::string_view similar)
{
    Checksum sum;
    sum.add(decoder);
    sum.add(identicalVersion);
    sum.add(similarVersion);
    sum.add(width);
    sum.add(height);
    sum.add(static_cast<int64_t>(failure));
    sum.add(error);
    sum.add(identical);
    sum.add(similar);
    return sum.value();
}

int64_t turnedChecksum(int64_t decoder, int32_t identicalVersion, int32_t similarVersion, std::string_view identical,
                       std::string_view similar)
{
    Checksum sum;
    sum.add(decoder);
    sum.add(identicalVersion);
    sum.add(similarVersion);
    sum.add(std::string_view("turned"));
    sum.addWords(identical);
    sum.addWords(similar);
    return sum.value();
}

int64_t keyedChecksum(std::string_view path, const FileVersion& version, int64_t contentChecksum)
{
    Checksum sum;
    sum.add(contentChecksum);
    sum.add(path);
    sum.add(static_cast<int64_t>(version.device));
    sum.add(static_cast<int64_t>(version.inode));
    sum.add(version.size);
    sum.add(version.mtimeNs);
    sum.add(version.ctimeNs);
    return sum.value();
}

int64_t headerSizeChecksum(std::string_view path, const FileVersion& version, int32_t reader, int32_t width,
                           int32_t height)
{
    return keyedChecksum(path, version, recordChecksum(reader, 0, 0, width, height, LoadFailure::None, {}, {}, {}));
}

int64_t versionsChecksum(int64_t base, std::string_view libraries)
{
    Checksum sum;
    sum.add(base);
    sum.add(libraries);
    return sum.value();
}
