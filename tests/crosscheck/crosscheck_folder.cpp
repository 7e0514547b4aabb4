#include "crosscheck/crosscheck_folder.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "picture/picture_loader.h"
#include "search/line_order.h"

namespace crosscheck {

using namespace testing_support;

namespace {

uint8_t clampByte(int32_t v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

// Bilinear-free, deterministic resampling: each target pixel takes the
// nearest source pixel.
Picture resized(const Picture& source, int32_t width, int32_t height)
{
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * source.height() / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = static_cast<int32_t>(static_cast<int64_t>(x) * source.width() / width);
            const uint8_t* p = source.row(sy) + sx * 3;
            testing_support::setPixel(out, x, y, p[2], p[1], p[0]);
        }
    }
    return out;
}

// A box-filtered downscale, closer to what a photo editor does.
Picture shrunk(const Picture& source, int32_t width, int32_t height)
{
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t y0 = y * source.height() / height;
        const int32_t y1 = std::max(y0 + 1, (y + 1) * source.height() / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t x0 = x * source.width() / width;
            const int32_t x1 = std::max(x0 + 1, (x + 1) * source.width() / width);
            int32_t sum[3] = {0, 0, 0};
            for (int32_t j = y0; j < y1; ++j)
                for (int32_t i = x0; i < x1; ++i)
                    for (int32_t c = 0; c < 3; ++c)
                        sum[c] += source.row(j)[i * 3 + c];
            const int32_t n = (x1 - x0) * (y1 - y0);
            testing_support::setPixel(out, x, y, clampByte(sum[2] / n), clampByte(sum[1] / n), clampByte(sum[0] / n));
        }
    }
    return out;
}

Picture cropped(const Picture& source, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    const int32_t width = source.width() - left - right;
    const int32_t height = source.height() - top - bottom;
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = source.row(y + top);
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + (x + left) * 3;
            testing_support::setPixel(out, x, y, p[2], p[1], p[0]);
        }
    }
    return out;
}

// v * scale / 100 + offset on every channel.
Picture exposed(const Picture& source, int32_t scale, int32_t offset)
{
    Picture out(source.width(), source.height());
    for (int32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = row + x * 3;
            testing_support::setPixel(out, x, y, clampByte(p[2] * scale / 100 + offset), clampByte(p[1] * scale / 100 + offset),
                         clampByte(p[0] * scale / 100 + offset));
        }
    }
    return out;
}

Picture noisy(const Picture& source, uint32_t seed, int32_t amplitude)
{
    Picture out(source.width(), source.height());
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<int32_t>((state >> 16) % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
    };
    for (int32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = row + x * 3;
            testing_support::setPixel(out, x, y, clampByte(p[2] + next()), clampByte(p[1] + next()), clampByte(p[0] + next()));
        }
    }
    return out;
}

// A gamma curve on every channel: mid-tones move while black and white stay.
Picture withGamma(const Picture& source, double gamma)
{
    Picture out(source.width(), source.height());
    auto curve = [gamma](int32_t v) { return clampByte(static_cast<int32_t>(255.0 * std::pow(v / 255.0, gamma))); };
    for (int32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = row + x * 3;
            testing_support::setPixel(out, x, y, curve(p[2]), curve(p[1]), curve(p[0]));
        }
    }
    return out;
}

// A 3 x 3 box blur.
Picture blurred(const Picture& source)
{
    Picture out(source.width(), source.height());
    for (int32_t y = 0; y < source.height(); ++y) {
        for (int32_t x = 0; x < source.width(); ++x) {
            int32_t sum[3] = {0, 0, 0};
            int32_t n = 0;
            for (int32_t j = std::max(0, y - 1); j <= std::min(source.height() - 1, y + 1); ++j) {
                for (int32_t i = std::max(0, x - 1); i <= std::min(source.width() - 1, x + 1); ++i) {
                    for (int32_t c = 0; c < 3; ++c)
                        sum[c] += source.row(j)[i * 3 + c];
                    ++n;
                }
            }
            testing_support::setPixel(out, x, y, clampByte(sum[2] / n), clampByte(sum[1] / n), clampByte(sum[0] / n));
        }
    }
    return out;
}

