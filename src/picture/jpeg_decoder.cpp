#include "picture/jpeg_decoder.h"

// libjpeg's error handling (jpeg_session's) longjmps out of the library. Everything that uses
// setjmp stays in this file, and no object with a destructor is alive between
// a setjmp and its possible longjmp: the C-only phases below take plain
// pointers to buffers that their callers own.

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include <jerror.h>

#include "common/log_categories.h"
#include "picture/jpeg_session.h"

namespace {

// Read buffer for libjpeg: small, and reused from file to file.
constexpr std::size_t kInputBufferSize = 64 * 1024;
// Rows of the strip: the tallest iMCU row (vertical sampling 4).
constexpr int kStripRows = 4 * DCTSIZE;

// Lets libjpeg read the file through one reused buffer instead of a copy of
// the whole file.
struct FileSource {
    jpeg_source_mgr pub;
    int fd;
    JOCTET* buffer;
    bool started;
};

extern "C" void initSource(j_decompress_ptr) {}

extern "C" boolean fillInput(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<FileSource*>(cinfo->src);
    ssize_t n = 0;
    do
        n = ::read(src->fd, src->buffer, kInputBufferSize);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        err->systemError = errno;
        stopJpeg(err, JpegStop::ReadError, std::strerror(errno));
    }
    if (n == 0) {
        if (!src->started)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // As libjpeg's own sources do: a truncated file ends in a fake EOI
        // marker, and what is missing comes out grey.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->started = true;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<std::size_t>(n);
    return TRUE;
}

extern "C" void skipInput(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* src = cinfo->src;
    while (count > static_cast<long>(src->bytes_in_buffer)) {
        count -= static_cast<long>(src->bytes_in_buffer);
        fillInput(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

extern "C" void termSource(j_decompress_ptr) {}

// What libjpeg must hold for a file whose scans do not each cover the whole
// picture: every coefficient of every component.
int64_t coefficientBytes(j_decompress_ptr cinfo)
{
    if (!jpeg_has_multiple_scans(cinfo))
        return 0;
    int64_t total = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info& comp = cinfo->comp_info[c];
        const int64_t h = comp.h_samp_factor;
        const int64_t v = comp.v_samp_factor;
        const int64_t blocksWide = (comp.width_in_blocks + h - 1) / h * h;
        const int64_t blocksHigh = (comp.height_in_blocks + v - 1) / v * v;
        total += blocksWide * blocksHigh * DCTSIZE2 * static_cast<int64_t>(sizeof(JCOEF));
    }
    return total;
}

struct HeaderInfo {
    int32_t width;
    int32_t height;
    bool cmyk;
    bool adobeInverted;
    bool buffered; // a multi-scan file, decoded in buffered-image mode
};

// Phase 1: read the header.
bool readHeader(j_decompress_ptr cinfo, JpegErrorManager* err)
{
    if (setjmp(err->jump))
        return false;
    jpeg_read_header(cinfo, TRUE);
    return true;
}

// Phase 1a, once the picture's claim is within the limits: start
// decompression, which allocates a multi-scan file's coefficients.
bool startDecode(j_decompress_ptr cinfo, JpegErrorManager* err, J_DCT_METHOD method, HeaderInfo* info)
{
    if (setjmp(err->jump))
        return false;
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->dct_method = method;
    info->cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    info->adobeInverted = cinfo->saw_Adobe_marker;
    cinfo->out_color_space = info->cmyk ? JCS_CMYK : JCS_EXT_BGR;
    // A multi-scan file's coefficients are held whole either way; in
    // buffered-image mode an output pass can be run over them again.
    info->buffered = jpeg_has_multiple_scans(cinfo);
    cinfo->buffered_image = info->buffered ? TRUE : FALSE;
    jpeg_start_decompress(cinfo);
    info->width = static_cast<int32_t>(cinfo->output_width);
    info->height = static_cast<int32_t>(cinfo->output_height);
    return true;
}

// Phase 1b, buffered-image mode: read every scan (the checks that the
// progress monitor makes while jpeg_start_decompress absorbs a multi-scan
// file otherwise), then start an output pass over the final coefficients.
bool consumeScans(j_decompress_ptr cinfo, JpegErrorManager* err, const std::atomic<bool>* abortFlag)
{
    if (setjmp(err->jump))
        return false;
    while (jpeg_consume_input(cinfo) != JPEG_REACHED_EOI) {
        if (abortFlag != nullptr && abortFlag->load(std::memory_order_relaxed))
            stopJpeg(err, JpegStop::Aborted, "");
        if (cinfo->input_scan_number > kMaxJpegScans)
            stopJpeg(err, JpegStop::TooManyScans, "");
    }
    return true;
}

// Starts an output pass in buffered-image mode: the first one, or another
// over the same coefficients.
bool startOutput(j_decompress_ptr cinfo, JpegErrorManager* err)
{
    if (setjmp(err->jump))
        return false;
    jpeg_start_output(cinfo, cinfo->input_scan_number);
    return true;
}


JDIMENSION nextWanted(const RowSink* sink, JDIMENSION from, JDIMENSION height)
{
    while (from < height && !sink->wantsRow(static_cast<int32_t>(from)))
        ++from;
    return from;
}

// Phase 2: hand the wanted rows to the sink. Whole iMCU rows (bands) that
// hold no wanted row are skipped from a band's start to another's, which
// costs only the entropy decoding. Within a band that holds a wanted row,
// the unwanted rows are passed over from one row group's start (what
// jpeg_skip_scanlines keeps within a band reads them without colour
// conversion); from the middle of a row group libjpeg-turbo would hand out
// the upsampler's spare row for the row after the skip, so such a row is
// read. Crossing a band from its middle is never asked of libjpeg either.
// The stream tests pin the pixels of every layout against a whole decode.
bool readRows(j_decompress_ptr cinfo, JpegErrorManager* err, RowSink* sink, JSAMPROW* strip, uint8_t* bgr,
              const HeaderInfo* info)
{
    const bool cmyk = info->cmyk;
    const bool inverted = info->adobeInverted;
    if (setjmp(err->jump))
        return false;
    const JDIMENSION height = cinfo->output_height;
    const JDIMENSION group = static_cast<JDIMENSION>(cinfo->max_v_samp_factor);
    const JDIMENSION band = group * DCTSIZE;
    JDIMENSION next = nextWanted(sink, 0, height);
    while (next < height) {
        const JDIMENSION at = cinfo->output_scanline;
        const JDIMENSION bandEnd = std::min(height, (at / band + 1) * band);
        if (at < next) {
            const JDIMENSION nextBand = next / band * band;
            if (at % band == 0 && nextBand > at) {
                jpeg_skip_scanlines(cinfo, nextBand - at);
            } else if (at % group == 0) {
                jpeg_skip_scanlines(cinfo, std::min(next, bandEnd) - at);
            } else if (jpeg_read_scanlines(cinfo, strip, std::min(next, (at / group + 1) * group) - at) == 0) {
                break;
            }
            continue;
        }
        // The wanted rows from here to the band's end, read together.
        JDIMENSION count = 1;
        while (at + count < bandEnd && sink->wantsRow(static_cast<int32_t>(at + count)))
            ++count;
        const JDIMENSION got = jpeg_read_scanlines(cinfo, strip, count);
        if (got == 0)
            break;
        for (JDIMENSION i = 0; i < got; ++i) {
            const uint8_t* row = strip[i];
            if (cmyk) {
                cmykRowToBgr(strip[i], bgr, static_cast<int32_t>(cinfo->output_width), inverted);
                row = bgr;
            }
            sink->row(static_cast<int32_t>(at + i), row);
        }
        next = nextWanted(sink, at + got, height);
    }
    // Every scan has been read before the output pass: nothing is left to
    // check, and the pass may be run again.
    if (info->buffered) {
        jpeg_finish_output(cinfo);
        return true;
    }
    // The rows after the last wanted one are decoded, not skipped: a skip to
    // the end reads no data, so damage there would pass unnoticed where the
    // whole decode fails the file.
    if (!sink->needsWholeFile())
        return true;
    while (cinfo->output_scanline < height) {
        const JDIMENSION at = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, strip, std::min(height, (at / band + 1) * band) - at) == 0)
            break;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

StreamResult failureOf(const JpegErrorManager& err)
{
    if (err.stop == JpegStop::Aborted)
        return {StreamStatus::Aborted, {}};
    JpegFailure failure = jpegFailureOf(err);
    return {StreamStatus::Failed, std::move(failure.error), failure.failure, failure.systemError};
}

// Whether two looks at a file saw the same version of its content.
bool sameVersion(const struct stat& a, const struct stat& b)
{
    const auto sameTime = [](const timespec& x, const timespec& y) { return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec; };
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim)
           && sameTime(a.st_ctim, b.st_ctim);
}

} // namespace

// One decode: libjpeg's state, and the managers it calls back. It lives on
// the heap, since libjpeg holds pointers into it, and a multi-scan one is
// kept after its pass for another look at the same file.
struct JpegDecode : JpegSession {
    FileSource source;
    HeaderInfo info {};
    bool passDone = false; // an output pass was finished: another may start
    struct stat file {};   // the version read, once kept

