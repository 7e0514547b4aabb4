#include "picture/scaled_jpeg.h"

// libjpeg's error handling (jpeg_session's) longjmps out of the library:
// everything that uses setjmp stays in this file, and no object with a
// destructor is alive between a setjmp and its possible longjmp.

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fd_closer.h"
#include "picture/jpeg_decoder.h"
#include "picture/jpeg_session.h"

namespace {

// A stop of libjpeg as a load failure, said as every decoder says it.
void setFailure(const JpegErrorManager& err, LoadedPicture& loaded)
{
    JpegFailure failure = jpegFailureOf(err);
    loaded.failure = failure.failure;
    loaded.error = std::move(failure.error);
    loaded.systemError = failure.systemError;
}

struct Header {
    int32_t fullWidth;
    int32_t fullHeight;
    int32_t width;
    int32_t height;
    bool cmyk;
    bool inverted;
};

bool readHeader(jpeg_decompress_struct* cinfo, JpegErrorManager* err, std::FILE* file, int32_t denominator,
                Header* header)
{
    if (setjmp(err->jump))
        return false;
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    cinfo->scale_num = 1;
    cinfo->scale_denom = static_cast<unsigned int>(denominator);
    cinfo->dct_method = JDCT_ISLOW;
    header->cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    header->inverted = cinfo->saw_Adobe_marker;
    cinfo->out_color_space = header->cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_calc_output_dimensions(cinfo);
    header->fullWidth = static_cast<int32_t>(cinfo->image_width);
    header->fullHeight = static_cast<int32_t>(cinfo->image_height);
    header->width = static_cast<int32_t>(cinfo->output_width);
    header->height = static_cast<int32_t>(cinfo->output_height);
    return true;
}

// Starts decompression, and for a part cuts its columns: *left and *width
// come back widened to block boundaries.
bool startRows(jpeg_decompress_struct* cinfo, JpegErrorManager* err, bool crop, JDIMENSION* left, JDIMENSION* width)
{
    if (setjmp(err->jump))
        return false;
    jpeg_start_decompress(cinfo);
    if (crop && (*left > 0 || *width < cinfo->output_width)) {
        // The upsampler takes the cut edges for picture edges: one block
        // column more on each side keeps the asked columns exact.
        const JDIMENSION block = static_cast<JDIMENSION>(cinfo->max_h_samp_factor * cinfo->min_DCT_scaled_size);
        const JDIMENSION end = std::min(*left + *width + block, cinfo->output_width);
        *left = *left > block ? *left - block : 0;
        *width = end - *left;
        jpeg_crop_scanline(cinfo, left, width);
    }
    *width = cinfo->output_width;
    return true;
}

enum class RowsRead { Done, Failed, Cancelled };

// Rows first to end - 1 into out (stride output_width * 3); CMYK rows pass
// through rowBuffer (output_width * 4) and are converted as the
// whole-picture decoder converts them. A whole picture is finished, a part
// abandoned after its last row.
RowsRead readRows(jpeg_decompress_struct* cinfo, JpegErrorManager* err, JDIMENSION first, JDIMENSION end, uint8_t* out,
                  uint8_t* rowBuffer, bool cmyk, bool inverted, const std::atomic<bool>* cancel)
{
    if (setjmp(err->jump))
        return RowsRead::Failed;
    const std::size_t stride = static_cast<std::size_t>(cinfo->output_width) * 3;
    if (first > 0)
        jpeg_skip_scanlines(cinfo, first);
    while (cinfo->output_scanline < end) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return RowsRead::Cancelled;
        uint8_t* dest = out + stride * (cinfo->output_scanline - first);
        JSAMPROW row = cmyk ? rowBuffer : dest;
        jpeg_read_scanlines(cinfo, &row, 1);
        if (cmyk)
            cmykRowToBgr(rowBuffer, dest, static_cast<int32_t>(cinfo->output_width), inverted);
    }
    if (first == 0 && end == cinfo->output_height)
        jpeg_finish_decompress(cinfo);
    return RowsRead::Done;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// One decode of a whole picture (crop false) or of a part, at 1/denominator.
struct Decode {
    LoadedPicture loaded;
    bool cancelled = false;
    Header header {};
    int32_t left = 0;
    int32_t top = 0;
};

Decode decode(const std::string& path, int32_t denominator, bool crop, int32_t x, int32_t y, int32_t width,
              int32_t height, const std::atomic<bool>* cancel)
{
    Decode out;
    auto fail = [&out](LoadFailure failure, std::string error, int systemError = 0) {
        out.loaded.failure = failure;
        out.loaded.error = std::move(error);
        out.loaded.systemError = systemError;
        return std::move(out);
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return fail(failureOfErrno(error), std::strerror(error), error);
    }
    FdCloser closer(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        return fail(failureOfErrno(error), std::strerror(error), error);
    }
    if (!S_ISREG(st.st_mode))
        return fail(LoadFailure::NotRegular, "not a regular file");
    if (st.st_size == 0)
        return fail(LoadFailure::Empty, "empty file");
    std::unique_ptr<std::FILE, FileCloser> file(::fdopen(fd, "rb"));
    if (!file) {
        const int error = errno;
        return fail(failureOfErrno(error), std::strerror(error), error);
    }
    closer.release(); // the stream closes it now

    // Polls `cancel` while libjpeg reads the scans of a multi-scan file too.
    JpegSession session(path.c_str(), cancel);
    jpeg_decompress_struct& cinfo = session.cinfo;
    JpegErrorManager& err = session.err;

    const auto failed = [&out, &err, &fail] {
        if (err.stop == JpegStop::Aborted) {
            out.cancelled = true;
            return fail(LoadFailure::None, "cancelled");
        }
        setFailure(err, out.loaded);
        return std::move(out);
    };
    if (!readHeader(&cinfo, &err, file.get(), denominator, &out.header))
        return failed();
    if (std::string refusal = pictureLimitRefusal(jpegDecodeClaim(&cinfo, st.st_size)); !refusal.empty())
        return fail(LoadFailure::TooLarge, std::move(refusal));
    const Header& header = out.header;
    JDIMENSION first = 0;
    JDIMENSION end = static_cast<JDIMENSION>(header.height);
    JDIMENSION left = 0;
    JDIMENSION columns = static_cast<JDIMENSION>(header.width);
    if (crop) {
        const int64_t x0 = std::clamp<int64_t>(x, 0, header.width);
        const int64_t y0 = std::clamp<int64_t>(y, 0, header.height);
        const int64_t x1 = std::clamp<int64_t>(int64_t {x} + width, x0, header.width);
        const int64_t y1 = std::clamp<int64_t>(int64_t {y} + height, y0, header.height);
        if (x1 <= x0 || y1 <= y0)
            return fail(LoadFailure::Damaged, "the part lies outside the picture");
        first = static_cast<JDIMENSION>(y0);
        end = static_cast<JDIMENSION>(y1);
        left = static_cast<JDIMENSION>(x0);
        columns = static_cast<JDIMENSION>(x1 - x0);
    }
    if (header.width <= 0 || header.height <= 0)
        return fail(LoadFailure::Damaged, "no picture size in the file's header");
    if (!startRows(&cinfo, &err, crop, &left, &columns))
        return failed();
    Picture picture(static_cast<int32_t>(columns), static_cast<int32_t>(end - first));
    std::unique_ptr<uint8_t[]> rowBuffer;
    if (header.cmyk)
        rowBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<std::size_t>(columns) * 4);
    switch (readRows(&cinfo, &err, first, end, picture.data(), rowBuffer.get(), header.cmyk, header.inverted, cancel)) {
    case RowsRead::Failed:
        return failed();
    case RowsRead::Cancelled:
        out.cancelled = true;
        return fail(LoadFailure::None, "cancelled");
    case RowsRead::Done:
        break;
    }
    out.loaded.picture = std::move(picture);
    out.left = static_cast<int32_t>(left);
    out.top = static_cast<int32_t>(first);
    return out;
}

} // namespace