// A picture with a warm (orange-brown) subject on a cool ground, so that the
// similar engine's warm region and alignment window come into play.
Picture warmScene(int32_t width, int32_t height, uint32_t seed)
{
    Picture base = photoLikePicture(width, height, seed);
    const int32_t cx = width * static_cast<int32_t>(30 + seed % 40) / 100;
    const int32_t cy = height * static_cast<int32_t>(35 + seed % 30) / 100;
    const int32_t rx = width / 5, ry = height / 4;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            // In 64 bits: rx^2 * ry^2 overflows 32 bits from about 1,000 x 1,000.
            const int64_t dx = x - cx, dy = y - cy, rx2 = int64_t {rx} * rx, ry2 = int64_t {ry} * ry;
            if (dx * dx * ry2 + dy * dy * rx2 < rx2 * ry2) {
                const int32_t shade = (x * 7 + y * 3) % 40;
                testing_support::setPixel(base, x, y, clampByte(200 + shade / 2), clampByte(120 + shade), clampByte(60 + shade / 3));
            }
        }
    }
    return base;
}

// The picture inside a flat frame (bars of the given widths on each side),
// as a scan or a letterboxed frame would be.
Picture framed(const Picture& source, int32_t side, int32_t topBottom, uint8_t grey)
{
    const int32_t width = source.width() + 2 * side;
    const int32_t height = source.height() + 2 * topBottom;
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = x - side, sy = y - topBottom;
            if (sx < 0 || sy < 0 || sx >= source.width() || sy >= source.height()) {
                testing_support::setPixel(out, x, y, grey, grey, grey);
            } else {
                const uint8_t* p = source.row(sy) + sx * 3;
                testing_support::setPixel(out, x, y, p[2], p[1], p[0]);
            }
        }
    }
    return out;
}

// Hard black and white blocks: local contrasts above 255, which the similar
// engine keeps only in their low 8 bits.
Picture blocks(int32_t width, int32_t height, int32_t cell)
{
    return patternPicture(width, height, [cell](int32_t x, int32_t y) {
        const bool white = ((x / cell) + (y / cell) * 3) % 4 == 0 || ((x / cell) * (y / cell)) % 5 == 1;
        return white ? 0xffffffu : 0x000000u;
    });
}

