#include "picture/bmp_loader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

#include <unistd.h>

#include "picture/bmp_platform_reader.h"
#include "picture/whole_picture_sink.h"

namespace {

// The bitmap's bytes: an open file read at offsets.
class BmpSource {
public:
    explicit BmpSource(const PictureFile& file) : m_fd(file.fd()), m_size(file.size()) {}

    int64_t size() const { return m_size; }

    // Up to count bytes from offset; fewer at the end of the file, -1 on a
    // read error (errno).
    int64_t readAt(int64_t offset, uint8_t* out, std::size_t count) const
    {
        if (offset >= m_size)
            return 0;
        count = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count), m_size - offset));
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(m_fd, out + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
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

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    int64_t m_size = 0;
};

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// One colour channel of a bit-field pixel: its mask, and how the masked value
// becomes 0..255. As the platform reader does it, a channel of fewer than 8
// bits is shifted up with zero low bits (31 of 5 bits gives 248).
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    int up = 0;

    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (mask != 0) {
            shift = std::countr_zero(mask);
            max = mask >> shift;
            up = 8 - std::popcount(max);
        }
    }
    uint8_t of(uint32_t pixel) const { return static_cast<uint8_t>(((pixel & mask) >> shift) << up); }
};

// A bitmap laid out plainly enough to be read row by row from the file:
// uncompressed, or bit fields without alpha.
struct PlainLayout {
    uint32_t compression = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool topDown = false;
    int bits = 0;
    int64_t headerEnd = 0; // where the headers end; 0 for a header of a kind not known
    int64_t pixelOffset = 0;
    int64_t stride = 0;
    std::array<uint8_t, 256 * 3> palette {}; // B, G, R
    Channel red, green, blue;
};

enum class Parse { Plain, RunLength, Platform, Broken };

constexpr uint32_t kCoreHeader = 12;
constexpr uint32_t kInfoHeader = 40;
constexpr uint32_t kV4Header = 108;
constexpr uint32_t kV5Header = 124;
constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;

