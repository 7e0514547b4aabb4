#include "picture/gif_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <gif_lib.h>

#include "picture/picture_limits.h"
#include "picture/whole_picture_sink.h"

namespace {

// How many rows are read between two looks at the abort flag.
constexpr int32_t kRowsBetweenAbortChecks = 64;
constexpr int kTransparentNone = -1;

const uint8_t kGifSignature[] = {'G', 'I', 'F', '8'};

struct ReadState {
    PictureFile* file;
    int systemError;
};

extern "C" int readGifData(GifFileType* gif, GifByteType* out, int count)
{
    auto* state = static_cast<ReadState*>(gif->UserData);
    int done = 0;
    while (done < count) {
        const int64_t got = state->file->read(out + done, static_cast<std::size_t>(count - done));
        if (got < 0)
            state->systemError = errno;
        if (got <= 0)
            break;
        done += static_cast<int>(got);
    }
    return done;
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

StreamResult gifFailure(const GifFileType* gif, const ReadState& state)
{
    if (state.systemError != 0)
        return {StreamStatus::Failed, std::strerror(state.systemError), LoadFailure::SystemError, state.systemError};
    const int code = gif != nullptr ? gif->Error : D_GIF_ERR_READ_FAILED;
    if (code == D_GIF_ERR_NOT_ENOUGH_MEM)
        return {StreamStatus::Failed, "picture too large (giflib: out of memory)", LoadFailure::TooLarge};
    const char* text = GifErrorString(code);
    return {StreamStatus::Failed, std::string("giflib: ") + (text != nullptr ? text : "damaged data"),
            LoadFailure::Damaged};
}

// Reads records up to the first frame's descriptor; the transparent colour
// of the graphic control extension before it, if any.
bool findFirstFrame(GifFileType* gif, int* transparent)
{
    *transparent = kTransparentNone;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return false;
        if (type == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) != GIF_ERROR;
        if (type == TERMINATE_RECORD_TYPE) {
            gif->Error = D_GIF_ERR_NO_IMAG_DSCR;
            return false;
        }
        if (type != EXTENSION_RECORD_TYPE) {
            gif->Error = D_GIF_ERR_WRONG_RECORD;
            return false;
        }
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
            GraphicsControlBlock control {};
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                *transparent = control.TransparentColor;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                return false;
        }
    }
}

// The frame's row of colour indices as the screen's row: colours from the
// table (an index past it black), the transparent colour and the screen
// outside the frame white.
void paintRow(const uint8_t* indices, const ColorMapObject* colours, int transparent, int32_t left, int32_t count,
              uint8_t* bgr, int32_t width)
{
    std::memset(bgr, 0xFF, static_cast<std::size_t>(width) * 3);
    for (int32_t i = 0; i < count; ++i) {
        const int index = indices[i];
        uint8_t* out = bgr + 3 * static_cast<std::size_t>(left + i);
        if (index == transparent)
            continue;
        if (index >= colours->ColorCount) {
            out[0] = out[1] = out[2] = 0;
            continue;
        }
        const GifColorType& colour = colours->Colors[index];
        out[0] = colour.Blue;
        out[1] = colour.Green;
        out[2] = colour.Red;
    }
}

// Where the GIF interlace puts the n-th row read of a frame of `height` rows.
int32_t interlacedRow(int32_t n, int32_t height)
{
    const int32_t pass1 = (height + 7) / 8;
    const int32_t pass2 = (height + 3) / 8;
    const int32_t pass3 = (height + 1) / 4;
    if (n < pass1)
        return n * 8;
    n -= pass1;
    if (n < pass2)
        return 4 + n * 8;
    n -= pass2;
    if (n < pass3)
        return 2 + n * 4;
    n -= pass3;
    return 1 + n * 2;
}

} // namespace

