#include "picture/bmp_run_length.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// Reads a file forward through a small buffer.
class ForwardReader {
public:
    ForwardReader(int fd, int64_t fileSize, int64_t offset, std::vector<uint8_t>& buffer)
        : m_fd(fd), m_fileSize(fileSize), m_offset(offset), m_buffer(buffer)
    {
        if (m_buffer.size() < kChunk)
            m_buffer.resize(kChunk);
    }

    // The next byte; false at the end of the file or on a read error.
    bool next(uint8_t& byte)
    {
        if (m_pos == m_end) {
            const int64_t n = readAt(m_offset, kChunk);
            if (n < 0 && m_error == 0)
                m_error = errno;
            if (n <= 0)
                return false;
            m_offset += n;
            m_pos = 0;
            m_end = static_cast<std::size_t>(n);
        }
        byte = m_buffer[m_pos++];
        return true;
    }

    // The errno of a failed read, 0 when the data simply ended.
    int error() const { return m_error; }

private:
    static constexpr std::size_t kChunk = 64 * 1024;

    // Up to count bytes from offset into the buffer; fewer at the end of
    // the file, -1 on a read error (errno).
    int64_t readAt(int64_t offset, std::size_t count) const
    {
        if (offset >= m_fileSize)
            return 0;
        count = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count), m_fileSize - offset));
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(m_fd, m_buffer.data() + done, count - done,
                                      static_cast<off_t>(offset) + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return static_cast<int64_t>(done);
    }

    int m_fd;
    int64_t m_fileSize;
    int64_t m_offset;
    std::vector<uint8_t>& m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    int m_error = 0;
};

// Palette indices of a run-length bitmap as the platform reader lays them
// out: rows of a 32-bit aligned stride, the first encoded line last, one
// limit for every write at the end of that first line, so that a run longer
// than its line spills into the padding and the line after it in memory.
// Indices never written stay kUnset and come out black, as do those beyond
// the palette; the platform reader left them uninitialised. Only the rows
// asked for are held: the file is decoded in its own order (the bottom line
// first) and a write to any other row is dropped, so that a sampler's few
// rows cost a few rows whatever the picture's size.
class RunLengthPicture {
public:
    static constexpr uint16_t kUnset = 0xFFFF;

    // `kept[r]` says whether row r, from the top as stored, is held.
    RunLengthPicture(const RunLengthLayout& layout, const std::vector<bool>& kept)
        : m_width(layout.width), m_height(layout.height),
          m_stride((static_cast<std::size_t>(layout.width) + 3) / 4 * 4),
          m_slot(static_cast<std::size_t>(layout.height), kNotKept)
    {
        std::size_t slots = 0;
        for (std::size_t r = 0; r < m_slot.size(); ++r) {
            if (kept[r])
                m_slot[r] = static_cast<int32_t>(slots++);
        }
        m_cells.assign(m_stride * slots, kUnset);
    }

    // Decodes; false when the data ends inside an absolute run of an RLE8
    // bitmap, which the platform reader refuses.
    bool decode(ForwardReader& in, bool fourBit)
    {
        const std::size_t limit = memoryRow(0) + static_cast<std::size_t>(m_width);
        std::size_t p = memoryRow(0);
        int64_t x = 0;
        int64_t y = 0;
        uint8_t count = 0;
        std::array<uint16_t, 255> absolute {};
        while (y < m_height) {
            if (!in.next(count))
                return true;
            if (count != 0) { // a run of one index (two alternating for RLE4)
                const std::size_t n = std::min<std::size_t>(count, limit - p);
                // A missing RLE4 value byte reads as the clipped count, as
                // in the platform reader; a missing RLE8 one ends the data.
                auto value = static_cast<uint8_t>(n);
                if (!in.next(value) && !fourBit)
                    return true;
                if (fourBit) {
                    const uint16_t pair[2] = {static_cast<uint16_t>(value >> 4), static_cast<uint16_t>(value & 0x0F)};
                    put(p, n, [&pair](std::size_t i) { return pair[i % 2]; });
                } else {
                    put(p, n, [value](std::size_t) { return uint16_t {value}; });
                }
                p += n;
                x += static_cast<int64_t>(n);
                continue;
            }
            uint8_t code = 0;
            if (!in.next(code) || code == 1)
                return true; // end of bitmap
            if (code == 0) { // end of line
                x = 0;
                ++y;
                p = memoryRow(y);
                continue;
            }
            if (code == 2) { // delta
                uint8_t dx = 0;
                uint8_t dy = 0;
                if (!in.next(dx) || !in.next(dy))
                    return true;
                x = std::min<int64_t>(x + dx, m_width - 1);
                y = std::min<int64_t>(y + dy, m_height - 1);
                p = memoryRow(y) + static_cast<std::size_t>(x);
                continue;
            }
            // Absolute: code indices follow, padded to a 16-bit boundary.
            const std::size_t n = std::min<std::size_t>(code, limit - p);
            std::size_t written = n;
            if (!fourBit) {
                for (std::size_t i = 0; i < n; ++i) {
                    uint8_t value = 0;
                    if (!in.next(value))
                        return false;
                    absolute[i] = value;
                }
                put(p, n, [&absolute](std::size_t i) { return absolute[i]; });
                uint8_t pad = 0;
                if (n % 2 == 1 && !in.next(pad))
                    return true;
            } else {
                // Past the end of the data the platform reader repeats the
                // last byte it read (the clipped count at first); the last
                // index of an odd run it leaves unset.
                auto value = static_cast<uint8_t>(n);
                for (std::size_t i = 0; i < n; ++i) {
                    if (i % 2 == 0 && !in.next(value) && i + 1 == n) {
                        written = i;
                        break;
                    }
                    absolute[i] = i % 2 == 0 ? value >> 4 : value & 0x0F;
                }
                put(p, written, [&absolute](std::size_t i) { return absolute[i]; });
                uint8_t pad = 0;
                if (((n & 3) + 1) & 2 && !in.next(pad))
                    return true;
            }
            p += n;
            x += static_cast<int64_t>(n);
        }
        return true;
    }

