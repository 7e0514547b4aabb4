#include "picture/png_decoder.h"

// libpng's error handling longjmps out of the library. Everything that uses
// setjmp stays in this file, and no object with a destructor is alive between
// a setjmp and its possible longjmp: the phases below take plain pointers to
// buffers that their callers own.

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "common/log_categories.h"
#include "picture/picture_limits.h"
#include "picture/whole_picture_sink.h"

namespace {

// Ancillary chunks larger than this are refused by libpng, so that a header
// cannot make it allocate much before the picture's size is checked.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t {8} << 20;
// How many rows are read between two looks at the abort flag.
constexpr int32_t kRowsBetweenAbortChecks = 64;

enum class Stop { None, Error, ReadError, Aborted };

struct PngState {
    PictureFile* file;
    char message[256];
    Stop stop;
    int systemError;
    bool warned;
};

PngState* stateOf(png_structp png)
{
    return static_cast<PngState*>(png_get_error_ptr(png));
}

extern "C" void onPngError(png_structp png, png_const_charp message)
{
    PngState* state = stateOf(png);
    if (state->stop == Stop::None) {
        state->stop = Stop::Error;
        std::snprintf(state->message, sizeof state->message, "%s", message);
    }
    png_longjmp(png, 1);
}

extern "C" void onPngWarning(png_structp png, png_const_charp message)
{
    // A warning (a damaged ancillary chunk) is no failure; the first of a
    // file is worth a log line.
    PngState* state = stateOf(png);
    if (state->warned)
        return;
    state->warned = true;
    qCWarning(zelvicPicture, "%s: libpng warning: %s", state->file->path().c_str(), message);
}

extern "C" void readPngData(png_structp png, png_bytep out, std::size_t count)
{
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    std::size_t done = 0;
    while (done < count) {
        const int64_t got = state->file->read(out + done, count - done);
        if (got < 0) {
            state->stop = Stop::ReadError;
            state->systemError = errno;
            std::snprintf(state->message, sizeof state->message, "%s", std::strerror(errno));
            png_longjmp(png, 1);
        }
        if (got == 0)
            png_error(png, "file ends early");
        done += static_cast<std::size_t>(got);
    }
}

struct Layout {
    int32_t width;
    int32_t height;
    bool interlaced;
    std::size_t fileRowBytes; // a row as the file stores it
    int channels;             // after the transforms: 3 (B, G, R) or 4 (and alpha)
    std::size_t rowBytes;     // a row after the transforms
};

// Phase 1: the header's chunks, up to the pixel data.
bool readHeader(png_structp png, png_infop info, Layout* layout)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colour = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    layout->width = static_cast<int32_t>(width);
    layout->height = static_cast<int32_t>(height);
    layout->interlaced = interlace != PNG_INTERLACE_NONE;
    layout->fileRowBytes = png_get_rowbytes(png, info);
    return true;
}

// Phase 1a, once the claim is within the limits: the transforms to 8-bit
// B, G, R (and alpha). libpng allocates its row buffers here.
bool startRows(png_structp png, png_infop info, Layout* layout)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_expand(png);   // palette to colour, grey below 8 bits to 8, tRNS to alpha
    png_set_scale_16(png); // rounds, where png_set_strip_16 would cut
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (layout->interlaced)
        png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->channels = png_get_channels(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    return true;
}

