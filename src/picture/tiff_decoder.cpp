#include "picture/tiff_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

#include <tiffio.h>

#include "picture/picture_limits.h"
#include "picture/whole_picture_sink.h"

namespace {

// Rows decoded at a time through the RGBA interface.
constexpr int32_t kBandRows = 64;

const uint8_t kLittleEndian[] = {'I', 'I'};
const uint8_t kBigEndian[] = {'M', 'M'};

// libtiff's handle on the file: reads at a position of its own, so that
// nothing else moves it.
struct TiffSource {
    int fd;
    int64_t size;
    int64_t position;
    int systemError;
    char message[256];
};

extern "C" tmsize_t readTiff(thandle_t handle, void* out, tmsize_t count)
{
    auto* source = static_cast<TiffSource*>(handle);
    tmsize_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(source->fd, static_cast<char*>(out) + done, static_cast<std::size_t>(count - done),
                                    source->position + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            source->systemError = errno;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    source->position += done;
    return done;
}

extern "C" tmsize_t writeTiff(thandle_t, void*, tmsize_t)
{
    return 0;
}

extern "C" toff_t seekTiff(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<TiffSource*>(handle);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source->position : source->size;
    source->position = base + static_cast<int64_t>(offset);
    return static_cast<toff_t>(source->position);
}

extern "C" int closeTiff(thandle_t)
{
    return 0;
}

extern "C" toff_t sizeTiff(thandle_t handle)
{
    return static_cast<toff_t>(static_cast<TiffSource*>(handle)->size);
}

extern "C" int mapTiff(thandle_t, void**, toff_t*)
{
    return 0;
}

extern "C" void unmapTiff(thandle_t, void*, toff_t) {}

// The first error of a file is its failure; libtiff prints nothing.
extern "C" int onTiffError(TIFF*, void* user, const char* module, const char* format, va_list arguments)
{
    auto* source = static_cast<TiffSource*>(user);
    if (source->message[0] == '\0') {
        char text[200];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::snprintf(source->message, sizeof source->message, "libtiff: %s%s%s", module ? module : "",
                      module ? ": " : "", text);
    }
    return 1;
}

// Warnings (unknown tags, odd values) are no failure.
extern "C" int onTiffWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct ImageEnd {
    void operator()(TIFFRGBAImage* image) const { TIFFRGBAImageEnd(image); }
};

// One pixel of libtiff's RGBA (alpha premultiplied) laid over white.
void bandRowToBgr(const uint32_t* in, uint8_t* out, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t pixel = in[x];
        const int background = 255 - static_cast<int>(TIFFGetA(pixel));
        out[3 * x] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetB(pixel)) + background));
        out[3 * x + 1] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetG(pixel)) + background));
        out[3 * x + 2] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetR(pixel)) + background));
    }
}

StreamResult tiffFailure(const TiffSource& source, const char* fallback)
{
    if (source.systemError != 0)
        return {StreamStatus::Failed, std::strerror(source.systemError), LoadFailure::SystemError, source.systemError};
    return {StreamStatus::Failed, source.message[0] != '\0' ? source.message : fallback, LoadFailure::Damaged};
}

// Whether the picture's rows are already what the engines take, but for the
// order of R, G, B: 8-bit RGB or grey in strips, one sample a channel, no
// alpha, top row first. These are read row by row as the file holds them,
// which costs a third of libtiff's RGBA interface (it builds 32-bit pixels
// a band at a time) and lets a strip no wanted row lies in go unread.
bool plainRows(TIFF* tiff)
{
    uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, orientation = 0, format = 0, extra = 0;
    uint16_t* extraKinds = nullptr;
    if (TIFFIsTiled(tiff) || TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        return false;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra, &extraKinds);
    const bool rgb = photometric == PHOTOMETRIC_RGB && samples == 3;
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK && samples == 1;
    return (rgb || grey) && bits == 8 && planar == PLANARCONFIG_CONTIG && orientation == ORIENTATION_TOPLEFT
           && format == SAMPLEFORMAT_UINT && extra == 0;
}

