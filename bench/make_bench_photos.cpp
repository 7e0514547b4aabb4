// Writes a folder of real-size JPEG photographs for the benchmarks:
//
//   make_bench_photos FOLDER COUNT [WIDTH HEIGHT]
//
// COUNT pictures of WIDTH x HEIGHT (default 3000 x 2000) named photo_0000.jpg
// and on, made with libjpeg at quality 90. The pictures carry gradients,
// shapes and fine grain, so that they decode about as slowly as camera
// pictures do (a flat synthetic picture decodes several times faster and
// would flatter every timing). Among them are duplicates:
//   - every tenth file from photo_0003 on is a byte copy of the file before it;
//   - every tenth file from photo_0007 on is the file before it, decoded and
//     saved again at quality 80 (same picture, different bytes and size);
//   - every twentieth file from photo_0015 on is the file before it, one
//     shade brighter and saved again at quality 90 (a near duplicate).
// The output depends only on the arguments. Existing files are overwritten.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "support/test_pictures.h"

namespace {

constexpr int kQuality = 90;
constexpr int kResaveQuality = 80;

struct Shape {
    int cx, cy, rx, ry;
    uint8_t r, g, b;
    bool ellipse;
};

// A cheap per-pixel hash for grain: deterministic, no state.
inline uint32_t grain(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 0x9E3779B1u ^ (y + seed) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

Picture makePhoto(int32_t width, int32_t height, uint32_t seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int skyR = pick(40, 200), skyG = pick(60, 220), skyB = pick(90, 255);
    const int groundR = pick(20, 160), groundG = pick(30, 170), groundB = pick(10, 120);
    const int horizon = height * pick(25, 70) / 100;
    std::vector<Shape> shapes;
    for (int i = 0; i < 40; ++i) {
        const int r = pick(width / 40, width / 6);
        shapes.push_back(Shape {pick(0, width - 1), pick(0, height - 1), r, r * pick(40, 160) / 100,
                                static_cast<uint8_t>(pick(0, 255)), static_cast<uint8_t>(pick(0, 255)),
                                static_cast<uint8_t>(pick(0, 255)), pick(0, 1) == 1});
    }
    const int grainAmount = pick(6, 18);

    Picture picture(width, height);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = picture.row(y);
        for (int32_t x = 0; x < width; ++x) {
            int r, g, b;
            if (y < horizon) {
                const int t = y * 255 / std::max(1, horizon);
                r = skyR + (255 - skyR) * t / 512;
                g = skyG + (255 - skyG) * t / 512;
                b = skyB - skyB * t / 700;
            } else {
                const int t = (y - horizon) * 255 / std::max(1, height - horizon);
                r = groundR * (255 - t / 2) / 255;
                g = groundG * (255 - t / 3) / 255;
                b = groundB * (255 - t / 2) / 255;
            }
            row[3 * x + 0] = static_cast<uint8_t>(b);
            row[3 * x + 1] = static_cast<uint8_t>(g);
            row[3 * x + 2] = static_cast<uint8_t>(r);
        }
        for (const Shape& s : shapes) {
            const int dy = y - s.cy;
            if (dy < -s.ry || dy > s.ry)
                continue;
            int half = s.rx;
            if (s.ellipse) {
                // x extent of the ellipse on this row
                const double f = 1.0 - static_cast<double>(dy) * dy / (static_cast<double>(s.ry) * s.ry);
                half = static_cast<int>(s.rx * std::sqrt(std::max(0.0, f)));
            }
            const int x0 = std::max(0, s.cx - half), x1 = std::min(width - 1, s.cx + half);
            for (int x = x0; x <= x1; ++x) {
                // shading across the shape so that it is not flat
                const int shade = (x - s.cx) * 40 / std::max(1, s.rx);
                row[3 * x + 0] = static_cast<uint8_t>(std::clamp(s.b - shade, 0, 255));
                row[3 * x + 1] = static_cast<uint8_t>(std::clamp(s.g - shade, 0, 255));
                row[3 * x + 2] = static_cast<uint8_t>(std::clamp(s.r - shade, 0, 255));
            }
        }
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t h = grain(static_cast<uint32_t>(x), static_cast<uint32_t>(y), seed);
            const int n = static_cast<int>(h % static_cast<uint32_t>(2 * grainAmount + 1)) - grainAmount;
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = static_cast<uint8_t>(std::clamp(row[3 * x + c] + n, 0, 255));
        }
    }
    return picture;
}

Picture brighter(Picture picture)
{
    uint8_t* data = picture.data();
    for (std::size_t i = 0; i < picture.byteCount(); ++i)
        data[i] = static_cast<uint8_t>(std::min(255, data[i] + 4));
    return picture;
}

bool parsePositive(const char* text, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 100000)
        return false;
    out = static_cast<int>(value);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int count = 0, width = 3000, height = 2000;
    if ((argc != 3 && argc != 5) || !parsePositive(argv[2], count)
        || (argc == 5 && (!parsePositive(argv[3], width) || !parsePositive(argv[4], height)))) {
        std::fputs("usage: make_bench_photos FOLDER COUNT [WIDTH HEIGHT]\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        std::fprintf(stderr, "make_bench_photos: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    try {
        std::string previous;
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "photo_%04d.jpg", i);
            const std::string path = (folder / name).string();
            if (i > 0 && i % 10 == 3) {
                std::filesystem::copy_file(previous, path, std::filesystem::copy_options::overwrite_existing);
            } else if (i > 0 && (i % 10 == 7 || i % 20 == 15)) {
                LoadedPicture loaded = loadPicture(previous, JpegIdct::Accurate);
                if (!loaded.ok())
                    throw std::runtime_error(previous + ": " + loaded.error);
                if (i % 10 == 7)
                    testing_support::writeJpeg(path, loaded.picture, kResaveQuality);
                else
                    testing_support::writeJpeg(path, brighter(std::move(loaded.picture)), kQuality);
            } else {
                testing_support::writeJpeg(path, makePhoto(width, height, 1000u + static_cast<uint32_t>(i)), kQuality);
            }
            previous = path;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_bench_photos: %s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "make_bench_photos: %d pictures of %dx%d in %s (%.1f s)\n", count, width, height,
                 folder.c_str(), seconds);
    return 0;
}