    // Row y from the top of the bitmap as it is stored (the first encoded
    // line is the bottom one); a row that was kept.
    void row(int32_t y, const std::array<uint8_t, 256 * 3>& palette, uint8_t* bgr) const
    {
        const uint16_t* cells = m_cells.data() + m_stride * static_cast<std::size_t>(m_slot[static_cast<std::size_t>(y)]);
        for (int32_t x = 0; x < m_width; ++x, bgr += 3) {
            const uint16_t index = cells[x];
            if (index == kUnset)
                std::fill_n(bgr, 3, 0);
            else
                std::copy_n(&palette[index * 3u], 3, bgr);
        }
    }

private:
    static constexpr int32_t kNotKept = -1;

    // Where the encoded line y starts in memory.
    std::size_t memoryRow(int64_t y) const { return m_stride * static_cast<std::size_t>(m_height - 1 - y); }

    // Writes index(i) for i in [0, n) from memory position p on, into the
    // rows that are kept; the rest are passed over.
    template <typename Index>
    void put(std::size_t p, std::size_t n, Index index)
    {
        std::size_t i = 0;
        while (i < n) {
            const std::size_t r = (p + i) / m_stride;
            const std::size_t column = (p + i) - r * m_stride;
            const std::size_t span = std::min(n - i, m_stride - column);
            const int32_t slot = m_slot[r];
            if (slot != kNotKept) {
                uint16_t* cells = m_cells.data() + m_stride * static_cast<std::size_t>(slot) + column;
                for (std::size_t k = 0; k < span; ++k)
                    cells[k] = index(i + k);
            }
            i += span;
        }
    }

    int32_t m_width;
    int32_t m_height;
    std::size_t m_stride;
    std::vector<int32_t> m_slot; // per row from the top: its place in m_cells, or kNotKept
    std::vector<uint16_t> m_cells;
};

} // namespace

StreamResult streamRunLengthBitmap(int fd, int64_t fileSize, const RunLengthLayout& layout, RowSink& sink,
                                   std::vector<uint8_t>& readBuffer, std::vector<uint8_t>& rowBuffer)
{
    // The sink learns the size first, so that only the rows it wants are
    // held; the file is decoded even when it wants none, so that damage
    // fails it as before.
    const bool taken = sink.begin(layout.width, layout.height);
    std::vector<bool> kept(static_cast<std::size_t>(layout.height), false);
    for (int32_t y = 0; taken && y < layout.height; ++y) {
        // A top-down bitmap is decoded as a bottom-up one, then turned over.
        kept[static_cast<std::size_t>(layout.topDown ? layout.height - 1 - y : y)] = sink.wantsRow(y);
    }
    RunLengthPicture picture(layout, kept);
    ForwardReader in(fd, fileSize, layout.pixelOffset, readBuffer);
    const bool decoded = picture.decode(in, layout.fourBit);
    if (in.error() != 0)
        return {StreamStatus::Failed, std::strerror(in.error()), LoadFailure::SystemError, in.error()};
    if (!decoded)
        return {StreamStatus::Failed, "run-length data ends inside an absolute run", LoadFailure::Damaged};
    if (!taken)
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * 3;
    if (rowBuffer.size() < rowBytes)
        rowBuffer.resize(rowBytes);
    for (int32_t y = 0; y < layout.height; ++y) {
        if (!sink.wantsRow(y))
            continue;
        picture.row(layout.topDown ? layout.height - 1 - y : y, *layout.palette, rowBuffer.data());
        sink.row(y, rowBuffer.data());
    }
    return {};
}
