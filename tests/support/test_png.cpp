#include "support/test_png.h"

#include <stdexcept>

#include <png.h>

namespace testing_support {

namespace {

extern "C" void appendPng(png_structp png, png_bytep data, std::size_t size)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

extern "C" void flushPng(png_structp) {}

int channelsOf(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

} // namespace

std::string encodePng(const PngSpec& spec)
{
    const int channels = channelsOf(spec.colourType);
    const std::size_t perRow = static_cast<std::size_t>(spec.width) * static_cast<std::size_t>(channels);
    if (spec.samples.size() != perRow * static_cast<std::size_t>(spec.height))
        throw std::invalid_argument("encodePng: wrong sample count");
    // Each row packed as the file stores it: big-endian 16-bit samples,
    // sub-byte samples from the high bits.
    std::vector<std::vector<uint8_t>> rows(static_cast<std::size_t>(spec.height));
    for (int y = 0; y < spec.height; ++y) {
        std::vector<uint8_t>& row = rows[static_cast<std::size_t>(y)];
        row.assign((perRow * static_cast<std::size_t>(spec.bitDepth) + 7) / 8, 0);
        for (std::size_t i = 0; i < perRow; ++i) {
            const uint16_t value = spec.samples[static_cast<std::size_t>(y) * perRow + i];
            if (spec.bitDepth == 16) {
                row[2 * i] = static_cast<uint8_t>(value >> 8);
                row[2 * i + 1] = static_cast<uint8_t>(value);
            } else if (spec.bitDepth == 8) {
                row[i] = static_cast<uint8_t>(value);
            } else {
                const std::size_t bit = i * static_cast<std::size_t>(spec.bitDepth);
                row[bit / 8] |= static_cast<uint8_t>(value << (8 - spec.bitDepth - static_cast<int>(bit % 8)));
            }
        }
    }
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("encodePng: libpng failed");
    }
    png_set_write_fn(png, &out, appendPng, flushPng);
    png_set_IHDR(png, info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height), spec.bitDepth,
                 spec.colourType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < spec.palette.size(); i += 3)
        palette.push_back({spec.palette[i], spec.palette[i + 1], spec.palette[i + 2]});
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!spec.paletteAlpha.empty())
        png_set_tRNS(png, info, spec.paletteAlpha.data(), static_cast<int>(spec.paletteAlpha.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (std::vector<uint8_t>& row : rows)
        pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string encodePng(const Picture& picture, bool interlaced)
{
    PngSpec spec;
    spec.width = picture.width();
    spec.height = picture.height();
    spec.interlaced = interlaced;
    for (int32_t y = 0; y < picture.height(); ++y) {
        const uint8_t* row = picture.row(y);
        for (int32_t x = 0; x < picture.width(); ++x) {
            spec.samples.push_back(row[3 * x + 2]);
            spec.samples.push_back(row[3 * x + 1]);
            spec.samples.push_back(row[3 * x]);
        }
    }
    return encodePng(spec);
}

} // namespace testing_support