    explicit JpegDecode(const StreamOptions& options) : JpegSession(nullptr, options.abortFlag)
    {
        std::memset(&source, 0, sizeof source);
    }

    void readFrom(int fd, JpegBuffers& buffers)
    {
        if (buffers.input.size() < kInputBufferSize)
            buffers.input.resize(kInputBufferSize);
        source.pub.init_source = initSource;
        source.pub.fill_input_buffer = fillInput;
        source.pub.skip_input_data = skipInput;
        source.pub.resync_to_restart = jpeg_resync_to_restart;
        source.pub.term_source = termSource;
        source.fd = fd;
        source.buffer = buffers.input.data();
        cinfo.src = &source.pub;
    }

    StreamResult run(RowSink& sink, const StreamOptions& options, JpegBuffers& buffers, int64_t fileBytes)
    {
        if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
            return {StreamStatus::Aborted, {}};
        if (!readHeader(&cinfo, &err))
            return failureOf(err);
        // Before jpeg_start_decompress, which allocates the coefficients.
        if (std::string refusal = pictureLimitRefusal(jpegDecodeClaim(&cinfo, fileBytes)); !refusal.empty())
            return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
        const J_DCT_METHOD method = options.idct == JpegIdct::Fast ? JDCT_IFAST : JDCT_ISLOW;
        if (!startDecode(&cinfo, &err, method, &info))
            return failureOf(err);
        if (info.buffered
            && (!consumeScans(&cinfo, &err, options.abortFlag) || !startOutput(&cinfo, &err)))
            return failureOf(err);
        return output(sink, buffers);
    }