Picture decoded(const std::string& path)
{
    LoadedPicture loaded = loadPicture(path, JpegIdct::Accurate);
    EXPECT_TRUE(loaded.ok()) << path;
    return std::move(loaded.picture);
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

CrosscheckFolder::CrosscheckFolder()
{
    using namespace testing_support;
    auto jpeg = [&](const std::string& name, const Picture& p, int quality = 90) {
        writeJpeg(m_dir.file(name), p, quality);
    };
    // Scenes, each with its variants.
    const struct { int32_t w, h; uint32_t seed; bool warm; } scenes[] = {
        {320, 240, 11, false}, {300, 220, 23, true}, {256, 256, 37, false},
        {360, 240, 41, true}, {240, 320, 58, false}, {400, 300, 64, true},
    };
    int32_t sceneIndex = 0;
    for (const auto& s : scenes) {
        const std::string stem = std::string("s") + std::to_string(sceneIndex++);
        const Picture original = s.warm ? warmScene(s.w, s.h, s.seed) : photoLikePicture(s.w, s.h, s.seed);
        jpeg(stem + "_orig.jpg", original, 92);
        writeBytes(m_dir.file(stem + "_copy.JPG"), readAll(m_dir.file(stem + "_orig.jpg")));
        jpeg(stem + "_q50.jpg", decoded(m_dir.file(stem + "_orig.jpg")), 50);
        jpeg(stem + "_small.jpg", shrunk(original, s.w * 9 / 10, s.h * 9 / 10));
        jpeg(stem + "_big.jpg", resized(original, s.w * 11 / 10, s.h * 11 / 10));
        jpeg(stem + "_crop3.jpg", cropped(original, s.w * 3 / 100, s.h * 2 / 100, s.w * 2 / 100, s.h * 3 / 100));
        jpeg(stem + "_crop8.jpg", cropped(original, s.w * 8 / 100, s.h * 6 / 100, 0, s.h * 4 / 100));
        jpeg(stem + "_crop5.jpg", cropped(original, s.w * 5 / 100, 0, 0, s.h * 5 / 100));
        jpeg(stem + "_crop6.jpg", cropped(original, 0, s.h * 6 / 100, s.w * 6 / 100, 0));
        jpeg(stem + "_bright.jpg", exposed(original, 100, 25));
        // Blur, a strong gamma and noise together move every profile at
        // once: pairs that pass each profile limit but not the total.
        jpeg(stem + "_harsh1.jpg", noisy(withGamma(blurred(original), 0.35), s.seed, 34), 95);
        jpeg(stem + "_harsh2.jpg", noisy(withGamma(blurred(original), 1.6), s.seed + 1, 38), 95);
        jpeg(stem + "_dark.jpg", exposed(original, 75, -10));
        if (sceneIndex % 2 == 0) {
            writeBmp24(m_dir.file(stem + "_bmp.BMP"), original);
            jpeg(stem + "_noise.jpg", noisy(original, s.seed, 24), 80);
        } else {
            jpeg(stem + "_q20.jpg", original, 20);
            jpeg(stem + "_other.jpg", photoLikePicture(s.w, s.h, s.seed + 1000));
        }
    }
    // Framed pictures, which the similar engine samples again from inside the frame.
    {
        const Picture scene1 = warmScene(300, 220, 23);
        jpeg("s1_framed.jpg", framed(scene1, 30, 24, 40));
        const Picture scene2 = photoLikePicture(256, 256, 37);
        jpeg("s2_framed.jpg", framed(scene2, 20, 2, 200));
        jpeg("s2_sidebars.jpg", framed(scene2, 40, 0, 0));
    }
    // Pale pictures, stretched from their black level.
    jpeg("s3_pale.jpg", exposed(warmScene(360, 240, 41), 60, 90));
    jpeg("s0_pale.jpg", exposed(photoLikePicture(320, 240, 11), 70, 40));
    // Larger pictures, sampled two pixels apart.
    {
        const Picture wide = warmScene(640, 480, 77);
        jpeg("s6_orig.jpg", wide);
        jpeg("s6_q60.jpg", wide, 60);
        jpeg("s6_small.jpg", shrunk(wide, 600, 450));
        jpeg("s6_crop.jpg", cropped(wide, 20, 10, 12, 14));
    }
    // Hard edges.
    jpeg("blocks_a.jpg", blocks(240, 180, 12));
    jpeg("blocks_b.jpg", blocks(240, 180, 12), 40);
    writeBmp24(m_dir.file("blocks_c.BMP"), blocks(250, 190, 12));
    // Flat pictures: two greys stretch to the same signature, a colour does not.
    jpeg("flat_grey1.jpg", solidPicture(200, 150, 128, 128, 128));
    writeBmp24(m_dir.file("flat_grey2.BMP"), solidPicture(210, 160, 60, 60, 60));
    jpeg("flat_colour.jpg", solidPicture(180, 180, 90, 140, 30));
    // Damaged and odd files.
    const std::string whole = readAll(m_dir.file("s0_orig.jpg"));
    writeBytes(m_dir.file("bad_empty.jpg"), "");
    writeBytes(m_dir.file("bad_truncated.jpg"), whole.substr(0, 300));
    writeBytes(m_dir.file("bad_garbage.jpg"), std::string(4000, '\x5a'));
    writeBytes(m_dir.file("bad_jpeg_inside.BMP"), whole);
    writeBytes(m_dir.file("bad_text.bmp"), "not a bitmap at all");
    // Tiny pictures: 2 x 2 is too small for both engines, 4 x 4 for the identical one.
    writeBmp24(m_dir.file("tiny_2x2.BMP"), photoLikePicture(2, 2, 5));
    jpeg("tiny_4x4.jpg", photoLikePicture(4, 4, 6));
    writeBmp24(m_dir.file("tiny_3x3.BMP"), photoLikePicture(3, 3, 7));
    jpeg("tiny_5x5.jpg", photoLikePicture(5, 5, 8));
    writeBmp24(m_dir.file("tiny_flat3x3.BMP"), solidPicture(3, 3, 120, 130, 140));
    writeBmp24(m_dir.file("tiny_flat5x5.BMP"), solidPicture(5, 5, 100, 100, 100));
    writeBmp24(m_dir.file("tiny_3x7.BMP"), photoLikePicture(3, 7, 9));
    writeBmp24(m_dir.file("tiny_7x3.BMP"), photoLikePicture(7, 3, 10));
    writeBmp24(m_dir.file("tiny_1x50.BMP"), photoLikePicture(1, 50, 12));
    jpeg("small_12x9.jpg", photoLikePicture(12, 9, 13));
    jpeg("small_13x10.jpg", photoLikePicture(13, 10, 13));
    jpeg("strip_600x40.jpg", photoLikePicture(600, 40, 14));
    jpeg("strip_40x600.jpg", photoLikePicture(40, 600, 15));

    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        paths.push_back(entry.path().string());
    sortLines(paths);
    for (const std::string& path : paths) {
        File_rec rec;
        rec.path = path;
        rec.size = static_cast<int64_t>(std::filesystem::file_size(path));
        m_table.push_back(rec);
    }
}

const CrosscheckFolder& folder()
{
    static const auto made = std::make_unique<CrosscheckFolder>();
    return *made;
}

} // namespace crosscheck
