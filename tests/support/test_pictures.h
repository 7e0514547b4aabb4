#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "picture/picture.h"

struct jpeg_compress_struct;

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    // Path of a file in the folder; creates the folders on the way.
    std::string file(const std::string& relative) const;

private:
    std::filesystem::path m_path;
};

// Sets one pixel of a picture (R, G, B): the engines read rows directly, the
// tests build pictures a pixel at a time.
void setPixel(Picture& picture, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);

// A picture whose every pixel is (r, g, b).
Picture solidPicture(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b);

// A picture with each pixel's colour given by colour(x, y) -> 0xRRGGBB.
Picture patternPicture(int32_t width, int32_t height, const std::function<uint32_t(int32_t, int32_t)>& colour);

// A deterministic, detailed picture (gradients and shapes) chosen by seed.
Picture photoLikePicture(int32_t width, int32_t height, uint32_t seed);

// Writes a baseline JPEG (libjpeg, 4:2:0) at the given quality.
void writeJpeg(const std::string& path, const Picture& picture, int quality = 90);

// JPEG bytes encoded in memory by libjpeg: `components` bytes a pixel in the
// libjpeg colour space `inColourSpace` (a J_COLOR_SPACE), row y given by
// row(y). `configure` runs after jpeg_set_defaults, before compression starts
// (colour space, quality, sampling, progression, coding).
std::string encodeJpeg(int width, int height, int components, int inColourSpace,
                       const std::function<void(jpeg_compress_struct&)>& configure,
                       const std::function<const uint8_t*(int y)>& row);

// The JPEG with the size in its first frame header of the given kind (0xC0
// baseline, 0xC2 progressive) rewritten.
std::string withFrameSize(std::string jpeg, uint8_t frameMarker, int width, int height);

// Writes an uncompressed 24-bit bottom-up Windows bitmap.
void writeBmp24(const std::string& path, const Picture& picture);

// Writes raw bytes.
void writeBytes(const std::string& path, const std::string& bytes);

// The whole content of a file; empty when it cannot be read.
std::string readFileText(const std::string& path);

// Whether the path names anything, a dangling link included (lstat).
bool pathExists(const std::string& path);

// Sets a file's last-write time (seconds since the epoch).
void setModificationTime(const std::string& path, int64_t secondsSinceEpoch);

} // namespace testing_support