// Reads the headers. Plain, RunLength: layout filled. Platform: a bitmap left
// to the platform reader (alpha, other headers, odd masks or palettes, pixels
// that start nowhere); width and height are still filled for the budget.
// Broken: too short to be a bitmap.
Parse parseHeaders(const BmpSource& source, PlainLayout& layout)
{
    std::array<uint8_t, 14 + kV5Header> head {};
    const int64_t got = source.readAt(0, head.data(), head.size());
    if (got < 14 + 4 || head[0] != 'B' || head[1] != 'M')
        return Parse::Broken;
    const uint32_t offset = le32(&head[10]);
    const uint32_t infoSize = le32(&head[14]);
    int64_t width = 0;
    int64_t height = 0;
    uint32_t planes = 0;
    uint32_t compression = kRgb;
    uint32_t colours = 0;
    int paletteEntry = 4;
    if (infoSize == kCoreHeader) {
        if (got < 14 + kCoreHeader)
            return Parse::Broken;
        width = le16(&head[18]);
        height = le16(&head[20]);
        planes = le16(&head[22]);
        layout.bits = static_cast<int>(le16(&head[24]));
        paletteEntry = 3;
        // A 16-bit size above 32767 reads as negative to some readers.
        if (width > 32767 || height > 32767)
            return Parse::Platform;
    } else if (infoSize == kInfoHeader || infoSize == kV4Header || infoSize == kV5Header) {
        if (got < 14 + kInfoHeader)
            return Parse::Broken;
        width = static_cast<int32_t>(le32(&head[18]));
        height = static_cast<int32_t>(le32(&head[22]));
        planes = le16(&head[26]);
        layout.bits = static_cast<int>(le16(&head[28]));
        compression = le32(&head[30]);
        colours = le32(&head[46]);
    } else {
        return Parse::Platform;
    }
    layout.headerEnd = 14 + infoSize;
    layout.compression = compression;
    layout.topDown = height < 0;
    layout.width = static_cast<int32_t>(std::clamp<int64_t>(width, 0, std::numeric_limits<int32_t>::max()));
    layout.height = static_cast<int32_t>(std::clamp<int64_t>(height < 0 ? -height : height, 0,
                                                             std::numeric_limits<int32_t>::max()));
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min() || planes != 1)
        return Parse::Platform;

    const int bits = layout.bits;
    int64_t tableEnd = 14 + infoSize;
    if (compression == kBitFields && (bits == 16 || bits == 32)) {
        std::array<uint8_t, 16> masks {};
        if (infoSize == kInfoHeader) {
            if (source.readAt(tableEnd, masks.data(), 12) != 12)
                return Parse::Platform;
            tableEnd += 12;
        } else {
            std::copy_n(&head[14 + 40], 16, masks.begin());
            if (le32(&masks[12]) != 0)
                return Parse::Platform; // alpha
        }
        layout.red = Channel(le32(&masks[0]));
        layout.green = Channel(le32(&masks[4]));
        layout.blue = Channel(le32(&masks[8]));
        for (const Channel* c : {&layout.red, &layout.green, &layout.blue}) {
            // Masks that are not one run of bits are left to the platform.
            if (c->mask == 0 || std::popcount(c->max + 1) != 1 || c->max > 255)
                return Parse::Platform;
        }
    } else if (compression == kRgb && bits == 16) {
        layout.red = Channel(0x7C00);
        layout.green = Channel(0x03E0);
        layout.blue = Channel(0x001F);
    } else if ((compression == kRle8 && bits == 8) || (compression == kRle4 && bits == 4)) {
        if (infoSize == kCoreHeader)
            return Parse::Platform;
    } else if (compression != kRgb || !(bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32)) {
        return Parse::Platform;
    }
    if ((infoSize == kV4Header || infoSize == kV5Header) && compression == kRgb && bits >= 16) {
        // Masks in a V4 or V5 header of an uncompressed bitmap (an alpha
        // mask, say) are left to the platform reader to interpret.
        for (int i = 0; i < 16; ++i) {
            if (head[14 + 40 + i] != 0)
                return Parse::Platform;
        }
    }
    if (bits <= 8) {
        const uint32_t full = 1u << bits;
        if (colours == 0)
            colours = full;
        // A short palette leaves the other indices black, as the platform
        // reader has them; only run-length bitmaps are read so here.
        if (colours > full || (colours != full && compression == kRgb))
            return Parse::Platform;
        std::array<uint8_t, 256 * 4> table {};
        const auto tableBytes = static_cast<std::size_t>(colours) * static_cast<std::size_t>(paletteEntry);
        if (source.readAt(tableEnd, table.data(), tableBytes) != static_cast<int64_t>(tableBytes))
            return Parse::Platform;
        for (uint32_t i = 0; i < colours; ++i)
            std::copy_n(&table[i * static_cast<uint32_t>(paletteEntry)], 3, &layout.palette[i * 3]);
        tableEnd += static_cast<int64_t>(tableBytes);
    }
    // The pixels must start after the headers and tables, and the file must
    // hold at least their first byte.
    if (offset < tableEnd || offset >= source.size())
        return Parse::Platform;
    layout.pixelOffset = offset;
    layout.stride = (int64_t{layout.width} * bits + 31) / 32 * 4;
    return compression == kRle8 || compression == kRle4 ? Parse::RunLength : Parse::Plain;
}