StreamResult streamPlainRows(TIFF* tiff, const TiffSource& source, RowSink& sink, const StreamOptions& options,
                             TiffBuffers& buffers)
{
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samples = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    if (static_cast<int64_t>(TIFFScanlineSize64(tiff)) != int64_t {w} * samples)
        return {StreamStatus::Failed, "libtiff: unexpected row size", LoadFailure::Damaged};
    buffers.scanline.resize(static_cast<std::size_t>(w) * samples);
    buffers.bgr.resize(static_cast<std::size_t>(w) * 3);
    if (!sink.begin(w, h))
        return {};
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const int32_t stripRows = static_cast<int32_t>(std::clamp<uint32_t>(rowsPerStrip, 1, height));
    const bool whole = sink.needsWholeFile();
    bool stripWanted = true;
    for (int32_t y = 0; y < h; ++y) {
        if (y % kBandRows == 0 && options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
            return {StreamStatus::Aborted, {}};
        if (y % stripRows == 0) {
            // Most compressions cannot skip rows within a strip: a strip is
            // read whole or not at all.
            stripWanted = whole;
            for (int32_t i = y; i < std::min(h, y + stripRows) && !stripWanted; ++i)
                stripWanted = sink.wantsRow(i);
        }
        if (!stripWanted)
            continue;
        if (TIFFReadScanline(tiff, buffers.scanline.data(), static_cast<uint32_t>(y), 0) != 1)
            return tiffFailure(source, "damaged TIFF data");
        if (!sink.wantsRow(y))
            continue;
        const uint8_t* in = buffers.scanline.data();
        uint8_t* out = buffers.bgr.data();
        if (samples == 3) {
            for (int32_t x = 0; x < w; ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
        } else {
            for (int32_t x = 0; x < w; ++x)
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
        }
        sink.row(y, out);
    }
    return {};
}

} // namespace

namespace {

// Opens the file through libtiff with the limits and quiet handlers; null
// with source->message set when libtiff cannot read it.
std::unique_ptr<TIFF, TiffCloser> openTiff(TiffSource* source, const std::string& path)
{
    std::unique_ptr<TIFFOpenOptions, OptionsFree> openOptions(TIFFOpenOptionsAlloc());
    // libtiff's own refusal of any one allocation beyond the budget, behind
    // the claim the decode checks.
    TIFFOpenOptionsSetMaxSingleMemAlloc(openOptions.get(), kPictureMemoryBudget);
    TIFFOpenOptionsSetErrorHandlerExtR(openOptions.get(), onTiffError, source);
    TIFFOpenOptionsSetWarningHandlerExtR(openOptions.get(), onTiffWarning, source);
    return std::unique_ptr<TIFF, TiffCloser>(TIFFClientOpenExt(path.c_str(), "rm", source, readTiff, writeTiff,
                                                               seekTiff, closeTiff, sizeTiff, mapTiff, unmapTiff,
                                                               openOptions.get()));
}

} // namespace

bool readTiffSides(int fd, int64_t fileBytes, const std::string& path, uint32_t* width, uint32_t* height)
{
    TiffSource source {fd, fileBytes, 0, 0, {}};
    std::unique_ptr<TIFF, TiffCloser> tiff = openTiff(&source, path);
    return tiff && TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, width) == 1
           && TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, height) == 1;
}

StreamResult streamTiffFile(PictureFile& file, RowSink& sink, const StreamOptions& options, TiffBuffers& buffers)
{
    if (!file.startsWith(kLittleEndian, sizeof kLittleEndian) && !file.startsWith(kBigEndian, sizeof kBigEndian))
        return file.failed();
    TiffSource source {file.fd(), file.size(), 0, 0, {}};
    std::unique_ptr<TIFF, TiffCloser> tiff = openTiff(&source, file.path());
    if (!tiff)
        return tiffFailure(source, "not a TIFF picture");
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    const int64_t chunk = TIFFIsTiled(tiff.get()) ? static_cast<int64_t>(TIFFTileSize64(tiff.get()))
                                                  : static_cast<int64_t>(TIFFStripSize64(tiff.get()));
    const int64_t held = chunk + int64_t {width} * kBandRows * 4 + int64_t {width} * 3;
    if (std::string refusal = pictureLimitRefusal({width, height, held}); !refusal.empty())
        return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    if (width == 0 || height == 0)
        return {StreamStatus::Failed, "no picture size in the file's header", LoadFailure::Damaged};
    if (plainRows(tiff.get()))
        return streamPlainRows(tiff.get(), source, sink, options, buffers);
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tiff.get(), why))
        return {StreamStatus::Failed, std::string("libtiff: ") + why, LoadFailure::Damaged};
    TIFFRGBAImage image {};
    if (!TIFFRGBAImageBegin(&image, tiff.get(), 0, why))
        return tiffFailure(source, why);
    std::unique_ptr<TIFFRGBAImage, ImageEnd> ender(&image);
    // libtiff flips only within the band it is asked for: the rows are
    // taken in the file's order and the Orientation tag's flips made here.
    const uint16_t orientation = image.orientation;
    image.req_orientation = orientation;
    const bool upsideDown = orientation == ORIENTATION_BOTLEFT || orientation == ORIENTATION_BOTRIGHT
                            || orientation == ORIENTATION_LEFTBOT || orientation == ORIENTATION_RIGHTBOT;
    const bool mirrored = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT
                          || orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_RIGHTBOT;
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    buffers.band.resize(static_cast<std::size_t>(w) * kBandRows);
    buffers.bgr.resize(static_cast<std::size_t>(w) * 3);
    if (!sink.begin(w, h))
        return {};
    const bool whole = sink.needsWholeFile();
    for (int32_t top = 0; top < h; top += kBandRows) {
        if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
            return {StreamStatus::Aborted, {}};
        const int32_t rows = std::min(kBandRows, h - top);
        bool wanted = false;
        for (int32_t y = top; y < top + rows && !wanted; ++y)
            wanted = sink.wantsRow(y);
        if (!wanted && !whole)
            continue;
        // The file's rows of this band: the same rows, or those at the
        // other end of an upside-down picture.
        const int32_t fileTop = upsideDown ? h - top - rows : top;
        image.row_offset = fileTop;
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, buffers.band.data(), width, static_cast<uint32_t>(rows)))
            return tiffFailure(source, "damaged TIFF data");
        for (int32_t i = 0; i < rows; ++i) {
            if (!sink.wantsRow(top + i))
                continue;
            const int32_t bandRow = upsideDown ? rows - 1 - i : i;
            uint32_t* pixels = buffers.band.data() + static_cast<std::size_t>(w) * static_cast<std::size_t>(bandRow);
            if (mirrored)
                std::reverse(pixels, pixels + w);
            bandRowToBgr(pixels, buffers.bgr.data(), w);
            sink.row(top + i, buffers.bgr.data());
        }
    }
    return {};
}

LoadedPicture decodeTiffFile(const std::string& path)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    TiffBuffers buffers;
    return sink.take(streamTiffFile(file, sink, StreamOptions {}, buffers));
}
