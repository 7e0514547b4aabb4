// Bitmap loading, streaming and both signatures of whatever a .bmp file holds;
// the scan's header size must agree with the decoder's.
#include "fuzz/fuzz_input.h"
#include "fuzz/picture_checks.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string path = fuzz_input::writeInput("input.bmp", data, size);
    checkPictureFile(path);

    const std::optional<PictureSize> header = ReadPictureSize(path);
    if (!header)
        fuzz_input::fail("a written file could not be opened for its size");
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    if (loaded.ok()) {
        // The header keeps the low 16 bits; a top-down bitmap's height is negative there.
        const int32_t width = loaded.picture.width() & 0xFFFF;
        const int32_t height = loaded.picture.height() & 0xFFFF;
        const int32_t topDownHeight = -loaded.picture.height() & 0xFFFF;
        if (header->width != width || (header->height != height && header->height != topDownHeight))
            fuzz_input::fail("header size " + std::to_string(header->width) + " x " + std::to_string(header->height)
                             + " differs from the decoded " + std::to_string(loaded.picture.width()) + " x "
                             + std::to_string(loaded.picture.height()));
    }
    return 0;
}
