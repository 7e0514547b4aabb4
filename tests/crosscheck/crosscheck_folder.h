#pragma once

#include <cstdint>
#include <string>

#include "picture/picture.h"
#include "search/file_table.h"
#include "support/test_pictures.h"

// The pictures the cross-check searches: variants of generated scenes as
// copies, re-saves, resizes, crops and exposure changes make them, and one
// folder of them with flat, damaged and tiny files beside.
namespace crosscheck {

// Bilinear-free, deterministic resampling: each target pixel takes the
// nearest source pixel.
Picture resized(const Picture& source, int32_t width, int32_t height);

// A box-filtered downscale, closer to what a photo editor does.
Picture shrunk(const Picture& source, int32_t width, int32_t height);

// The picture less `left`, `top`, `right` and `bottom` pixels at its edges.
Picture cropped(const Picture& source, int32_t left, int32_t top, int32_t right, int32_t bottom);

// v * scale / 100 + offset on every channel.
Picture exposed(const Picture& source, int32_t scale, int32_t offset);

// Every channel moved by up to `amplitude` either way, pseudo-randomly and
// the same every time for the same number.
Picture noisy(const Picture& source, uint32_t seed, int32_t amplitude);

// A gamma curve on every channel: mid-tones move while black and white stay.
Picture withGamma(const Picture& source, double gamma);

// A 3 x 3 box blur.
Picture blurred(const Picture& source);

// A picture with a warm (orange-brown) subject on a cool ground, so that the
// similar engine's warm region and alignment window come into play.
Picture warmScene(int32_t width, int32_t height, uint32_t seed);

// The picture inside a flat frame (bars of the given widths on each side),
// as a scan or a letterboxed frame would be.
Picture framed(const Picture& source, int32_t side, int32_t topBottom, uint8_t grey);

// Hard black and white blocks: local contrasts above 255, which the similar
// engine keeps only in their low 8 bits.
Picture blocks(int32_t width, int32_t height, int32_t cell);

// The picture a file decodes to (the accurate inverse DCT); a failure fails
// the test.
Picture decoded(const std::string& path);

// The bytes of a file.
std::string readAll(const std::string& path);

// The folder of pictures the engine and signature cross-checks search, made
// once and kept until the program ends.
class CrosscheckFolder {
public:
    CrosscheckFolder();

    const FileTable& table() const { return m_table; }
    std::string path(const std::string& name) const { return m_dir.file(name); }

private:
    testing_support::TempDir m_dir;
    FileTable m_table;
};

const CrosscheckFolder& folder();

} // namespace crosscheck
