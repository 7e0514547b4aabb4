#pragma once

#include <cstddef>
#include <cstdint>

// The boxes HEIF and JPEG XL files are made of (ISO base media file format):
// a 32-bit big-endian size (1: a 64-bit size follows the type; 0: to the
// end of the file), a four-letter type, the contents.

struct IsoBox {
    char type[4] = {};
    int64_t start = 0;       // where the box's header begins
    int64_t contents = 0;    // where its contents begin
    uint64_t size = 0;       // header and contents, as the header says
    bool is(const char* name) const;
    // Where the box ends, as its header says (possibly past the file's end).
    uint64_t end() const { return static_cast<uint64_t>(start) + size; }
};

// Reads count bytes at offset of the open file fd, retrying interrupted
// reads; false on a read error or the file's end.
bool readFileAt(int fd, int64_t offset, uint8_t* out, std::size_t count);

// The header of the box at `start` of a file of fileSize bytes; false when
// it cannot be read or is no box header (a size smaller than the header,
// one beyond what 63 bits reach). `bytesRead` grows by what was read.
bool readIsoBox(int fd, int64_t fileSize, int64_t start, IsoBox& box, int64_t& bytesRead);
