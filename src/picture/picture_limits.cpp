#include "picture/picture_limits.h"

#include <algorithm>

std::string pictureLimitRefusal(const PictureClaim& claim)
{
    if (claim.width <= 0 || claim.height <= 0)
        return {};
    const auto size = std::to_string(claim.width) + " x " + std::to_string(claim.height);
    // Both sides are below 2^32, so their product fits.
    const int64_t pixels = claim.width * claim.height;
    if (pixels > kMaxPicturePixels)
        return "picture too large (" + size + " pixels, more than " + std::to_string(kMaxPicturePixels / 1000000)
               + " million)";
    if (claim.carriedPixels != PictureClaim::kUnbounded) {
        const int64_t missing = pixels - std::min(claim.carriedPixels, pixels);
        if (missing > kMaxMissingPixels && missing > pixels - missing)
            return "picture too large for its file (" + size + " pixels, most of them missing)";
    }
    if (claim.heldBytes > kPictureMemoryBudget)
        return "picture too large (" + size + " pixels need " + std::to_string((claim.heldBytes + (1 << 20) - 1) >> 20)
               + " MB, more than " + std::to_string(kPictureMemoryBudget >> 20) + ")";
    return {};
}

std::string tooManyScansMessage()
{
    return "too many scans (more than " + std::to_string(kMaxJpegScans) + ")";
}

int64_t jpegCarriedPixels(int64_t width, int64_t height, int64_t blocks, int64_t fileBytes)
{
    const int64_t pixels = width * height;
    if (blocks <= 0 || fileBytes >= blocks / 8 + 1)
        return pixels;
    // The share of the blocks the bytes pay for. At most 10 components of
    // 65,535 x 65,535 make fewer than 2^30 blocks and 2^32 pixels, so the
    // product fits.
    return pixels * (fileBytes * 8) / blocks;
}
