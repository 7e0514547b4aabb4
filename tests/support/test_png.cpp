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

std::string encodePng(const PngLayout& layout)
{
    const int channels = channelsOf(layout.colourType);
    const std::size_t perRow = static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(channels);
    if (layout.samples.size() != perRow * static_cast<std::size_t>(layout.height))
        throw std::invalid_argument("encodePng: wrong sample count");
    // Each row packed as the file stores it: big-endian 16-bit samples,
    // sub-byte samples from the high bits.
    std::vector<std::vector<uint8_t>> rows(static_cast<std::size_t>(layout.height));
    for (int y = 0; y < layout.height; ++y) {
        std::vector<uint8_t>& row = rows[static_cast<std::size_t>(y)];
        row.assign((perRow * static_cast<std::size_t>(layout.bitDepth) + 7) / 8, 0);
        for (std::size_t i = 0; i < perRow; ++i) {
            const uint16_t value = layout.samples[static_cast<std::size_t>(y) * perRow + i];
            if (layout.bitDepth == 16) {
                row[2 * i] = static_cast<uint8_t>(value >> 8);
                row[2 * i + 1] = static_cast<uint8_t>(value);
            } else if (layout.bitDepth == 8) {
                row[i] = static_cast<uint8_t>(value);
            } else {
                const std::size_t bit = i * static_cast<std::size_t>(layout.bitDepth);
                row[bit / 8] |= static_cast<uint8_t>(value << (8 - layout.bitDepth - static_cast<int>(bit % 8)));
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width), static_cast<png_uint_32>(layout.height), layout.bitDepth,
                 layout.colourType, layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < layout.palette.size(); i += 3)
        palette.push_back({layout.palette[i], layout.palette[i + 1], layout.palette[i + 2]});
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!layout.paletteAlpha.empty())
        png_set_tRNS(png, info, layout.paletteAlpha.data(), static_cast<int>(layout.paletteAlpha.size()), nullptr);
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
    PngLayout layout;
    layout.width = picture.width();
    layout.height = picture.height();
    layout.interlaced = interlaced;
    for (int32_t y = 0; y < picture.height(); ++y) {
        const uint8_t* row = picture.row(y);
        for (int32_t x = 0; x < picture.width(); ++x) {
            layout.samples.push_back(row[3 * x + 2]);
            layout.samples.push_back(row[3 * x + 1]);
            layout.samples.push_back(row[3 * x]);
        }
    }
    return encodePng(layout);
}

} // namespace testing_support
