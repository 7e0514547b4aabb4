#include "picture/bmp_loader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

#include <unistd.h>

#include "picture/bmp_platform_reader.h"
#include "picture/bmp_run_length.h"
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
        return streamRunLengthBitmap(source.fd(), source.size(),
                                     {layout.width, layout.height, layout.topDown, layout.compression == kRle4,
                                      layout.pixelOffset, &layout.palette},
                                     sink, buffers.raw, buffers.bgr);
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
