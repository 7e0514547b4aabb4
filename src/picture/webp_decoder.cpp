#include "picture/webp_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <webp/decode.h>

#include "picture/picture_limits.h"
#include "picture/whole_picture_sink.h"

namespace {

// Enough of the file for WebPGetFeatures to find the picture's size and
// kind: the RIFF header and the first chunks' headers.
constexpr std::size_t kHeaderBytes = 64;

const uint8_t kRiff[] = {'R', 'I', 'F', 'F'};

// One row of B, G, R, A as B, G, R, alpha laid over white, rounded.
void overWhite(const uint8_t* in, uint8_t* out, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        const int alpha = in[4 * x + 3];
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = static_cast<uint8_t>((in[4 * x + c] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
}

// Reads count bytes into out; false with file's failure set when it cannot.
bool readAll(PictureFile& file, uint8_t* out, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const int64_t got = file.read(out + done, count - done);
        if (got < 0) {
            file.fail(LoadFailure::SystemError, std::strerror(errno), errno);
            return false;
        }
        if (got == 0) {
            file.fail(LoadFailure::Damaged, "file ends early");
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

StreamResult streamWebpFile(PictureFile& file, RowSink& sink, const StreamOptions& options, WebpBuffers& buffers)
{
    if (!file.startsWith(kRiff, sizeof kRiff))
        return file.failed();
    // The header first: the size is checked before the file is held.
    uint8_t header[kHeaderBytes];
    const std::size_t headerBytes = static_cast<std::size_t>(std::min<int64_t>(file.size(), kHeaderBytes));
    if (!readAll(file, header, headerBytes))
        return file.failed();
    WebPBitstreamFeatures features {};
    const VP8StatusCode status = WebPGetFeatures(header, headerBytes, &features);
    if (status != VP8_STATUS_OK && status != VP8_STATUS_NOT_ENOUGH_DATA)
        return {StreamStatus::Failed, "not a WebP picture", LoadFailure::Damaged};
    if (status == VP8_STATUS_NOT_ENOUGH_DATA || features.width <= 0 || features.height <= 0)
        return {StreamStatus::Failed, "no picture size in the file's header", LoadFailure::Damaged};
    if (features.has_animation)
        return {StreamStatus::Failed, "an animated WebP, not read", LoadFailure::Damaged};
    const int32_t width = features.width;
    const int32_t height = features.height;
    const int channels = features.has_alpha ? 4 : 3;
    const int64_t pictureBytes = int64_t {width} * height * channels;
    const int64_t held = file.size() + pictureBytes + int64_t {width} * 3;
    if (std::string refusal = pictureLimitRefusal({width, height, held}); !refusal.empty())
        return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
        return {StreamStatus::Aborted, {}};

    buffers.input.resize(static_cast<std::size_t>(file.size()));
    std::memcpy(buffers.input.data(), header, headerBytes);
    if (!readAll(file, buffers.input.data() + headerBytes, buffers.input.size() - headerBytes))
        return file.failed();
    buffers.pixels.resize(static_cast<std::size_t>(pictureBytes));
    const int stride = width * channels;
    const uint8_t* decoded = features.has_alpha
                                 ? WebPDecodeBGRAInto(buffers.input.data(), buffers.input.size(), buffers.pixels.data(),
                                                      buffers.pixels.size(), stride)
                                 : WebPDecodeBGRInto(buffers.input.data(), buffers.input.size(), buffers.pixels.data(),
                                                     buffers.pixels.size(), stride);
    // The file and the picture are let go when this one is done: the next
    // file need not hold them.
    std::vector<uint8_t>().swap(buffers.input);
    StreamResult result;
    if (decoded == nullptr) {
        result = {StreamStatus::Failed, "damaged WebP data", LoadFailure::Damaged};
    } else if (sink.begin(width, height)) {
        buffers.bgr.resize(static_cast<std::size_t>(width) * 3);
        for (int32_t y = 0; y < height; ++y) {
            if (!sink.wantsRow(y))
                continue;
            const uint8_t* row = buffers.pixels.data() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
            if (features.has_alpha) {
                overWhite(row, buffers.bgr.data(), width);
                row = buffers.bgr.data();
            }
            sink.row(y, row);
        }
    }
    std::vector<uint8_t>().swap(buffers.pixels);
    return result;
}

LoadedPicture decodeWebpFile(const std::string& path)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    WebpBuffers buffers;
    return sink.take(streamWebpFile(file, sink, StreamOptions {}, buffers));
}
