#pragma once

#include <cstdint>
#include <string>

// What reading one picture may cost, for every reader: the search's
// streamer, the whole-picture loaders (signature commands, review), the
// review's scaled and partial JPEG decodes and the shown-size header reader.
// A picture beyond any of these is refused before anything big is allocated
// or any long loop runs, with LoadFailure::TooLarge and the one message
// pictureLimitRefusal gives, whichever reader met it.

// The most pixels a picture may declare: 20,000 x 20,000. The review holds
// pictures of up to this size whole (1.2 GB at three bytes a pixel).
inline constexpr int64_t kMaxPicturePixels = int64_t{400} * 1000 * 1000;

// The most memory one picture's decode may hold on one worker: what libjpeg
// must keep (a progressive file's coefficients) or a bitmap decoded whole.
// 512 MB lets a 160-megapixel progressive 4:2:0 photograph through (about
// 480 MB of coefficients) while two workers stay within a gigabyte.
inline constexpr int64_t kPictureMemoryBudget = int64_t{512} << 20;

// More scans than any encoder writes (a progressive file has about ten):
// each scan is a pass over the whole coefficient buffer, so thousands of
// empty scans would keep a worker busy for minutes.
inline constexpr int kMaxJpegScans = 100;

// How many pixels a truncated picture may lack. Missing pixels come out
// black or grey at the decoder's full cost, so a few hundred bytes claiming
// a huge picture would cost as much as the picture; past this many, and past
// what the file does hold, the picture is refused: what reading a file costs
// then follows the bytes it has.
inline constexpr int64_t kMaxMissingPixels = int64_t{16} << 20;

// What a picture's headers and its file's length claim.
struct PictureClaim {
    int64_t width = 0;
    int64_t height = 0;
    // Memory the decode must hold at once, beyond a strip of rows.
    int64_t heldBytes = 0;
    // The most pixels the file's bytes can carry, or kUnbounded when its
    // coding has no such bound (run-length bitmaps, arithmetic-coded JPEG).
    int64_t carriedPixels = kUnbounded;

    static constexpr int64_t kUnbounded = -1;
};

// Why the claimed picture is refused, or empty when it is within the limits.
// Sides of 0 or less are the decoders' own business and pass here.
std::string pictureLimitRefusal(const PictureClaim& claim);

// The refusal of a file with more than kMaxJpegScans scans.
std::string tooManyScansMessage();

// The pixels a Huffman-coded JPEG of `fileBytes` bytes can carry at most: each
// 8 x 8 block costs at least one bit, however plain, so `blocks` blocks of
// `width` x `height` pixels need blocks / 8 bytes.
int64_t jpegCarriedPixels(int64_t width, int64_t height, int64_t blocks, int64_t fileBytes);
