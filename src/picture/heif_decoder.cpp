#include "picture/heif_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <libheif/heif.h>

#include "picture/iso_boxes.h"
#include "picture/picture_limits.h"
#include "picture/whole_picture_sink.h"

namespace {

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

// Reads the whole file into `into`; false with file's failure set when it
// cannot.
bool readWhole(PictureFile& file, std::vector<uint8_t>& into)
{
    into.resize(static_cast<std::size_t>(file.size()));
    std::size_t done = 0;
    while (done < into.size()) {
        const int64_t got = file.read(into.data() + done, into.size() - done);
        if (got < 0) {
            file.fail(LoadFailure::SystemError, std::strerror(errno), errno);
            return false;
        }
        if (got == 0) {
            into.resize(done); // shorter than it was: what it holds now
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

StreamResult heifFailure(const heif_error& error)
{
    const bool memory = error.code == heif_error_Memory_allocation_error
                        || error.subcode == heif_suberror_Security_limit_exceeded;
    return {StreamStatus::Failed, std::string("libheif: ") + (error.message != nullptr ? error.message : "error"),
            memory ? LoadFailure::TooLarge : LoadFailure::Damaged};
}

// The file read into a libheif context and its primary picture's handle.
struct Opened {
    std::unique_ptr<heif_context, ContextFree> context;
    std::unique_ptr<heif_image_handle, HandleRelease> handle;
};

StreamResult open(PictureFile& file, std::vector<uint8_t>& input, Opened& opened)
{
    // libheif reads from memory: the file is held whole while it is decoded.
    if (file.size() > kPictureMemoryBudget)
        return {StreamStatus::Failed, "picture too large (the file is larger than " +
                                          std::to_string(kPictureMemoryBudget >> 20) + " MB)",
                LoadFailure::TooLarge};
    if (!readWhole(file, input))
        return file.failed();
    opened.context.reset(heif_context_alloc());
    // The tiles of a grid are decoded in this thread: the search runs a
    // decode on each worker already.
    heif_context_set_max_decoding_threads(opened.context.get(), 0);
    heif_error error = heif_context_read_from_memory_without_copy(opened.context.get(), input.data(), input.size(), nullptr);
    if (error.code != heif_error_Ok)
        return heifFailure(error);
    heif_image_handle* handle = nullptr;
    error = heif_context_get_primary_image_handle(opened.context.get(), &handle);
    if (error.code != heif_error_Ok)
        return heifFailure(error);
    opened.handle.reset(handle);
    return {};
}

// One row of R, G, B(, A) as B, G, R, alpha laid over white, rounded.
void rowToBgr(const uint8_t* in, uint8_t* out, int32_t width, bool alpha)
{
    if (!alpha) {
        for (int32_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* pixel = in + 4 * static_cast<std::size_t>(x);
        const int a = pixel[3];
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = static_cast<uint8_t>((pixel[2 - c] * a + 255 * (255 - a) + 127) / 255);
    }
}

constexpr int kMaxTopLevelBoxes = 1000;

// Where the file's coded data lies: the contents of its top-level 'mdat'
// boxes, found from the boxes' headers alone. Coded data cut short counts
// as its box says, so that a truncated file's size is read as a JPEG's is.
// False when a header cannot be read or makes no sense.
bool findCodedData(PictureFile& file, std::vector<std::pair<int64_t, int64_t>>& data, int64_t& bytesRead)
{
    int64_t position = 0;
    for (int boxes = 0; file.size() - position >= 8; ++boxes) {
        // A HEIF file has a handful of top-level boxes; thousands are no picture.
        if (boxes == kMaxTopLevelBoxes)
            return false;
        IsoBox box;
        if (!readIsoBox(file.fd(), file.size(), position, box, bytesRead))
            return false;
        if (box.is("mdat"))
            data.emplace_back(box.contents, static_cast<int64_t>(box.end()));
        if (box.end() >= static_cast<uint64_t>(file.size()))
            break;
        position = static_cast<int64_t>(box.end());
    }
    return true;
}

// libheif's reader of a file for its boxes alone: the coded data reads as
// zeros and is never read from the disk (libheif 1.15 takes it into memory
// while parsing the boxes, though only a decode looks at it).
struct BoxReader {
    int fd;
    int64_t size; // the file's, or further where coded data is cut short
    std::vector<std::pair<int64_t, int64_t>> data;
    int64_t position = 0;
    int64_t bytesRead = 0;
};

int64_t readerPosition(void* user)
{
    return static_cast<BoxReader*>(user)->position;
}

int readerRead(void* out, std::size_t count, void* user)
{
    auto* reader = static_cast<BoxReader*>(user);
    auto* bytes = static_cast<uint8_t*>(out);
    const int64_t end = reader->position + static_cast<int64_t>(count);
    if (end > reader->size)
        return 1;
    int64_t at = reader->position;
    while (at < end) {
        int64_t pieceEnd = end;
        bool coded = false;
        for (const auto& [first, last] : reader->data) {
            if (at >= first && at < last) {
                coded = true;
                pieceEnd = std::min(end, last);
                break;
            }
            if (first > at)
                pieceEnd = std::min(pieceEnd, first);
        }
        const auto length = static_cast<std::size_t>(pieceEnd - at);
        if (coded) {
            std::memset(bytes + (at - reader->position), 0, length);
        } else {
            if (!readFileAt(reader->fd, at, bytes + (at - reader->position), length))
                return 1;
            reader->bytesRead += static_cast<int64_t>(length);
        }
        at = pieceEnd;
    }
    reader->position = end;
    return 0;
}

int readerSeek(int64_t position, void* user)
{
    auto* reader = static_cast<BoxReader*>(user);
    if (position < 0 || position > reader->size)
        return 1;
    reader->position = position;
    return 0;
}

heif_reader_grow_status readerWait(int64_t target, void* user)
{
    return target <= static_cast<BoxReader*>(user)->size ? heif_reader_grow_status_size_reached
                                                           : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader kBoxReader {1, readerPosition, readerRead, readerSeek, readerWait};

} // namespace

bool readHeifSides(PictureFile& file, int32_t* width, int32_t* height, int64_t* bytesRead)
{
    BoxReader reader {file.fd(), file.size(), {}};
    const bool found = findCodedData(file, reader.data, reader.bytesRead);
    for (const auto& range : reader.data)
        reader.size = std::max(reader.size, range.second);
    // libheif holds what it parses, the coded data too: as much as a decode
    // would hold of the file.
    const bool fits = reader.size <= kPictureMemoryBudget;
    heif_image_handle* handle = nullptr;
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    const bool ok = found && fits
                    && heif_context_read_from_reader(context.get(), &kBoxReader, &reader, nullptr).code == heif_error_Ok
                    && heif_context_get_primary_image_handle(context.get(), &handle).code == heif_error_Ok;
    std::unique_ptr<heif_image_handle, HandleRelease> held(handle);
    if (bytesRead != nullptr)
        *bytesRead = reader.bytesRead;
    if (!ok)
        return false;
    *width = heif_image_handle_get_width(handle);
    *height = heif_image_handle_get_height(handle);
    return true;
}

StreamResult streamHeifFile(PictureFile& file, RowSink& sink, const StreamOptions& options, HeifBuffers& buffers)
{
    Opened opened;
    StreamResult result = open(file, buffers.input, opened);
    if (result.ok()) {
        const int32_t width = heif_image_handle_get_width(opened.handle.get());
        const int32_t height = heif_image_handle_get_height(opened.handle.get());
        const bool alpha = heif_image_handle_has_alpha_channel(opened.handle.get()) != 0;
        // The file, the decoder's planes (up to 16 bits a sample, three of
        // them and alpha) and the converted picture, held at once.
        const int64_t pixels = int64_t {width} * height;
        const int64_t held = static_cast<int64_t>(buffers.input.size()) + pixels * (alpha ? 8 : 6) + pixels * (alpha ? 4 : 3);
        if (std::string refusal = pictureLimitRefusal({width, height, held}); !refusal.empty())
            result = {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
        else if (width <= 0 || height <= 0)
            result = {StreamStatus::Failed, "no picture size in the file", LoadFailure::Damaged};
        else if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
            result = {StreamStatus::Aborted, {}};
        else
            result = [&]() -> StreamResult {
                heif_image* decoded = nullptr;
                const heif_error error =
                    heif_decode_image(opened.handle.get(), &decoded, heif_colorspace_RGB,
                                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
                std::unique_ptr<heif_image, ImageRelease> image(decoded);
                if (error.code != heif_error_Ok)
                    return heifFailure(error);
                int stride = 0;
                const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
                if (plane == nullptr || heif_image_get_width(image.get(), heif_channel_interleaved) != width
                    || heif_image_get_height(image.get(), heif_channel_interleaved) != height)
                    return {StreamStatus::Failed, "libheif gave no picture of the size it read", LoadFailure::Damaged};
                if (!sink.begin(width, height))
                    return {};
                buffers.bgr.resize(static_cast<std::size_t>(width) * 3);
                for (int32_t y = 0; y < height; ++y) {
                    if (!sink.wantsRow(y))
                        continue;
                    rowToBgr(plane + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y), buffers.bgr.data(),
                             width, alpha);
                    sink.row(y, buffers.bgr.data());
                }
                return {};
            }();
    }
    // The file goes with this picture: the next one need not hold it.
    opened = Opened {};
    std::vector<uint8_t>().swap(buffers.input);
    return result;
}

LoadedPicture decodeHeifFile(const std::string& path)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    HeifBuffers buffers;
    return sink.take(streamHeifFile(file, sink, StreamOptions {}, buffers));
}
