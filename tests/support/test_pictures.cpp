#include "support/test_pictures.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <jpeglib.h>
#include <sys/stat.h>
#include <sys/time.h>

namespace testing_support {

void setPixel(Picture& picture, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t* p = picture.row(y) + static_cast<std::size_t>(x) * 3;
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvic-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests make unreadable folders; give the owner access back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::file(const std::string& relative) const
{
    const std::filesystem::path full = m_path / relative;
    std::filesystem::create_directories(full.parent_path());
    return full.string();
}

Picture solidPicture(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b)
{
    Picture picture(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            testing_support::setPixel(picture, x, y, r, g, b);
    return picture;
}

Picture patternPicture(int32_t width, int32_t height, const std::function<uint32_t(int32_t, int32_t)>& colour)
{
    Picture picture(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            testing_support::setPixel(picture, x, y, static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c));
        }
    }
    return picture;
}

Picture photoLikePicture(int32_t width, int32_t height, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(0, 255);
    const int baseR = any(rng), baseG = any(rng), baseB = any(rng);
    struct Disc { int cx, cy, radius, r, g, b; };
    std::vector<Disc> discs;
    for (int i = 0; i < 12; ++i) {
        discs.push_back(Disc {static_cast<int>(rng() % static_cast<uint32_t>(width)),
                              static_cast<int>(rng() % static_cast<uint32_t>(height)),
                              static_cast<int>(rng() % static_cast<uint32_t>(std::max(2, std::min(width, height) / 3)) + 1),
                              any(rng), any(rng), any(rng)});
    }
    return patternPicture(width, height, [&](int32_t x, int32_t y) {
        int r = (baseR + x * 255 / std::max(1, width)) / 2;
        int g = (baseG + y * 255 / std::max(1, height)) / 2;
        int b = (baseB + (x + y) * 255 / std::max(1, width + height)) / 2;
        for (const Disc& d : discs) {
            const int dx = x - d.cx, dy = y - d.cy;
            if (dx * dx + dy * dy < d.radius * d.radius) {
                r = d.r;
                g = d.g;
                b = d.b;
            }
        }
        return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
    });
}

void writeJpeg(const std::string& path, const Picture& picture, int quality)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(picture.width());
    cinfo.image_height = static_cast<JDIMENSION>(picture.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(picture.row(static_cast<int32_t>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

std::string encodeJpeg(int width, int height, int components, int inColourSpace,
                       const std::function<void(jpeg_compress_struct&)>& configure,
                       const std::function<const uint8_t*(int y)>& row)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = static_cast<J_COLOR_SPACE>(inColourSpace);
    jpeg_set_defaults(&cinfo);
    if (configure)
        configure(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {const_cast<uint8_t*>(row(static_cast<int>(cinfo.next_scanline)))};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

std::string withFrameSize(std::string jpeg, uint8_t frameMarker, int width, int height)
{
    const char marker[] = {'\xFF', static_cast<char>(frameMarker)};
    const auto sof = jpeg.find(std::string_view(marker, 2));
    if (sof == std::string::npos || sof + 9 > jpeg.size())
        throw std::runtime_error("no such frame header");
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

void writeBmp24(const std::string& path, const Picture& picture)
{
    const int32_t w = picture.width(), h = picture.height();
    const int32_t rowBytes = (w * 3 + 3) / 4 * 4;
    const uint32_t dataSize = static_cast<uint32_t>(rowBytes * h);
    std::string out(54, '\0');
    auto put16 = [&](std::size_t at, uint32_t v) { out[at] = char(v & 0xFF); out[at + 1] = char((v >> 8) & 0xFF); };
    auto put32 = [&](std::size_t at, uint32_t v) { put16(at, v & 0xFFFF); put16(at + 2, v >> 16); };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, 54 + dataSize);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    put16(26, 1);
    put16(28, 24);
    put32(34, dataSize);
    for (int32_t y = h - 1; y >= 0; --y) {
        out.append(reinterpret_cast<const char*>(picture.row(y)), static_cast<std::size_t>(w) * 3);
        out.append(static_cast<std::size_t>(rowBytes - w * 3), '\0');
    }
    writeBytes(path, out);
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        throw std::runtime_error("cannot write " + path);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void setModificationTime(const std::string& path, int64_t secondsSinceEpoch)
{
    struct timeval times[2];
    times[0].tv_sec = static_cast<time_t>(secondsSinceEpoch);
    times[0].tv_usec = 0;
    times[1] = times[0];
    if (utimes(path.c_str(), times) != 0)
        throw std::runtime_error("utimes failed for " + path);
}

std::string readFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool pathExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace testing_support
