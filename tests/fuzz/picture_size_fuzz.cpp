// The scan's header reader against libjpeg's own: whenever libjpeg reads a
// complete header, the size the scan finds must be libjpeg's. As a bitmap,
// the same bytes must give a size without harm.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "fuzz/fuzz_input.h"
#include "picture/picture_size.h"

namespace {

struct QuietError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void leave(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<QuietError*>(cinfo->err)->jump, 1);
}

void ignore(j_common_ptr, int) {}
void ignoreOutput(j_common_ptr) {}

struct HeaderSize {
    bool read = false;
    uint32_t width = 0;
    uint32_t height = 0;
};

// No object with a destructor lives across the setjmp.
HeaderSize libjpegHeader(const uint8_t* data, std::size_t size)
{
    HeaderSize result;
    jpeg_decompress_struct cinfo {};
    QuietError error {};
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = leave;
    error.manager.emit_message = ignore;
    error.manager.output_message = ignoreOutput;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return HeaderSize {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
        result.read = true;
        result.width = cinfo.image_width;
        result.height = cinfo.image_height;
    }
    jpeg_destroy_decompress(&cinfo);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0; // jpeg_mem_src refuses an empty buffer
    const std::optional<PictureSize> ours = ReadPictureSize(fuzz_input::writeInput("input.jpg", data, size));
    if (!ours)
        fuzz_input::fail("a written file could not be opened for its size");
    const HeaderSize theirs = libjpegHeader(data, size);
    if (theirs.read
        && (static_cast<uint32_t>(ours->width) != theirs.width || static_cast<uint32_t>(ours->height) != theirs.height))
        fuzz_input::fail("scan size " + std::to_string(ours->width) + " x " + std::to_string(ours->height)
                         + " differs from libjpeg's " + std::to_string(theirs.width) + " x "
                         + std::to_string(theirs.height));
    if (!ReadPictureSize(fuzz_input::writeInput("input.bmp", data, size)))
        fuzz_input::fail("a written bitmap could not be opened for its size");
    return 0;
}
