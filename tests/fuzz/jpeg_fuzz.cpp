// JPEG decoding, streaming and both signatures of whatever a .jpg file holds.
#include "fuzz/fuzz_input.h"
#include "fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    checkPictureFile(fuzz_input::writeInput("input.jpg", data, size));
    return 0;
}
