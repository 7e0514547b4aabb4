// Writes large pictures of the kinds whose decode holds more than a strip of
// rows, for bench/signature_memory.sh:
//
//   make_signature_pictures FOLDER JPEG_SIDE BMP_SIDE
//
// Each picture NAME goes into a folder of its own, FOLDER/NAME.d/NAME, for a
// search of it alone:
//   progressive.jpg   JPEG_SIDE square, progressive, 4:2:0
//   baseline.jpg      the same picture, baseline, for comparison
//   rle8.bmp          BMP_SIDE square, RLE8, bottom-up
//   rle4.bmp          BMP_SIDE square, RLE4, bottom-up
//   rle8_topdown.bmp  BMP_SIDE square, RLE8, top-down
//   alpha.bmp         BMP_SIDE square, 32-bit with an alpha mask, which only
//                     the platform reader reads
// A bitmap decoded whole counts four bytes a pixel against the picture
// budget, so BMP_SIDE must stay below 11,585 for them to be read at all.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "support/test_pictures.h"

namespace {

// A smooth picture with some detail: gradients crossed by bands.
void photoRow(int32_t side, int32_t y, std::vector<uint8_t>& rgb)
{
    rgb.resize(static_cast<size_t>(side) * 3);
    for (int32_t x = 0; x < side; ++x) {
        const int32_t band = ((x / 97) + (y / 61)) % 5;
        rgb[3 * x] = static_cast<uint8_t>((x * 255 / side + band * 20) % 256);
        rgb[3 * x + 1] = static_cast<uint8_t>((y * 255 / side + band * 35) % 256);
        rgb[3 * x + 2] = static_cast<uint8_t>(((x + y) * 127 / side + band * 9) % 256);
    }
}

void put16(std::string& out, uint32_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// File and info headers; `pixelOffset` and `fileSize` are patched after.
std::string bmpHeaders(int32_t width, int32_t height, uint32_t infoSize, int bits, uint32_t compression,
                       uint32_t colours)
{
    std::string out = "BM";
    put32(out, 0); // file size
    put32(out, 0);
    put32(out, 0); // pixel offset
    put32(out, infoSize);
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height));
    put16(out, 1);
    put16(out, static_cast<uint32_t>(bits));
    put32(out, compression);
    put32(out, 0);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, colours);
    put32(out, 0);
    return out;
}

void finishBmp(std::string& bytes, size_t pixelOffset, const std::string& path)
{
    const auto size = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) {
        bytes[2 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
        bytes[10 + i] = static_cast<char>((pixelOffset >> (8 * i)) & 0xFF);
    }
    testing_support::writeBytes(path, bytes);
}

// Runs of 16 pixels of one index, the index following the row and column,
// one end of line a row; negative `height` for top-down.
void writeRunLength(const std::string& path, int32_t side, int32_t height, bool fourBit)
{
    const int colours = fourBit ? 16 : 256;
    std::string bytes = bmpHeaders(side, height, 40, fourBit ? 4 : 8, fourBit ? 2 : 1, static_cast<uint32_t>(colours));
    for (int i = 0; i < colours; ++i) {
        const int v = i * 255 / (colours - 1);
        bytes.push_back(static_cast<char>(v));
        bytes.push_back(static_cast<char>(255 - v));
        bytes.push_back(static_cast<char>((v * 3) % 256));
        bytes.push_back(0);
    }
    const size_t pixelOffset = bytes.size();
    for (int32_t line = 0; line < side; ++line) {
        for (int32_t x = 0; x < side; x += 16) {
            const int32_t n = std::min(16, side - x);
            const int index = ((x / 16) + line / 16) % colours;
            bytes.push_back(static_cast<char>(n));
            bytes.push_back(static_cast<char>(fourBit ? index * 17 : index));
        }
        bytes.push_back(0);
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(1);
    finishBmp(bytes, pixelOffset, path);
}

// 32 bits a pixel with B, G, R and alpha masks in a V5 header.
void writeAlphaBitmap(const std::string& path, int32_t side)
{
    std::string bytes = bmpHeaders(side, side, 124, 32, 3, 0);
    put32(bytes, 0x00FF0000);
    put32(bytes, 0x0000FF00);
    put32(bytes, 0x000000FF);
    put32(bytes, 0xFF000000);
    bytes.resize(14 + 124, '\0');
    const size_t pixelOffset = bytes.size();
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::vector<uint8_t> rgb;
    std::string row(static_cast<size_t>(side) * 4, '\0');
    for (int32_t y = side - 1; y >= 0; --y) {
        photoRow(side, y, rgb);
        for (int32_t x = 0; x < side; ++x) {
            row[4 * x] = static_cast<char>(rgb[3 * x + 2]);
            row[4 * x + 1] = static_cast<char>(rgb[3 * x + 1]);
            row[4 * x + 2] = static_cast<char>(rgb[3 * x]);
            row[4 * x + 3] = static_cast<char>(0xFF);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    out.close();
    const uint64_t size = pixelOffset + uint64_t(side) * uint64_t(side) * 4;
    std::fstream patch(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string head;
    put32(head, static_cast<uint32_t>(size));
    put32(head, 0);
    put32(head, static_cast<uint32_t>(pixelOffset));
    patch.seekp(2);
    patch.write(head.data(), static_cast<std::streamsize>(head.size()));
}

void writeJpegFile(const std::string& path, int32_t side, bool progressive)
{
    std::vector<uint8_t> rgb;
    const std::string bytes = testing_support::encodeJpeg(
        side, side, 3, JCS_RGB,
        [progressive](jpeg_compress_struct& cinfo) {
            jpeg_set_quality(&cinfo, 85, TRUE);
            if (progressive)
                jpeg_simple_progression(&cinfo);
        },
        [&](int y) {
            photoRow(side, y, rgb);
            return rgb.data();
        });
    testing_support::writeBytes(path, bytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_signature_pictures FOLDER JPEG_SIDE BMP_SIDE\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int32_t jpegSide = std::stoi(argv[2]);
    const int32_t bmpSide = std::stoi(argv[3]);
    std::filesystem::create_directories(folder);
    auto place = [&](const std::string& name) {
        const std::string dir = folder + "/" + name + ".d";
        std::filesystem::create_directories(dir);
        return dir + "/" + name;
    };
    writeJpegFile(place("progressive.jpg"), jpegSide, true);
    writeJpegFile(place("baseline.jpg"), jpegSide, false);
    writeRunLength(place("rle8.bmp"), bmpSide, bmpSide, false);
    writeRunLength(place("rle4.bmp"), bmpSide, bmpSide, true);
    writeRunLength(place("rle8_topdown.bmp"), bmpSide, -bmpSide, false);
    writeAlphaBitmap(place("alpha.bmp"), bmpSide);
    return 0;
}
