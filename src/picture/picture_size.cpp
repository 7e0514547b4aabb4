#include "picture/picture_size.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <unistd.h>

#include <webp/decode.h>

#include "picture/bmp_loader.h"
#include "picture/heif_decoder.h"
#include "picture/jpeg_decoder.h"
#include "picture/jxl_decoder.h"
#include "picture/picture_file.h"
#include "picture/picture_format.h"
#include "picture/tiff_decoder.h"

namespace {

// A forward-only byte reader over a file descriptor. A read error counts as
// the end of the file: the size is then whatever was found before it.
class HeaderReader {
public:
    explicit HeaderReader(int fd) : m_fd(fd) {}

    // The next byte, or -1 at the end.
    int next()
    {
        if (m_pos == m_end && !fill())
            return -1;
        return m_buffer[m_pos++];
    }

    // Copies up to count bytes to out; returns how many there were.
    std::size_t read(uint8_t* out, std::size_t count)
    {
        std::size_t done = 0;
        while (done < count) {
            if (m_pos == m_end && !fill())
                break;
            const std::size_t n = std::min(count - done, m_end - m_pos);
            std::copy_n(m_buffer.data() + m_pos, n, out + done);
            m_pos += n;
            done += n;
        }
        return done;
    }

    // Passes over count bytes; false when the file ends first.
    bool skip(std::size_t count)
    {
        while (count > 0) {
            if (m_pos == m_end && !fill())
                return false;
            const std::size_t n = std::min(count, m_end - m_pos);
            m_pos += n;
            count -= n;
        }
        return true;
    }

private:
    bool fill()
    {
        for (;;) {
            const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            m_pos = 0;
            m_end = static_cast<std::size_t>(n);
            return true;
        }
    }

