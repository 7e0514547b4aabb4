#include "picture/scaled_jpeg.h"

// libjpeg's error handling longjmps out of the library: everything that uses
// setjmp stays in this file, and no object with a destructor is alive between
// a setjmp and its possible longjmp.

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>

#include "picture/jpeg_decoder.h"

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onScaledJpegError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

extern "C" void onScaledJpegMessage(j_common_ptr, int)
{
    // Warnings (a truncated file finished with grey) are not failures.
}

struct Header {
    int32_t fullWidth;
    int32_t fullHeight;
    int32_t width;
    int32_t height;
    bool cmyk;
    bool inverted;
};

bool readHeader(jpeg_decompress_struct* cinfo, ErrorManager* err, std::FILE* file, int32_t denominator,
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

// Every row into out (stride width * 3); CMYK rows pass through rowBuffer
// (width * 4) and are converted as the whole-picture decoder converts them.
bool readRows(jpeg_decompress_struct* cinfo, ErrorManager* err, uint8_t* out, uint8_t* rowBuffer, bool cmyk,
              bool inverted)
{
    if (setjmp(err->jump))
        return false;
    jpeg_start_decompress(cinfo);
    const std::size_t stride = static_cast<std::size_t>(cinfo->output_width) * 3;
    while (cinfo->output_scanline < cinfo->output_height) {
        uint8_t* dest = out + stride * cinfo->output_scanline;
        JSAMPROW row = cmyk ? rowBuffer : dest;
        jpeg_read_scanlines(cinfo, &row, 1);
        if (!cmyk)
            continue;
        for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
            int c = rowBuffer[4 * x], m = rowBuffer[4 * x + 1], y = rowBuffer[4 * x + 2], k = rowBuffer[4 * x + 3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            dest[3 * x] = static_cast<uint8_t>(y * k / 255);
            dest[3 * x + 1] = static_cast<uint8_t>(m * k / 255);
            dest[3 * x + 2] = static_cast<uint8_t>(c * k / 255);
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

LoadFailure failureOfErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return LoadFailure::Missing;
    case EACCES:
    case EPERM:
        return LoadFailure::AccessDenied;
    default:
        return LoadFailure::SystemError;
    }
}

ScaledJpeg failed(LoadFailure failure, std::string error, int systemError = 0)
{
    ScaledJpeg result;
    result.loaded.failure = failure;
    result.loaded.error = std::move(error);
    result.loaded.systemError = systemError;
    return result;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

int32_t jpegScaleForZoom(int32_t zoomPercent)
{
    for (int32_t denominator : {8, 4, 2}) {
        if (int64_t {zoomPercent} * denominator <= 100)
            return denominator;
    }
    return 1;
}

ScaledJpeg decodeJpegScaled(const std::string& path, int32_t denominator)
{
    denominator = denominator >= 8 ? 8 : denominator >= 4 ? 4 : denominator >= 2 ? 2 : 1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failed(failureOfErrno(errno), std::strerror(errno), errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        ::close(fd);
        return S_ISREG(st.st_mode) ? failed(failureOfErrno(error), std::strerror(error), error)
                                   : failed(LoadFailure::NotRegular, "not a regular file");
    }
    if (st.st_size == 0) {
        ::close(fd);
        return failed(LoadFailure::Empty, "empty file");
    }
    std::unique_ptr<std::FILE, FileCloser> file(::fdopen(fd, "rb"));
    if (!file) {
        const int error = errno;
        ::close(fd);
        return failed(failureOfErrno(error), std::strerror(error), error);
    }

    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onScaledJpegError;
    err.pub.emit_message = onScaledJpegMessage;
    err.message[0] = '\0';
    jpeg_create_decompress(&cinfo);

    Header header {};
    if (!readHeader(&cinfo, &err, file.get(), denominator, &header)) {
        jpeg_destroy_decompress(&cinfo);
        return failed(LoadFailure::Damaged, err.message);
    }
    if (header.width <= 0 || header.height <= 0 || int64_t {header.width} * header.height > kMaxPicturePixels) {
        jpeg_destroy_decompress(&cinfo);
        return failed(LoadFailure::TooLarge, "picture too large");
    }
    ScaledJpeg result;
    result.fullWidth = header.fullWidth;
    result.fullHeight = header.fullHeight;
    Picture picture(header.width, header.height);
    std::unique_ptr<uint8_t[]> rowBuffer;
    if (header.cmyk)
        rowBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<std::size_t>(header.width) * 4);
    if (!readRows(&cinfo, &err, picture.data(), rowBuffer.get(), header.cmyk, header.inverted)) {
        jpeg_destroy_decompress(&cinfo);
        return failed(LoadFailure::Damaged, err.message);
    }
    jpeg_destroy_decompress(&cinfo);
    result.loaded.picture = std::move(picture);
    return result;
}