    // Another output pass over a kept multi-scan decode: the same pixels as
    // the first, without reading the file again.
    StreamResult again(RowSink& sink, const StreamOptions& options, JpegBuffers& buffers)
    {
        if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
            return {StreamStatus::Aborted, {}};
        progress.abortFlag = options.abortFlag;
        passDone = false;
        if (!startOutput(&cinfo, &err))
            return failureOf(err);
        return output(sink, buffers);
    }

private:
    StreamResult output(RowSink& sink, JpegBuffers& buffers)
    {
        const std::size_t width = static_cast<std::size_t>(info.width);
        const std::size_t stride = width * (info.cmyk ? 4 : 3);
        if (buffers.strip.size() < stride * kStripRows)
            buffers.strip.resize(stride * kStripRows);
        if (info.cmyk && buffers.bgr.size() < width * 3)
            buffers.bgr.resize(width * 3);
        JSAMPROW strip[kStripRows];
        for (int i = 0; i < kStripRows; ++i)
            strip[i] = buffers.strip.data() + stride * static_cast<std::size_t>(i);
        if (!sink.begin(info.width, info.height))
            return {};
        if (!readRows(&cinfo, &err, &sink, strip, buffers.bgr.data(), &info))
            return failureOf(err);
        passDone = info.buffered;
        return {};
    }
};

namespace {

const uint8_t kJpegSignature[] = {0xFF, 0xD8};

StreamResult streamMemory(const uint8_t* data, std::size_t size, RowSink& sink, const StreamOptions& options,
                          JpegBuffers& buffers)
{
    if (size == 0)
        return {StreamStatus::Failed, "empty file", LoadFailure::Empty};
    JpegDecode decode(options);
    jpeg_mem_src(&decode.cinfo, data, static_cast<unsigned long>(size));
    return decode.run(sink, options, buffers, static_cast<int64_t>(size));
}

StreamResult streamFile(PictureFile& file, RowSink& sink, const StreamOptions& options, JpegBuffers& buffers)
{
    // A kept decode serves one more look at the same file version at most;
    // otherwise it goes before a new one allocates.
    std::shared_ptr<JpegDecode> kept = std::move(buffers.kept);
    if (!file.startsWith(kJpegSignature, sizeof kJpegSignature))
        return file.failed();
    struct stat version {};
    const bool known = ::fstat(file.fd(), &version) == 0;
    if (kept && known && sameVersion(kept->file, version)) {
        kept->err.fileName = file.path().c_str();
        return kept->again(sink, options, buffers);
    }
    kept.reset();
    auto decode = std::make_shared<JpegDecode>(options);
    decode->err.fileName = file.path().c_str();
    decode->readFrom(file.fd(), buffers);
    const StreamResult result = decode->run(sink, options, buffers, file.size());
    if (result.ok() && decode->passDone && known) {
        // Every scan has been read: the file is not touched again.
        decode->source.fd = -1;
        decode->err.fileName = nullptr; // the path is the caller's; the next look names its own
        decode->file = version;
        buffers.kept = std::move(decode);
    }
    return result;
}

} // namespace

void logJpegMessage(jpeg_common_struct* cinfo, int level, const char* fileName)
{
    // Trace messages (level 0 and up) are libjpeg's own debugging. A warning
    // (a truncated file finished with grey, corrupt data) is no failure, but
    // worth a log line: the first of each file, as libjpeg's own handler does.
    if (level >= 0 || cinfo->err->num_warnings++ > 0 || !zelvicPicture().isWarningEnabled())
        return;
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    qCWarning(zelvicPicture, "%s: libjpeg warning: %s", fileName ? fileName : "JPEG in memory", message);
}

void cmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int32_t width, bool inverted)
{
    for (int32_t x = 0; x < width; ++x) {
        int c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[3 * x] = static_cast<uint8_t>(y * k / 255);
        bgr[3 * x + 1] = static_cast<uint8_t>(m * k / 255);
        bgr[3 * x + 2] = static_cast<uint8_t>(c * k / 255);
    }
}