// Converts the first `valid` bytes of a raw row; pixels not wholly within
// them (the file ended) are black.
void convertRow(const PlainLayout& layout, const uint8_t* raw, int64_t valid, uint8_t* bgr)
{
    const int bits = layout.bits;
    const auto complete = static_cast<int32_t>(std::min<int64_t>(layout.width, valid * 8 / bits));
    for (int32_t x = 0; x < complete; ++x) {
        uint8_t* out = bgr + 3 * static_cast<std::size_t>(x);
        switch (bits) {
        case 1:
        case 4:
        case 8: {
            const int64_t bit = int64_t{x} * bits;
            const int index = (raw[bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
            std::copy_n(&layout.palette[static_cast<std::size_t>(index) * 3], 3, out);
            break;
        }
        case 16:
        case 32: {
            const uint8_t* p = raw + static_cast<std::size_t>(x) * static_cast<std::size_t>(bits / 8);
            if (layout.red.mask == 0) { // 32-bit B, G, R, unused
                std::copy_n(p, 3, out);
                break;
            }
            const uint32_t pixel = bits == 16 ? le16(p) : le32(p);
            out[0] = layout.blue.of(pixel);
            out[1] = layout.green.of(pixel);
            out[2] = layout.red.of(pixel);
            break;
        }
        default:
            std::copy_n(raw + 3 * static_cast<std::size_t>(x), 3, out);
            break;
        }
    }
    std::fill(bgr + 3 * static_cast<std::size_t>(complete), bgr + 3 * static_cast<std::size_t>(layout.width), 0);
}

bool aborted(const StreamOptions& options)
{
    return options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed);
}

StreamResult streamPlain(const BmpSource& source, const PlainLayout& layout, RowSink& sink, const StreamOptions& options,
                         BmpBuffers& buffers)
{
    const auto stride = static_cast<std::size_t>(layout.stride);
    const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * 3;
    if (buffers.raw.size() < stride)
        buffers.raw.resize(stride);
    if (buffers.bgr.size() < rowBytes)
        buffers.bgr.resize(rowBytes);
    if (!sink.begin(layout.width, layout.height))
        return {};
    for (int32_t y = 0; y < layout.height; ++y) {
        if (!sink.wantsRow(y))
            continue;
        if ((y & 255) == 0 && aborted(options))
            return {StreamStatus::Aborted, {}};
        const int64_t fileRow = layout.topDown ? y : layout.height - 1 - y;
        const int64_t valid = source.readAt(layout.pixelOffset + fileRow * layout.stride, buffers.raw.data(), stride);
        if (valid < 0) {
            const int error = errno;
            return {StreamStatus::Failed, std::strerror(error), LoadFailure::SystemError, error};
        }
        convertRow(layout, buffers.raw.data(), valid, buffers.bgr.data());
        sink.row(y, buffers.bgr.data());
    }
    return {};
}

// Reads a file forward through a small buffer.
class ForwardReader {
public:
    ForwardReader(const BmpSource& source, int64_t offset, std::vector<uint8_t>& buffer)
        : m_source(source), m_offset(offset), m_buffer(buffer)
    {
        if (m_buffer.size() < kChunk)
            m_buffer.resize(kChunk);
    }

    // The next byte; false at the end of the file or on a read error.
    bool next(uint8_t& byte)
    {
        if (m_pos == m_end) {
            const int64_t n = m_source.readAt(m_offset, m_buffer.data(), kChunk);
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
    const BmpSource& m_source;
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
    RunLengthPicture(const PlainLayout& layout, const std::vector<bool>& kept)
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
    void row(int32_t y, const PlainLayout& layout, uint8_t* bgr) const
    {
        const uint16_t* cells = m_cells.data() + m_stride * static_cast<std::size_t>(m_slot[static_cast<std::size_t>(y)]);
        for (int32_t x = 0; x < m_width; ++x, bgr += 3) {
            const uint16_t index = cells[x];
            if (index == kUnset)
                std::fill_n(bgr, 3, 0);
            else
                std::copy_n(&layout.palette[index * 3u], 3, bgr);
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

StreamResult streamRunLength(const BmpSource& source, const PlainLayout& layout, RowSink& sink, BmpBuffers& buffers)
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
    ForwardReader in(source, layout.pixelOffset, buffers.raw);
    const bool decoded = picture.decode(in, layout.compression == kRle4);
    if (in.error() != 0)
        return {StreamStatus::Failed, std::strerror(in.error()), LoadFailure::SystemError, in.error()};
    if (!decoded)
        return {StreamStatus::Failed, "run-length data ends inside an absolute run", LoadFailure::Damaged};
    if (!taken)
        return {};
    const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * 3;
    if (buffers.bgr.size() < rowBytes)
        buffers.bgr.resize(rowBytes);
    for (int32_t y = 0; y < layout.height; ++y) {
        if (!sink.wantsRow(y))
            continue;
        picture.row(layout.topDown ? layout.height - 1 - y : y, layout, buffers.bgr.data());
        sink.row(y, buffers.bgr.data());
    }
    return {};
}

// The rows of `stride` bytes a file holds from `offset` on, at most `height`.
int64_t rowsHeld(int64_t fileSize, int64_t offset, int64_t stride, int64_t height)
{
    if (stride <= 0 || fileSize <= offset)
        return 0;
    return std::min(height, (fileSize - offset + stride - 1) / stride);
}

// What a bitmap claims, for the limits every reader shares. A row-by-row
// read holds one row; a whole platform decode holds the picture at four bytes
// a pixel at most. A run-length stream or a platform decode by strips holds
// only the wanted rows, but a whole-picture load of either holds every row,
// so both are counted as a whole platform decode: the same pictures are read
// as before rows were left out. An uncompressed or bit-field bitmap carries
// a row per stride of its bytes; one the platform reader decodes is given
// every byte after its headers, as it may look for its pixels there.
PictureClaim bmpClaim(const PlainLayout& layout, Parse parse, int64_t fileSize)
{
    const int64_t width = layout.width;
    const int64_t height = layout.height;
    PictureClaim claim {width, height, wholeDecodeBytes(width, height)};
    const int bits = layout.bits;
    const int64_t stride = (width * bits + 31) / 32 * 4;
    switch (parse) {
    case Parse::Plain:
        claim.heldBytes = layout.stride + width * 3;
        claim.carriedPixels = rowsHeld(fileSize, layout.pixelOffset, layout.stride, height) * width;
        break;
    case Parse::Platform:
        if (layout.headerEnd > 0 && (layout.compression == kRgb || layout.compression == kBitFields)
            && (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32))
            claim.carriedPixels = rowsHeld(fileSize, layout.headerEnd, stride, height) * width;
        break;
    case Parse::RunLength: // a few bytes may cover any number of rows
    case Parse::Broken:
        break;
    }
    return claim;
}

// Whether a bitmap left to the platform reader is uncompressed, its pixels
// starting in the file after its headers, so that it can be read a strip at a
// time.
bool platformRowsOf(const BmpSource& source, const PlainLayout& layout, PlatformRows& rows)
{
    std::array<uint8_t, 30> head {};
    if (source.readAt(0, head.data(), head.size()) != static_cast<int64_t>(head.size()))
        return false;
    const uint32_t infoSize = le32(&head[14]);
    const int bits = layout.bits;
    if ((infoSize != kInfoHeader && infoSize != kV4Header && infoSize != kV5Header)
        || (layout.compression != kRgb && layout.compression != kBitFields) || le16(&head[26]) != 1
        || !(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)
        || layout.width <= 0 || layout.height <= 0)
        return false;
    const int64_t offset = le32(&head[10]);
    const int64_t stride = (int64_t {layout.width} * bits + 31) / 32 * 4;
    if (offset < layout.headerEnd || offset >= source.size())
        return false;
    rows = {offset, stride, source.size(), layout.width, layout.height, bits, layout.topDown};
    return true;
}

StreamResult streamBmp(const BmpSource& source, RowSink& sink, const StreamOptions& options, BmpBuffers& buffers)
{
    if (aborted(options))
        return {StreamStatus::Aborted, {}};
    PlainLayout layout;
    const Parse parse = parseHeaders(source, layout);
    if (parse != Parse::Broken) {
        std::string refusal = pictureLimitRefusal(bmpClaim(layout, parse, source.size()));
        if (!refusal.empty())
            return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    }
    switch (parse) {
    case Parse::Plain:
        return streamPlain(source, layout, sink, options, buffers);
    case Parse::RunLength:
        return streamRunLength(source, layout, sink, buffers);
    case Parse::Platform: {
        PlatformRows rows;
        if (platformRowsOf(source, layout, rows))
            return streamPlatformBitmapRows(source.fd(), rows, sink);
        return streamPlatformBitmap(source.fd(), sink);
    }
    case Parse::Broken:
        break;
    }
    return {StreamStatus::Failed, "not a bitmap", LoadFailure::Damaged};
}

LoadedPicture loadWhole(const BmpSource& source)
{
    BmpBuffers buffers;
    WholePictureSink sink;
    return sink.take(streamBmp(source, sink, StreamOptions {}, buffers));
}

const uint8_t kBmpSignature[] = {'B', 'M'};

} // namespace

StreamResult streamBmpFile(PictureFile& file, RowSink& sink, const StreamOptions& options, BmpBuffers& buffers)
{
    if (!file.startsWith(kBmpSignature, sizeof kBmpSignature))
        return file.failed();
    return streamBmp(BmpSource(file), sink, options, buffers);
}

LoadedPicture loadBmpFile(const std::string& path)
{
    PictureFile file;
    if (!file.open(path) || !file.startsWith(kBmpSignature, sizeof kBmpSignature))
        return WholePictureSink().take(file.failed());
    return loadWhole(BmpSource(file));
}

PictureSize bmpDecodedSize(const PictureFile& file, std::string& refusal)
{
    PlainLayout layout;
    const Parse parse = parseHeaders(BmpSource(file), layout);
    if (parse == Parse::Broken)
        return {};
    refusal = pictureLimitRefusal(bmpClaim(layout, parse, file.size()));
    return {layout.width, layout.height};
}
