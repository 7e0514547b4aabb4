// Writes a large collection of small, distinct pictures cut from real
// photographs, for the pair-phase benchmarks:
//
//   make_photo_collection FOLDER COUNT SOURCE...
//
// SOURCE is a picture file or a folder searched for .jpg/.jpeg files of at
// least 100 KB (the wallpaper packages' photographs; their small logos and
// drawn PNG art are left out). Pictures not meant as copies should rarely
// match, though a few dozen photographs are all there is to cut from, so each
// varies what it shows as much as it can: a crop with detail in it (no
// stretch of bare sky) at any place and from half to six times the size of
// the output, 160 to 400 pixels wide; 85 in 100 blended with a crop of
// another photograph at 20 to 80 %; 70 in 100 with one to three patches of
// other crops laid over parts of it; 40 in 100 turned by any angle, the rest
// by quarters, each mirror with even odds; 60 in 100 lit unevenly (a ramp or
// a spot), and every one recoloured (channels swapped, each with its own
// gamma, contrast and offset; 8 in 100 grey, 8 in 100 inverted). A picture
// that comes out without fine detail or without tones that differ across it
// (an even texture) is lit and coloured again. One in 25 (every index that
// is 24 modulo 25) is a near copy of the picture before it (saved again at
// another quality, slightly brighter, trimmed or rescaled by a few pixels).
// Names are pic_000000.jpg on. The output depends only on the arguments and
// the sources; files already there are overwritten.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <QImage>
#include <QPainter>
#include <QTransform>

#include "common/parallel_for.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "support/test_pictures.h"

