// JPEG XL loading, streaming and both signatures of whatever a .jxl file holds;
// the scan's header size must agree with the decoder's.
#include "fuzz/fuzz_input.h"
#include "fuzz/picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    checkPictureFileAndHeaderSize(fuzz_input::writeInput("input.jxl", data, size));
    return 0;
}