    int m_fd;
    std::array<uint8_t, 16384> m_buffer {};
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
};

int32_t littleEndian16(const uint8_t* p) { return p[0] | (p[1] << 8); }

PictureSize bitmapSize(HeaderReader& in)
{
    // A file shorter than the 24 header bytes reads its missing bytes as 0.
    std::array<uint8_t, 24> header {};
    in.read(header.data(), header.size());
    const uint32_t infoSize = header[14] | (header[15] << 8) | (header[16] << 16)
                              | (static_cast<uint32_t>(header[17]) << 24);
    // The OS/2 core header (12 bytes) holds 16-bit width and height at 18
    // and 20; every later header holds 32-bit values at 18 and 22.
    constexpr uint32_t kCoreHeaderSize = 12;
    const int32_t heightOffset = infoSize == kCoreHeaderSize ? 20 : 22;
    return PictureSize {littleEndian16(&header[18]), littleEndian16(&header[heightOffset])};
}

bool isStartOfFrame(int marker)
{
    // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning)
    // share the range but are not frame headers.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool standsAlone(int marker)
{
    return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

bool isArithmetic(int marker)
{
    return marker >= 0xC9;
}

// The size of the last frame header before the first scan; with `frame`,
// that header's components too.
PictureSize jpegSize(HeaderReader& in, JpegFrame* frame = nullptr)
{
    PictureSize size;
    if (in.next() != 0xFF || in.next() != 0xD8)
        return size;
    for (;;) {
        int byte = in.next();
        if (byte < 0)
            return size;
        if (byte != 0xFF)
            continue; // bytes between segments are passed over
        int marker = in.next();
        while (marker == 0xFF) // fill bytes
            marker = in.next();
        if (marker < 0 || marker == 0xDA)
            return size;
        if (standsAlone(marker))
            continue;
        const int high = in.next();
        const int low = in.next();
        if (low < 0)
            return size;
        const std::size_t length = static_cast<std::size_t>(high * 256 + low);
        const std::size_t bodyLength = length >= 2 ? length - 2 : 0;
        // Only the first five body bytes of a frame header are used (a frame
        // header too short to hold them gives nothing); every other body is
        // passed over unread.
        std::array<uint8_t, 6 + 3 * JpegFrame::kMaxComponents> head {};
        const std::size_t wanted = frame != nullptr ? head.size() : 5;
        const std::size_t kept = isStartOfFrame(marker) ? std::min(bodyLength, wanted) : 0;
        const std::size_t got = in.read(head.data(), kept);
        if (got >= 5) {
            size.height = head[1] * 256 + head[2];
            size.width = head[3] * 256 + head[4];
            if (frame != nullptr) {
                *frame = JpegFrame {size.width, size.height};
                frame->arithmetic = isArithmetic(marker);
                frame->components = got >= 6 ? head[5] : 0;
                if (frame->components > JpegFrame::kMaxComponents || got < 6 + 3 * std::size_t(frame->components))
                    frame->components = 0; // libjpeg refuses it
                for (int c = 0; c < frame->components; ++c) {
                    frame->h[c] = head[6 + 3 * c + 1] >> 4;
                    frame->v[c] = head[6 + 3 * c + 1] & 0x0F;
                }
            }
        }
        if (got < kept || !in.skip(bodyLength - kept))
            return size; // the file ends inside the segment
    }
}

// A PNG's size from its IHDR chunk, which must come first; 0 x 0 without
// one. PNG sides are below 2^31.
PictureSize pngSize(HeaderReader& in)
{
    static constexpr uint8_t kStart[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    uint8_t header[24];
    if (in.read(header, sizeof header) != sizeof header || !std::equal(kStart, kStart + 16, header))
        return {};
    const auto side = [&header](int at) {
        const uint32_t value = (uint32_t {header[at]} << 24) | (uint32_t {header[at + 1]} << 16)
                               | (uint32_t {header[at + 2]} << 8) | header[at + 3];
        return value > 0x7FFFFFFFu ? 0 : static_cast<int32_t>(value);
    };
    const PictureSize size {side(16), side(20)};
    return size.width > 0 && size.height > 0 ? size : PictureSize {};
}

// A WebP's size as libwebp reads it from the first chunks; 0 x 0 without
// one.
PictureSize webpSize(HeaderReader& in)
{
    uint8_t header[64];
    const std::size_t got = in.read(header, sizeof header);
    WebPBitstreamFeatures features {};
    if (WebPGetFeatures(header, got, &features) != VP8_STATUS_OK || features.width <= 0 || features.height <= 0)
        return {};
    return {features.width, features.height};
}

// A GIF's logical screen size; 0 x 0 without one.
PictureSize gifSize(HeaderReader& in)
{
    uint8_t header[10];
    if (in.read(header, sizeof header) != sizeof header || std::memcmp(header, "GIF8", 4) != 0)
        return {};
    return {header[6] | (header[7] << 8), header[8] | (header[9] << 8)};
}

// A TIFF's first picture's sides, from its directory; 0 x 0 when it has
// none (a side beyond 2^31 too).
PictureSize tiffSize(const PictureFile& file)
{
    uint32_t width = 0;
    uint32_t height = 0;
    if (!readTiffSides(file.fd(), file.size(), file.path(), &width, &height) || width > 0x7FFFFFFFu
        || height > 0x7FFFFFFFu)
        return {};
    return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// A HEIF file's primary picture's size after its rotation, from its boxes;
// 0 x 0 when libheif cannot read them.
PictureSize heifSize(PictureFile& file)
{
    PictureSize size;
    if (!readHeifSides(file, &size.width, &size.height))
        return {};
    return size;
}

// A JPEG XL picture's size after its orientation; 0 x 0 when libjxl cannot
// read its header.
PictureSize jxlSize(PictureFile& file)
{
    PictureSize size;
    if (!readJxlSides(file, &size.width, &size.height))
        return {};
    return size;
}

} // namespace

std::optional<PictureSize> ReadPictureSize(const std::string& path)
{
    PictureFile file;
    if (!file.open(path))
        return file.failure() == LoadFailure::Empty ? std::optional(PictureSize {}) : std::nullopt;
    if (decoderFormatOf(path) == PictureFormat::Tiff)
        return tiffSize(file);
    if (decoderFormatOf(path) == PictureFormat::Heic || decoderFormatOf(path) == PictureFormat::Avif)
        return heifSize(file);
    if (decoderFormatOf(path) == PictureFormat::Jxl)
        return jxlSize(file);
    HeaderReader in(file.fd());
    switch (decoderFormatOf(path)) {
    case PictureFormat::Jpeg:
        return jpegSize(in);
    case PictureFormat::Png:
        return pngSize(in);
    case PictureFormat::Webp:
        return webpSize(in);
    case PictureFormat::Gif:
        return gifSize(in);
    default:
        return bitmapSize(in);
    }
}

std::optional<PictureSize> ReadShownSize(const std::string& path, LoadedPicture& failure)
{
    PictureFile file;
    if (!file.open(path)) {
        failure.failure = file.failure();
        failure.error = file.error();
        failure.systemError = file.systemError();
        return std::nullopt;
    }
    PictureSize size;
    std::string refusal;
    if (decoderFormatOf(path) == PictureFormat::Jpeg) {
        HeaderReader in(file.fd());
        JpegFrame frame;
        size = jpegSize(in, &frame);
        // What the coefficients of a multi-scan file take is only known
        // from its first scan: the decode checks that.
        refusal = pictureLimitRefusal(jpegFrameClaim(frame, file.size(), 0));
    } else if (decoderFormatOf(path) == PictureFormat::Png) {
        HeaderReader in(file.fd());
        size = pngSize(in);
        // What every decode holds, libpng's rows and ours (see png_decoder);
        // an interlaced file's whole picture is the decode's check.
        refusal = pictureLimitRefusal({size.width, size.height, int64_t {size.width} * 23});
    } else if (decoderFormatOf(path) == PictureFormat::Webp) {
        HeaderReader in(file.fd());
        size = webpSize(in);
        // The file and the decoded picture, held at once (see webp_decoder).
        refusal = pictureLimitRefusal({size.width, size.height, file.size() + int64_t {size.width} * size.height * 3});
    } else if (decoderFormatOf(path) == PictureFormat::Gif) {
        HeaderReader in(file.fd());
        size = gifSize(in);
        // Where the first frame lies is the decode's check.
        refusal = pictureLimitRefusal({size.width, size.height, int64_t {size.width} * 4});
    } else if (decoderFormatOf(path) == PictureFormat::Tiff) {
        size = tiffSize(file);
        // What a strip or tile holds is the decode's check.
        refusal = pictureLimitRefusal({size.width, size.height, int64_t {size.width} * (64 * 4 + 3)});
    } else if (decoderFormatOf(path) == PictureFormat::Heic || decoderFormatOf(path) == PictureFormat::Avif) {
        size = heifSize(file);
        // The planes and the picture libheif holds (see heif_decoder).
        refusal = pictureLimitRefusal({size.width, size.height, file.size() + int64_t {size.width} * size.height * 9});
    } else if (decoderFormatOf(path) == PictureFormat::Jxl) {
        size = jxlSize(file);
        // The file and the picture libjxl holds (see jxl_decoder).
        refusal = pictureLimitRefusal({size.width, size.height, file.size() + int64_t {size.width} * size.height * 4});
    } else {
        size = bmpDecodedSize(file, refusal);
    }
    if (!refusal.empty()) {
        failure.failure = LoadFailure::TooLarge;
        failure.error = std::move(refusal);
        return std::nullopt;
    }
    if (size.width <= 0 || size.height <= 0) {
        failure.failure = LoadFailure::Damaged;
        failure.error = "no picture size in the file's header";
        return std::nullopt;
    }
    return size;
}