namespace {

constexpr std::uintmax_t kMinSourceBytes = 100 * 1024;
// Sources are scaled down to this width once: crops of 160 to 400 pixels
// never need more, and a hundred sources stay within a few hundred MB.
constexpr int kSourceWidth = 1024;
constexpr int kNearCopyEvery = 25;
// What a crop needs to count as a picture with detail (tones 0..255).
constexpr double kMinToneDeviation = 28;
constexpr double kMinToneStep = 5;
constexpr double kMinLayoutDeviation = 16;
constexpr int kCropAttempts = 8;
constexpr int kBlendPercent = 85;
constexpr int kPatchPercent = 70;
constexpr int kAnyAnglePercent = 40;
constexpr int kLightPercent = 60;
constexpr int kColourAttempts = 4;

std::vector<std::string> sourceFiles(int argc, char** argv)
{
    std::vector<std::string> files;
    const auto take = [&files](const std::filesystem::path& p) {
        std::string ext = p.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        std::error_code ec;
        // Photographs come as JPEG; the PNG wallpapers are drawn art.
        if ((ext == ".jpg" || ext == ".jpeg") && std::filesystem::file_size(p, ec) >= kMinSourceBytes)
            files.push_back(p.string());
    };
    for (int i = 3; i < argc; ++i) {
        const std::filesystem::path source = argv[i];
        if (std::filesystem::is_directory(source)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(source)) {
                if (entry.is_regular_file())
                    take(entry.path());
            }
        } else {
            take(source);
        }
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

QImage loadSource(const std::string& path)
{
    QImage image;
    LoadedPicture loaded = loadPicture(path, JpegIdct::Accurate);
    if (loaded.ok()) {
        const Picture& p = loaded.picture;
        image = QImage(p.width(), p.height(), QImage::Format_RGB888);
        for (int32_t y = 0; y < p.height(); ++y) {
            const uint8_t* in = p.row(y);
            uchar* out = image.scanLine(y);
            for (int32_t x = 0; x < p.width(); ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
        }
    }
    if (image.isNull() || image.width() < 400 || image.height() < 300)
        return {};
    image = image.convertToFormat(QImage::Format_RGB888);
    if (image.width() > kSourceWidth)
        image = image.scaledToWidth(kSourceWidth, Qt::SmoothTransformation);
    return image;
}

Picture toPicture(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Picture picture(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* in = rgb.constScanLine(y);
        uint8_t* out = picture.row(y);
        for (int x = 0; x < rgb.width(); ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    return picture;
}

class Maker {
public:
    explicit Maker(const std::vector<QImage>& sources) : m_sources(sources) {}

    // Picture `index` and the JPEG quality it is saved at.
    QImage picture(int index, int& quality) const
    {
        if (index % kNearCopyEvery == kNearCopyEvery - 1)
            return nearCopy(index, quality);
        std::mt19937 rng(0x5eed0000u + static_cast<uint32_t>(index));
        const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const QImage shape = anyShape(rng);
        quality = pick(70, 92);
        // Strong light and colour changes can leave a picture next to flat
        // (dark, clipped) or an even texture; another draw then takes their place.
        for (int attempt = 0; attempt < kColourAttempts; ++attempt) {
            QImage out = shape.copy();
            if (attempt > 0 || pick(0, 99) < kLightPercent)
                relight(out, rng);
            recolour(out, rng);
            if (hasDetail(out) && hasLayout(out))
                return out;
        }
        return shape;
    }

private:
    // Crops of one or more photographs, blended, patched, turned and mirrored.
    QImage anyShape(std::mt19937& rng) const
    {
        const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const int width = pick(160, 400);
        const int height = std::clamp(width * pick(55, 140) / 100, 120, 400);
        // Cut a little larger, so that a turn by any angle still fills the frame.
        const int side = static_cast<int>(std::ceil(std::hypot(width, height))) + 2;
        const bool anyAngle = pick(0, 99) < kAnyAnglePercent;
        const int cutWidth = anyAngle ? side : width;
        const int cutHeight = anyAngle ? side : height;
        const int first = pickSource(rng);
        QImage out = crop(rng, first, cutWidth, cutHeight);
        if (pick(0, 99) < kBlendPercent) {
            // Blended with a crop of another photograph at any weight: with a
            // few dozen sources, most pictures must mix two of them to be distinct.
            int second = pickSource(rng);
            if (second == first)
                second = (second + 1) % static_cast<int>(m_sources.size());
            const QImage other = crop(rng, second, cutWidth, cutHeight);
            QPainter painter(&out);
            painter.setOpacity(pick(20, 80) / 100.0);
            painter.drawImage(0, 0, other);
        }
        // Patches of other crops laid over parts of the picture: the layout of
        // tones and edges is what the signatures see, so it must differ most.
        const int patches = pick(0, 99) < kPatchPercent ? pick(1, 3) : 0;
        for (int i = 0; i < patches; ++i) {
            const int w = cutWidth * pick(20, 60) / 100;
            const int h = cutHeight * pick(20, 60) / 100;
            const QImage patch = crop(rng, pickSource(rng), std::max(8, w), std::max(8, h));
            QPainter painter(&out);
            painter.setOpacity(pick(50, 100) / 100.0);
            painter.drawImage(pick(0, cutWidth - w), pick(0, cutHeight - h), patch);
        }
        if (anyAngle) {
            const QImage turned = out.transformed(QTransform().rotate(pick(0, 359)));
            out = turned.copy((turned.width() - width) / 2, (turned.height() - height) / 2, width, height);
        } else if (const int quarter = pick(0, 3); quarter != 0) {
            out = out.transformed(QTransform().rotate(90 * quarter));
        }
        if (pick(0, 1) == 1)
            out = out.mirrored(true, false);
        if (pick(0, 1) == 1)
            out = out.mirrored(false, true);
        return out.convertToFormat(QImage::Format_RGB888);
    }

    int pickSource(std::mt19937& rng) const
    {
        return std::uniform_int_distribution<int>(0, static_cast<int>(m_sources.size()) - 1)(rng);
    }

    // A crop of source `s` with detail in it: a stretch of sky or a flat
    // backdrop carries next to no signature, and a collection full of them
    // would match in one huge group, as no real photograph collection does.
    QImage crop(std::mt19937& rng, int s, int width, int height) const
    {
        QImage region;
        for (int attempt = 0; attempt < kCropAttempts; ++attempt) {
            region = anyCrop(rng, s, width, height);
            if (hasDetail(region))
                break;
        }
        return region;
    }

    static bool hasDetail(const QImage& image)
    {
        int64_t sum = 0, squares = 0, steps = 0;
        int64_t count = 0;
        for (int y = 0; y < image.height(); ++y) {
            const uchar* p = image.constScanLine(y);
            int previous = -1;
            for (int x = 0; x < image.width(); ++x, p += 3) {
                const int tone = (30 * p[0] + 59 * p[1] + 11 * p[2]) / 100;
                sum += tone;
                squares += tone * tone;
                if (previous >= 0)
                    steps += std::abs(tone - previous);
                previous = tone;
                ++count;
            }
        }
        const double mean = double(sum) / count;
        const double deviation = std::sqrt(std::max(0.0, double(squares) / count - mean * mean));
        return deviation >= kMinToneDeviation && double(steps) / count >= kMinToneStep;
    }

    // Tones that differ across the picture at large, not only in a fine
    // texture: the band profiles of a picture of even grass or gravel are
    // flat, and every two such pictures would pass for copies.
    static bool hasLayout(const QImage& image)
    {
        constexpr int kCells = 4;
        std::array<int64_t, kCells * kCells> sums {};
        std::array<int64_t, kCells * kCells> counts {};
        for (int y = 0; y < image.height(); ++y) {
            const uchar* p = image.constScanLine(y);
            const int row = y * kCells / image.height();
            for (int x = 0; x < image.width(); ++x, p += 3) {
                const auto cell = static_cast<std::size_t>(row * kCells + x * kCells / image.width());
                sums[cell] += (30 * p[0] + 59 * p[1] + 11 * p[2]) / 100;
                ++counts[cell];
            }
        }
        double sum = 0, squares = 0;
        for (std::size_t c = 0; c < sums.size(); ++c) {
            const double mean = double(sums[c]) / std::max<int64_t>(1, counts[c]);
            sum += mean;
            squares += mean * mean;
        }
        const double mean = sum / sums.size();
        return std::sqrt(std::max(0.0, squares / sums.size() - mean * mean)) >= kMinLayoutDeviation;
    }

    QImage anyCrop(std::mt19937& rng, int s, int width, int height) const
    {
        const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const QImage& source = m_sources[static_cast<std::size_t>(s)];
        // A region from half to six times the output size, anywhere in the
        // source: close-ups and wide views of one photograph differ.
        const double scale = std::min({pick(50, 600) / 100.0, double(source.width()) / width,
                                       double(source.height()) / height});
        const int w = std::max(1, static_cast<int>(width * scale));
        const int h = std::max(1, static_cast<int>(height * scale));
        // Sampled, not smoothed: smooth scaling of the large regions costs
        // more than everything else, and the sources are smooth already.
        return source.copy(pick(0, source.width() - w), pick(0, source.height() - h), w, h)
            .scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .convertToFormat(QImage::Format_RGB888);
    }

    // Light falling across the picture: a ramp in any direction or a spot,
    // darkening parts of it by up to 80 %.
    static void relight(QImage& image, std::mt19937& rng)
    {
        const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const double strength = pick(30, 80) / 100.0;
        const bool spot = pick(0, 1) == 1;
        const double angle = pick(0, 359) * 3.14159265358979 / 180;
        const double cx = spot ? pick(0, 100) / 100.0 : 0.5, cy = spot ? pick(0, 100) / 100.0 : 0.5;
        const double dx = std::cos(angle), dy = std::sin(angle);
        const double w = image.width(), h = image.height();
        for (int y = 0; y < image.height(); ++y) {
            uchar* p = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x, p += 3) {
                const double u = x / w - cx, v = y / h - cy;
                const double t = spot ? 1.0 - 2.0 * (u * u + v * v) : 0.5 + 0.7 * (u * dx + v * dy);
                const double gain = 1.0 - strength * (1.0 - std::clamp(t, 0.0, 1.0));
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<uchar>(p[c] * gain + 0.5);
            }
        }
    }

    // Channels swapped, then each through its own gamma and contrast curve;
    // now and then inverted or turned grey.
    static void recolour(QImage& image, std::mt19937& rng)
    {
        const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        int order[3] = {0, 1, 2};
        std::shuffle(order, order + 3, rng);
        const int change = pick(0, 99);
        const bool grey = change < 8;
        const bool invert = change >= 8 && change < 16;
        std::array<std::array<uchar, 256>, 3> curve {};
        for (auto& table : curve) {
            const double gamma = std::exp(pick(-70, 70) / 100.0); // 0.5 to 2.0
            const double contrast = pick(60, 160) / 100.0;
            const double offset = pick(-30, 30);
            for (int v = 0; v < 256; ++v) {
                double out = 255.0 * std::pow(v / 255.0, gamma);
                out = (out - 128.0) * contrast + 128.0 + offset;
                if (invert)
                    out = 255.0 - out;
                table[static_cast<std::size_t>(v)]
                    = static_cast<uchar>(std::clamp(static_cast<int>(out + 0.5), 0, 255));
            }
        }
        for (int y = 0; y < image.height(); ++y) {
            uchar* p = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x, p += 3) {
                uchar in[3] = {p[order[0]], p[order[1]], p[order[2]]};
                if (grey)
                    in[0] = in[1] = in[2] = static_cast<uchar>((30 * in[0] + 59 * in[1] + 11 * in[2]) / 100);
                for (int c = 0; c < 3; ++c)
                    p[c] = curve[static_cast<std::size_t>(c)][in[c]];
            }
        }
    }

    QImage nearCopy(int index, int& quality) const
    {
        QImage base = picture(index - 1, quality);
        std::mt19937 rng(0xc0b1e000u + static_cast<uint32_t>(index));
        const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        switch (pick(0, 3)) {
        case 0: // saved again at another quality
            quality = std::clamp(quality + pick(-15, 5), 50, 95);
            return base;
        case 1: { // a shade brighter
            for (int y = 0; y < base.height(); ++y) {
                uchar* p = base.scanLine(y);
                for (int x = 0; x < 3 * base.width(); ++x)
                    p[x] = static_cast<uchar>(std::min(255, p[x] + 5));
            }
            return base;
        }
        case 2: { // a few pixels trimmed off the edges
            const int t = pick(1, 4);
            return base.copy(t, t, base.width() - 2 * t, base.height() - 2 * t);
        }
        default: // rescaled a little
            return base.scaled(base.width() * 95 / 100, base.height() * 95 / 100, Qt::IgnoreAspectRatio,
                               Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB888);
        }
    }

    const std::vector<QImage>& m_sources;
};

} // namespace

int main(int argc, char** argv)
{
    const int count = argc >= 4 ? std::atoi(argv[2]) : 0;
    if (argc < 4 || count < 1 || count > 999999) {
        std::fputs("usage: make_photo_collection FOLDER COUNT SOURCE...\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        std::fprintf(stderr, "make_photo_collection: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    const std::vector<std::string> files = sourceFiles(argc, argv);
    std::vector<QImage> sources(files.size());
    parallelFor(static_cast<int64_t>(files.size()), 0,
                [&](int64_t i, int32_t) { sources[static_cast<std::size_t>(i)] = loadSource(files[static_cast<std::size_t>(i)]); });
    sources.erase(std::remove_if(sources.begin(), sources.end(), [](const QImage& s) { return s.isNull(); }),
                  sources.end());
    if (sources.size() < 2) {
        std::fprintf(stderr, "make_photo_collection: fewer than two usable source photographs\n");
        return 1;
    }
    std::fprintf(stderr, "make_photo_collection: %zu source photographs\n", sources.size());

    const auto start = std::chrono::steady_clock::now();
    const Maker maker(sources);
    std::atomic<int> written {0};
    parallelFor(count, 0, [&](int64_t i, int32_t) {
        char name[32];
        std::snprintf(name, sizeof name, "pic_%06d.jpg", static_cast<int>(i));
        int quality = 85;
        const QImage image = maker.picture(static_cast<int>(i), quality);
        testing_support::writeJpeg((folder / name).string(), toPicture(image), quality);
        const int done = ++written;
        if (done % 10000 == 0)
            std::fprintf(stderr, "  %d pictures\n", done);
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "make_photo_collection: %d pictures in %s (%.1f s)\n", count, folder.c_str(), seconds);
    return 0;
}