// Phase 2, interlaced: every pass into the whole picture.
bool readWhole(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

// One row as B, G, R: alpha laid over white, rounded.
void toBgr(const uint8_t* in, uint8_t* out, int32_t width, int channels)
{
    if (channels == 3) {
        std::memcpy(out, in, static_cast<std::size_t>(width) * 3);
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        const int alpha = in[4 * x + 3];
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = static_cast<uint8_t>((in[4 * x + c] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
}

// Phase 2, not interlaced: row after row, the wanted ones to the sink.
bool readRows(png_structp png, const Layout* layout, uint8_t* row, uint8_t* bgr, RowSink* sink,
              const std::atomic<bool>* abortFlag)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const bool whole = sink->needsWholeFile();
    int32_t lastWanted = -1;
    for (int32_t y = 0; y < layout->height; ++y) {
        if (sink->wantsRow(y))
            lastWanted = y;
    }
    const int32_t end = whole ? layout->height : lastWanted + 1;
    for (int32_t y = 0; y < end; ++y) {
        if (abortFlag != nullptr && y % kRowsBetweenAbortChecks == 0 && abortFlag->load(std::memory_order_relaxed)) {
            stateOf(png)->stop = Stop::Aborted;
            return false;
        }
        png_read_row(png, row, nullptr);
        if (sink->wantsRow(y)) {
            toBgr(row, bgr, layout->width, layout->channels);
            sink->row(y, bgr);
        }
    }
    return true;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

StreamResult failureOf(const PngState& state)
{
    switch (state.stop) {
    case Stop::Aborted:
        return {StreamStatus::Aborted, {}};
    case Stop::ReadError:
        return {StreamStatus::Failed, state.message, LoadFailure::SystemError, state.systemError};
    default:
        return {StreamStatus::Failed, state.message, LoadFailure::Damaged};
    }
}

const uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

} // namespace

StreamResult streamPngFile(PictureFile& file, RowSink& sink, const StreamOptions& options, PngBuffers& buffers)
{
    if (!file.startsWith(kPngSignature, sizeof kPngSignature))
        return file.failed();
    PngState state {};
    state.file = &file;
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onPngError, onPngWarning);
    if (reader.png == nullptr)
        return {StreamStatus::Failed, "out of memory", LoadFailure::TooLarge};
    reader.info = png_create_info_struct(reader.png);
    if (reader.info == nullptr)
        return {StreamStatus::Failed, "out of memory", LoadFailure::TooLarge};
    png_set_read_fn(reader.png, &state, readPngData);
    png_set_chunk_malloc_max(reader.png, kMaxChunkBytes);
    // libpng's own limit on the sides (a million) would refuse a long strip
    // that is within ours: the picture's limits decide, after the header.
    png_set_user_limits(reader.png, 0x7FFFFFFF, 0x7FFFFFFF);

    Layout layout {};
    if (!readHeader(reader.png, reader.info, &layout))
        return failureOf(state);
    // Before any row is allocated: libpng's two rows (this and the last, at
    // most 8 bytes a pixel before the transforms), a row after them and as
    // the sink takes it, and an interlaced file's whole picture.
    const int64_t width = layout.width;
    const int64_t libpngRow = std::max<int64_t>(static_cast<int64_t>(layout.fileRowBytes), width * 8);
    const int64_t whole = (width * 4 + static_cast<int64_t>(sizeof(png_bytep))) * layout.height;
    const int64_t held = 2 * libpngRow + width * 4 + width * 3 + (layout.interlaced ? whole : 0);
    if (std::string refusal = pictureLimitRefusal({layout.width, layout.height, held}); !refusal.empty())
        return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    if (layout.width <= 0 || layout.height <= 0)
        return {StreamStatus::Failed, "no picture size in the file's header", LoadFailure::Damaged};
    if (!startRows(reader.png, reader.info, &layout))
        return failureOf(state);
    if (layout.channels != 3 && layout.channels != 4)
        return {StreamStatus::Failed, "unexpected PNG layout", LoadFailure::Damaged};
    if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
        return {StreamStatus::Aborted, {}};

    buffers.bgr.resize(static_cast<std::size_t>(layout.width) * 3);
    if (!sink.begin(layout.width, layout.height))
        return {};
    if (!layout.interlaced) {
        buffers.rows.resize(layout.rowBytes);
        if (!readRows(reader.png, &layout, buffers.rows.data(), buffers.bgr.data(), &sink, options.abortFlag))
            return failureOf(state);
        return {};
    }
    buffers.rows.resize(layout.rowBytes * static_cast<std::size_t>(layout.height));
    std::vector<png_bytep> rows(static_cast<std::size_t>(layout.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = buffers.rows.data() + y * layout.rowBytes;
    if (!readWhole(reader.png, rows.data()))
        return failureOf(state);
    for (int32_t y = 0; y < layout.height; ++y) {
        if (!sink.wantsRow(y))
            continue;
        toBgr(rows[static_cast<std::size_t>(y)], buffers.bgr.data(), layout.width, layout.channels);
        sink.row(y, buffers.bgr.data());
    }
    // The whole picture goes: the next file need not hold it.
    std::vector<uint8_t>().swap(buffers.rows);
    return {};
}

LoadedPicture decodePngFile(const std::string& path)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    PngBuffers buffers;
    return sink.take(streamPngFile(file, sink, StreamOptions {}, buffers));
}
