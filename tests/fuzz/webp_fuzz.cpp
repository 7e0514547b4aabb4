// WebP loading, streaming and both signatures of whatever a .webp file holds;
// the scan's header size must agree with the decoder's.
#include "fuzz/fuzz_input.h"
#include "fuzz/picture_checks.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string path = fuzz_input::writeInput("input.webp", data, size);
    checkPictureFile(path);

    const std::optional<PictureSize> header = ReadPictureSize(path);
    if (!header)
        fuzz_input::fail("a written file could not be opened for its size");
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    if (loaded.ok() && (header->width != loaded.picture.width() || header->height != loaded.picture.height()))
        fuzz_input::fail("header size " + std::to_string(header->width) + " x " + std::to_string(header->height)
                         + " differs from the decoded " + std::to_string(loaded.picture.width()) + " x "
                         + std::to_string(loaded.picture.height()));
    return 0;
}
