#include "picture/jpeg_decoder.h"

// libjpeg's error handling longjmps out of the library. Everything that uses
// setjmp stays in this file, and no object with a destructor is alive between
// a setjmp and its possible longjmp: the C-only phases below take plain
// pointers to buffers that their callers own.

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "picture/file_bytes.h"

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onJpegError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr, int)
{
    // Warnings and trace messages are not failures and are not printed.
}

struct HeaderInfo {
    int32_t width;
    int32_t height;
    bool cmyk;
    bool adobeInverted;
};

// Phase 1: read the header and start decompression.
bool startDecode(jpeg_decompress_struct* cinfo, ErrorManager* err, const uint8_t* data,
                 std::size_t size, J_DCT_METHOD method, HeaderInfo* info)
{
    if (setjmp(err->jump))
        return false;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->dct_method = method;
    info->cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    info->adobeInverted = cinfo->saw_Adobe_marker;
    cinfo->out_color_space = info->cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(cinfo);
    info->width = static_cast<int32_t>(cinfo->output_width);
    info->height = static_cast<int32_t>(cinfo->output_height);
    return true;
}

// Phase 2: decode every row into out (BGR rows of stride width * 3). For CMYK
// each row goes through rowBuffer (width * 4 bytes) and is converted.
bool readRows(jpeg_decompress_struct* cinfo, ErrorManager* err, uint8_t* out, uint8_t* rowBuffer,
              bool cmyk, bool inverted)
{
    if (setjmp(err->jump))
        return false;
    const std::size_t stride = static_cast<std::size_t>(cinfo->output_width) * 3;
    while (cinfo->output_scanline < cinfo->output_height) {
        uint8_t* dest = out + stride * cinfo->output_scanline;
        JSAMPROW row = cmyk ? rowBuffer : dest;
        jpeg_read_scanlines(cinfo, &row, 1);
        if (cmyk) {
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
                int c = rowBuffer[4 * x], m = rowBuffer[4 * x + 1], y = rowBuffer[4 * x + 2],
                    k = rowBuffer[4 * x + 3];
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
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

} // namespace

LoadedPicture decodeJpegMemory(const uint8_t* data, std::size_t size, JpegIdct idct)
{
    LoadedPicture result;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.emit_message = onJpegMessage;
    err.message[0] = '\0';
    jpeg_create_decompress(&cinfo);

    HeaderInfo info {};
    const J_DCT_METHOD method = idct == JpegIdct::Fast ? JDCT_IFAST : JDCT_ISLOW;
    if (!startDecode(&cinfo, &err, data, size, method, &info)) {
        result.error = err.message;
        jpeg_destroy_decompress(&cinfo);
        return result;
    }
    if (info.width <= 0 || info.height <= 0
        || int64_t{info.width} * info.height > kMaxPicturePixels) {
        result.error = "picture too large";
        jpeg_destroy_decompress(&cinfo);
        return result;
    }
    Picture picture(info.width, info.height);
    std::unique_ptr<uint8_t[]> rowBuffer;
    if (info.cmyk)
        rowBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<std::size_t>(info.width) * 4);
    if (!readRows(&cinfo, &err, picture.data(), rowBuffer.get(), info.cmyk, info.adobeInverted)) {
        result.error = err.message;
        jpeg_destroy_decompress(&cinfo);
        return result;
    }
    jpeg_destroy_decompress(&cinfo);
    result.picture = std::move(picture);
    return result;
}

LoadedPicture decodeJpegFile(const std::string& path, JpegIdct idct)
{
    std::string error;
    auto bytes = readFileBytes(path, error);
    if (!bytes) {
        LoadedPicture failed;
        failed.error = error;
        return failed;
    }
    if (bytes->empty()) {
        LoadedPicture failed;
        failed.error = "empty file";
        return failed;
    }
    return decodeJpegMemory(bytes->data(), bytes->size(), idct);
}