StreamResult streamGifFile(PictureFile& file, RowSink& sink, const StreamOptions& options, GifBuffers& buffers)
{
    if (!file.startsWith(kGifSignature, sizeof kGifSignature))
        return file.failed();
    ReadState state {&file, 0};
    int openError = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&state, readGifData, &openError));
    if (!gif) {
        if (state.systemError != 0)
            return gifFailure(nullptr, state);
        const char* text = GifErrorString(openError);
        return {StreamStatus::Failed, std::string("giflib: ") + (text != nullptr ? text : "damaged data"),
                LoadFailure::Damaged};
    }
    const int32_t width = gif->SWidth;
    const int32_t height = gif->SHeight;
    if (std::string refusal = pictureLimitRefusal({width, height, int64_t {width} * 4}); !refusal.empty())
        return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    if (width <= 0 || height <= 0)
        return {StreamStatus::Failed, "no picture size in the file's header", LoadFailure::Damaged};
    int transparent = kTransparentNone;
    if (!findFirstFrame(gif.get(), &transparent))
        return gifFailure(gif.get(), state);
    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr)
        return {StreamStatus::Failed, "a GIF frame without colours", LoadFailure::Damaged};
    // The frame as the file stores it, and the part of it on the screen.
    const int32_t frameWidth = frame.Width;
    const int32_t frameHeight = frame.Height;
    const int32_t left = std::min(frame.Left, width);
    const int32_t top = std::min(frame.Top, height);
    const int32_t shownWidth = std::clamp(frameWidth, 0, width - left);
    const int32_t shownHeight = std::clamp(frameHeight, 0, height - top);
    if (frameWidth <= 0 || frameHeight <= 0)
        return {StreamStatus::Failed, "a GIF frame without pixels", LoadFailure::Damaged};
    // The screen outside the frame costs rows without any data: a screen
    // mostly outside it is refused as a picture mostly missing.
    PictureClaim claim {width, height, 0, int64_t {shownWidth} * shownHeight};
    const int64_t frameBytes = int64_t {frameWidth} * (frame.Interlace ? frameHeight : 1);
    claim.heldBytes = frameBytes + int64_t {width} * 3;
    if (std::string refusal = pictureLimitRefusal(claim); !refusal.empty())
        return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    const auto aborted = [&options] {
        return options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed);
    };
    if (aborted())
        return {StreamStatus::Aborted, {}};

    buffers.bgr.resize(static_cast<std::size_t>(width) * 3);
    buffers.indices.resize(static_cast<std::size_t>(frameBytes));
    if (!sink.begin(width, height))
        return {};
    if (frame.Interlace) {
        for (int32_t n = 0; n < frameHeight; ++n) {
            if (n % kRowsBetweenAbortChecks == 0 && aborted())
                return {StreamStatus::Aborted, {}};
            uint8_t* row = buffers.indices.data() + static_cast<std::size_t>(frameWidth) * interlacedRow(n, frameHeight);
            if (DGifGetLine(gif.get(), row, frameWidth) == GIF_ERROR)
                return gifFailure(gif.get(), state);
        }
    }
    int32_t lastWanted = -1;
    for (int32_t y = 0; y < height; ++y) {
        if (sink.wantsRow(y))
            lastWanted = y;
    }
    // The rows after the last wanted one are read too when the sink wants
    // the whole file checked, as a whole decode reads them.
    const bool whole = sink.needsWholeFile();
    const int32_t end = whole ? height : lastWanted + 1;
    for (int32_t y = 0; y < end; ++y) {
        if (y % kRowsBetweenAbortChecks == 0 && aborted())
            return {StreamStatus::Aborted, {}};
        const int32_t inFrame = y - top;
        const bool covered = inFrame >= 0 && inFrame < shownHeight;
        const uint8_t* indices = buffers.indices.data();
        if (covered && frame.Interlace)
            indices += static_cast<std::size_t>(frameWidth) * static_cast<std::size_t>(inFrame);
        else if (covered && DGifGetLine(gif.get(), buffers.indices.data(), frameWidth) == GIF_ERROR)
            return gifFailure(gif.get(), state);
        if (sink.wantsRow(y)) {
            paintRow(indices, colours, transparent, left, covered ? shownWidth : 0, buffers.bgr.data(), width);
            sink.row(y, buffers.bgr.data());
        }
    }
    // A plain frame's rows below the screen.
    for (int32_t n = shownHeight; whole && !frame.Interlace && n < frameHeight; ++n) {
        if (DGifGetLine(gif.get(), buffers.indices.data(), frameWidth) == GIF_ERROR)
            return gifFailure(gif.get(), state);
    }
    if (frame.Interlace)
        std::vector<uint8_t>().swap(buffers.indices); // the whole frame goes
    return {};
}

LoadedPicture decodeGifFile(const std::string& path)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    GifBuffers buffers;
    return sink.take(streamGifFile(file, sink, StreamOptions {}, buffers));
}