ScaledJpeg decodeJpegScaled(const std::string& path, int32_t denominator, const std::atomic<bool>* cancel)
{
    denominator = denominator >= 8 ? 8 : denominator >= 4 ? 4 : denominator >= 2 ? 2 : 1;
    Decode decoded = decode(path, denominator, false, 0, 0, 0, 0, cancel);
    ScaledJpeg result;
    result.loaded = std::move(decoded.loaded);
    result.cancelled = decoded.cancelled;
    if (result.loaded.ok()) {
        result.fullWidth = decoded.header.fullWidth;
        result.fullHeight = decoded.header.fullHeight;
    }
    return result;
}

JpegRegion decodeJpegRegion(const std::string& path, int32_t x, int32_t y, int32_t width, int32_t height,
                            const std::atomic<bool>* cancel)
{
    Decode decoded = decode(path, 1, true, x, y, width, height, cancel);
    JpegRegion result;
    result.loaded = std::move(decoded.loaded);
    result.cancelled = decoded.cancelled;
    if (result.loaded.ok()) {
        result.left = decoded.left;
        result.top = decoded.top;
        result.fullWidth = decoded.header.fullWidth;
        result.fullHeight = decoded.header.fullHeight;
    }
    return result;
}

int32_t jpegScaleForZoom(int32_t zoomPercent)
{
    for (int32_t denominator : {8, 4, 2}) {
        if (int64_t {zoomPercent} * denominator <= 100)
            return denominator;
    }
    return 1;
}
