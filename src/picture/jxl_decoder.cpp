#include "picture/jxl_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <jxl/decode.h>

#include "picture/iso_boxes.h"
#include "picture/picture_limits.h"
#include "picture/whole_picture_sink.h"

namespace {

// Enough of a file for its basic info: the signature, the size and the
// image header (a container's first boxes included).
constexpr std::size_t kHeaderBytes = 4096;

struct DecoderDestroy {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};

// Reads up to `limit` bytes of the file into `into`; false with file's
// failure set on a read error.
bool readUpTo(PictureFile& file, std::vector<uint8_t>& into, std::size_t limit)
{
    into.resize(limit);
    std::size_t done = 0;
    while (done < limit) {
        const int64_t got = file.read(into.data() + done, limit - done);
        if (got < 0) {
            file.fail(LoadFailure::SystemError, std::strerror(errno), errno);
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    into.resize(done);
    return true;
}

// A JPEG XL container's signature box; a bare codestream begins FF 0A.
const uint8_t kContainerSignature[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};

// Boxes looked through for the codestream: other boxes (Exif, XMP, a
// preview in JUMBF) may come first, of any size.
constexpr int kMaxBoxes = 1000;

// The first kHeaderBytes of a container's codestream, from its 'jxlc' box or
// its 'jxlp' parts, into `into`; the boxes before it are passed over
// unread. False when there is none or the file cannot be read.
bool readContainedCodestream(PictureFile& file, std::vector<uint8_t>& into)
{
    into.clear();
    int64_t position = 0;
    int64_t headerBytes = 0;
    for (int boxes = 0; boxes < kMaxBoxes && into.size() < kHeaderBytes; ++boxes) {
        IsoBox box;
        if (!readIsoBox(file.fd(), file.size(), position, box, headerBytes))
            break;
        const uint64_t end = std::min<uint64_t>(box.end(), static_cast<uint64_t>(file.size()));
        const bool whole = box.is("jxlc");
        // A part begins with its 32-bit index, the last part's high bit set.
        const int64_t skip = box.is("jxlp") ? 4 : 0;
        if (whole || skip != 0) {
            const int64_t from = box.contents + skip;
            const auto take = static_cast<std::size_t>(
                std::min<int64_t>(static_cast<int64_t>(end) - from, static_cast<int64_t>(kHeaderBytes - into.size())));
            if (from < static_cast<int64_t>(end)) {
                const std::size_t at = into.size();
                into.resize(at + take);
                if (!readFileAt(file.fd(), from, into.data() + at, take)) {
                    file.fail(LoadFailure::SystemError, std::strerror(errno), errno);
                    return false;
                }
            }
            if (whole)
                break;
        }
        if (box.end() >= static_cast<uint64_t>(file.size()))
            break;
        position = static_cast<int64_t>(box.end());
    }
    return !into.empty();
}

// The sides of the picture as it is shown: orientations 5 to 8 turn it.
void shownSides(const JxlBasicInfo& info, int32_t* width, int32_t* height)
{
    const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
    const uint32_t w = turned ? info.ysize : info.xsize;
    const uint32_t h = turned ? info.xsize : info.ysize;
    *width = w > 0x7FFFFFFFu ? 0 : static_cast<int32_t>(w);
    *height = h > 0x7FFFFFFFu ? 0 : static_cast<int32_t>(h);
}

StreamResult damaged(const char* why)
{
    return {StreamStatus::Failed, why, LoadFailure::Damaged};
}

// One row of R, G, B(, A) as B, G, R, alpha laid over white, rounded.
void rowToBgr(const uint8_t* in, uint8_t* out, int32_t width, uint32_t channels)
{
    if (channels == 3) {
        for (int32_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        const int a = in[4 * x + 3];
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = static_cast<uint8_t>((in[4 * x + 2 - c] * a + 255 * (255 - a) + 127) / 255);
    }
}

} // namespace

bool readJxlSides(PictureFile& file, int32_t* width, int32_t* height)
{
    std::vector<uint8_t> header;
    uint8_t signature[sizeof kContainerSignature] = {};
    if (readFileAt(file.fd(), 0, signature, sizeof signature)
        && std::memcmp(signature, kContainerSignature, sizeof signature) == 0) {
        if (!readContainedCodestream(file, header))
            return false;
    } else if (!readUpTo(file, header, kHeaderBytes)) {
        return false;
    }
    std::unique_ptr<JxlDecoder, DecoderDestroy> decoder(JxlDecoderCreate(nullptr));
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(decoder.get(), header.data(), header.size()) != JXL_DEC_SUCCESS)
        return false;
    JxlDecoderCloseInput(decoder.get());
    JxlBasicInfo info {};
    if (JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO
        || JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
        return false;
    shownSides(info, width, height);
    return true;
}

StreamResult streamJxlFile(PictureFile& file, RowSink& sink, const StreamOptions& options, JxlBuffers& buffers)
{
    // libjxl reads from memory: the file is held whole while it is decoded.
    if (file.size() > kPictureMemoryBudget)
        return {StreamStatus::Failed,
                "picture too large (the file is larger than " + std::to_string(kPictureMemoryBudget >> 20) + " MB)",
                LoadFailure::TooLarge};
    if (!readUpTo(file, buffers.input, static_cast<std::size_t>(file.size())))
        return file.failed();
    std::unique_ptr<JxlDecoder, DecoderDestroy> decoder(JxlDecoderCreate(nullptr));
    if (!decoder)
        return {StreamStatus::Failed, "out of memory", LoadFailure::TooLarge};
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(decoder.get(), buffers.input.data(), buffers.input.size()) != JXL_DEC_SUCCESS)
        return damaged("libjxl refused the file");
    JxlDecoderCloseInput(decoder.get());
    // R, G, B and alpha where there is alpha; otherwise libjxl need not
    // write a fourth byte that says nothing.
    JxlPixelFormat format {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    int32_t width = 0;
    int32_t height = 0;
    StreamResult result;
    bool done = false;
    while (!done) {
        switch (JxlDecoderProcessInput(decoder.get())) {
        case JXL_DEC_BASIC_INFO: {
            JxlBasicInfo info {};
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                return damaged("libjxl: no basic info");
            shownSides(info, &width, &height);
            format.num_channels = info.alpha_bits > 0 ? 4 : 3;
            const int64_t held = static_cast<int64_t>(buffers.input.size()) + int64_t {width} * height * 4;
            if (std::string refusal = pictureLimitRefusal({width, height, held}); !refusal.empty())
                return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
            if (width <= 0 || height <= 0)
                return damaged("no picture size in the file's header");
            if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
                return {StreamStatus::Aborted, {}};
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t bytes = 0;
            if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &bytes) != JXL_DEC_SUCCESS
                || bytes != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * format.num_channels)
                return damaged("libjxl: an unexpected picture buffer");
            buffers.pixels.resize(bytes);
            if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, buffers.pixels.data(), bytes) != JXL_DEC_SUCCESS)
                return damaged("libjxl: the picture buffer was refused");
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            done = true; // the first frame: an animation's others are not read
            break;
        case JXL_DEC_NEED_MORE_INPUT:
            return damaged("file ends early");
        case JXL_DEC_SUCCESS:
            return damaged("libjxl: no picture in the file");
        default:
            return damaged("libjxl: damaged data");
        }
    }
    std::vector<uint8_t>().swap(buffers.input);
    if (sink.begin(width, height)) {
        buffers.bgr.resize(static_cast<std::size_t>(width) * 3);
        for (int32_t y = 0; y < height; ++y) {
            if (!sink.wantsRow(y))
                continue;
            rowToBgr(buffers.pixels.data()
                         + static_cast<std::size_t>(width) * format.num_channels * static_cast<std::size_t>(y),
                     buffers.bgr.data(), width, format.num_channels);
            sink.row(y, buffers.bgr.data());
        }
    }
    std::vector<uint8_t>().swap(buffers.pixels);
    return result;
}

LoadedPicture decodeJxlFile(const std::string& path)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    JxlBuffers buffers;
    return sink.take(streamJxlFile(file, sink, StreamOptions {}, buffers));
}