StreamResult streamJpegFile(PictureFile& file, RowSink& sink, const StreamOptions& options, JpegBuffers& buffers)
{
    return streamFile(file, sink, options, buffers);
}

StreamResult streamJpegMemory(const uint8_t* data, std::size_t size, RowSink& sink, const StreamOptions& options,
                              JpegBuffers& buffers)
{
    return streamMemory(data, size, sink, options, buffers);
}

LoadedPicture decodeJpegMemory(const uint8_t* data, std::size_t size, JpegIdct idct)
{
    JpegBuffers buffers;
    WholePictureSink sink;
    return sink.take(streamMemory(data, size, sink, StreamOptions {idct, nullptr}, buffers));
}

LoadedPicture decodeJpegFile(const std::string& path, JpegIdct idct)
{
    WholePictureSink sink;
    PictureFile file;
    if (!file.open(path))
        return sink.take(file.failed());
    JpegBuffers buffers;
    return sink.take(streamFile(file, sink, StreamOptions {idct, nullptr}, buffers));
}

PictureClaim jpegFrameClaim(const JpegFrame& frame, int64_t fileBytes, int64_t heldBytes)
{
    PictureClaim claim {frame.width, frame.height, heldBytes};
    int hMax = 0;
    int vMax = 0;
    for (int c = 0; c < frame.components; ++c) {
        hMax = std::max(hMax, frame.h[c]);
        vMax = std::max(vMax, frame.v[c]);
    }
    bool known = !frame.arithmetic && frame.components > 0 && frame.components <= JpegFrame::kMaxComponents;
    int64_t blocks = 0;
    for (int c = 0; known && c < frame.components; ++c) {
        if (frame.h[c] < 1 || frame.h[c] > 4 || frame.v[c] < 1 || frame.v[c] > 4) {
            known = false; // libjpeg refuses the file itself
            break;
        }
        // As libjpeg sizes each component, in 8 x 8 blocks.
        const int64_t wide = (frame.width * frame.h[c] + hMax * DCTSIZE - 1) / (hMax * DCTSIZE);
        const int64_t high = (frame.height * frame.v[c] + vMax * DCTSIZE - 1) / (vMax * DCTSIZE);
        blocks += wide * high;
    }
    if (known)
        claim.carriedPixels = jpegCarriedPixels(frame.width, frame.height, blocks, fileBytes);
    return claim;
}

PictureClaim jpegDecodeClaim(jpeg_decompress_struct* cinfo, int64_t fileBytes)
{
    JpegFrame frame;
    frame.width = cinfo->image_width;
    frame.height = cinfo->image_height;
    frame.components = std::min(cinfo->num_components, JpegFrame::kMaxComponents);
    for (int c = 0; c < frame.components; ++c) {
        frame.h[c] = cinfo->comp_info[c].h_samp_factor;
        frame.v[c] = cinfo->comp_info[c].v_samp_factor;
    }
    frame.arithmetic = cinfo->arith_code;
    return jpegFrameClaim(frame, fileBytes, coefficientBytes(cinfo));
}
