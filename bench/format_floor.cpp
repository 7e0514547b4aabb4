// Searches of every picture format against what its own library needs to
// decode the same files:
//
//   format_floor FOLDER [--jobs N] [--runs N] [--only KIND] [--threads]
//
// FOLDER holds one folder a kind, as bench/make_format_photos.sh writes them
// (100 crops of the wallpaper packages' photographs in each): png,
// webp-lossless, webp-q90, tiff, gif, heic, avif, jxl. For each kind:
// 1. The floor: every file of the folder decoded whole by the format's
//    library through its plain API, on N threads taking files in turn
//    (default: every core), nothing kept: libpng row by row (png_read_row,
//    8-bit B, G, R), WebPDecodeBGR, libtiff scanlines (TIFFReadScanline,
//    or TIFFReadRGBAStrip where the samples are not 8-bit contiguous),
//    DGifSlurp and the first frame through its colour map, heif_decode_image
//    to interleaved RGB (libheif's default decoding threads), JxlDecoder to
//    an RGB buffer (no parallel runner).
// 2. The identical-picture search of that folder with --formats of the kind,
//    in this process, without the signature cache, on the same N threads.
// Runs alternate floor and search N times (default 3) and keep the best
// wall and CPU seconds of each. The table gives both ratios; the target is a
// search at most 1.10 x its floor. The machine is shared: say how busy it
// was with the numbers.
//
// --threads adds, per kind, one more floor and one more search (untimed)
// during which the process's threads are counted every millisecond
// (/proc/self/task): the most seen besides the main thread, and how many
// different threads were seen in all (a decoder that starts threads for
// each picture shows many more than it ever runs at once).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gif_lib.h>
#include <jxl/decode.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

#include "common/parallel_for.h"
#include "driver/search_job.h"
#include "picture/picture_format.h"
#include "search/search_options.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

template <typename F>
void timeBest(Timing& best, F&& work)
{
    const auto start = Clock::now();
    const double cpu = cpuSeconds();
    work();
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
    best.cpu = std::min(best.cpu, cpuSeconds() - cpu);
}

// Keeps the compiler from dropping the decoded pixels.
std::atomic<unsigned> g_sink {0};

void keep(const uint8_t* bytes)
{
    g_sink.fetch_add(bytes[0], std::memory_order_relaxed);
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool floorPng(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    row.resize(png_get_rowbytes(png, info));
    const png_uint_32 height = png_get_image_height(png, info);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, row.data(), nullptr);
    }
    keep(row.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

bool floorWebp(const std::string& path)
{
    const std::vector<uint8_t> data = readFile(path);
    int width = 0;
    int height = 0;
    uint8_t* pixels = WebPDecodeBGR(data.data(), data.size(), &width, &height);
    if (pixels == nullptr)
        return false;
    keep(pixels);
    WebPFree(pixels);
    return true;
}

bool floorTiff(const std::string& path)
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr)
        return false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t planar = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    bool ok = true;
    if (bits == 8 && planar == PLANARCONFIG_CONTIG && !TIFFIsTiled(tiff)) {
        std::vector<uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize64(tiff)));
        for (uint32_t y = 0; y < height && ok; ++y)
            ok = TIFFReadScanline(tiff, row.data(), y, 0) == 1;
        keep(row.data());
    } else {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::min(rowsPerStrip, height);
        std::vector<uint32_t> strip(static_cast<std::size_t>(width) * rowsPerStrip);
        for (uint32_t y = 0; y < height && ok; y += rowsPerStrip)
            ok = TIFFReadRGBAStrip(tiff, y, strip.data()) == 1;
        keep(reinterpret_cast<const uint8_t*>(strip.data()));
    }
    TIFFClose(tiff);
    return ok;
}

bool floorGif(const std::string& path)
{
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr)
        return false;
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
    if (ok) {
        const SavedImage& frame = gif->SavedImages[0];
        const ColorMapObject* map = frame.ImageDesc.ColorMap != nullptr ? frame.ImageDesc.ColorMap : gif->SColorMap;
        const int width = frame.ImageDesc.Width;
        std::vector<uint8_t> row(static_cast<std::size_t>(width) * 3);
        for (int y = 0; y < frame.ImageDesc.Height && map != nullptr; ++y) {
            const GifByteType* indices = frame.RasterBits + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                const GifColorType& colour = map->Colors[indices[x] % map->ColorCount];
                row[3 * x] = colour.Blue;
                row[3 * x + 1] = colour.Green;
                row[3 * x + 2] = colour.Red;
            }
        }
        keep(row.data());
    }
    DGifCloseFile(gif, &error);
    return ok;
}

bool floorHeif(const std::string& path)
{
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    bool ok = heif_context_read_from_file(context, path.c_str(), nullptr).code == heif_error_Ok
              && heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok
              && heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code
                     == heif_error_Ok;
    if (ok) {
        int stride = 0;
        keep(heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return ok;
}

bool floorJxl(const std::string& path)
{
    const std::vector<uint8_t> data = readFile(path);
    JxlDecoder* decoder = JxlDecoderCreate(nullptr);
    JxlDecoderSubscribeEvents(decoder, JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(decoder, data.data(), data.size());
    JxlDecoderCloseInput(decoder);
    const JxlPixelFormat format {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<uint8_t> pixels;
    bool ok = false;
    for (bool more = true; more;) {
        switch (JxlDecoderProcessInput(decoder)) {
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t bytes = 0;
            JxlDecoderImageOutBufferSize(decoder, &format, &bytes);
            pixels.resize(bytes);
            more = JxlDecoderSetImageOutBuffer(decoder, &format, pixels.data(), bytes) == JXL_DEC_SUCCESS;
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            ok = true;
            more = false;
            break;
        default:
            more = false;
        }
    }
    if (ok)
        keep(pixels.data());
    JxlDecoderDestroy(decoder);
    return ok;
}

// Counts the process's threads while it lives, from a thread of its own
// (not counted).
class ThreadWatch {
public:
    ThreadWatch()
        : m_thread([this] {
              const std::string self = std::to_string(gettid());
              while (!m_stop.load()) {
                  int now = 0;
                  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
                      const std::string id = entry.path().filename().string();
                      if (id != self && id != m_main) {
                          ++now;
                          m_seen.insert(id);
                      }
                  }
                  m_most = std::max(m_most, now);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    // The most threads seen at once besides the main one, and all seen.
    std::pair<int, int> stop()
    {
        m_stop = true;
        m_thread.join();
        return {m_most, static_cast<int>(m_seen.size())};
    }

private:
    const std::string m_main = std::to_string(gettid());
    std::atomic<bool> m_stop {false};
    int m_most = 0;
    std::set<std::string> m_seen;
    std::thread m_thread;
};

struct Kind {
    const char* folder;
    PictureFormat format;
    bool (*floor)(const std::string& path);
};

constexpr Kind kKinds[] = {
    {"png", PictureFormat::Png, floorPng},         {"webp-lossless", PictureFormat::Webp, floorWebp},
    {"webp-q90", PictureFormat::Webp, floorWebp},  {"tiff", PictureFormat::Tiff, floorTiff},
    {"gif", PictureFormat::Gif, floorGif},         {"heic", PictureFormat::Heic, floorHeif},
    {"avif", PictureFormat::Avif, floorHeif},      {"jxl", PictureFormat::Jxl, floorJxl},
};

const char* const kUsage = "usage: format_floor FOLDER [--jobs N] [--runs N] [--only KIND] [--threads]\n";

std::vector<std::string> filesOf(const std::string& folder, PictureFormat format)
{
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && formatOfName(entry.path().string()) == format)
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    int32_t jobs = 0;
    int runs = 3;
    std::string only;
    bool threads = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--jobs" && i + 1 < argc)
            jobs = std::atoi(argv[++i]);
        else if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--threads")
            threads = true;
        else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }
    jobs = resolveJobs(jobs);
    const std::filesystem::path root = std::filesystem::absolute(argv[1]).lexically_normal();
    std::printf("format_floor: %d thread(s), best of %d run(s)\n", jobs, runs);
    std::printf("%-14s %5s %8s %10s %10s %8s %8s %8s\n", "kind", "files", "MB", "floor s", "search s", "ratio",
                "floorCPU", "CPU ratio");
    for (const Kind& kind : kKinds) {
        if (!only.empty() && only != kind.folder)
            continue;
        const std::string folder = (root / kind.folder).string();
        const std::vector<std::string> paths = filesOf(folder, kind.format);
        if (paths.empty())
            continue;
        double bytes = 0;
        for (const std::string& path : paths)
            bytes += static_cast<double>(std::filesystem::file_size(path));
        SearchOptions options;
        options.folder = folder;
        options.mode = CheckMode::Identical;
        options.jobs = jobs;
        options.formats = PictureFormats();
        options.formats.add(kind.format);
        Timing floor;
        Timing search;
        std::atomic<int> failed {0};
        int64_t searched = 0;
        std::size_t unreadable = 0;
        for (int run = 0; run < runs; ++run) {
            timeBest(floor, [&] {
                parallelFor(static_cast<int64_t>(paths.size()), jobs, [&](int64_t index, int32_t) {
                    if (!kind.floor(paths[static_cast<std::size_t>(index)]))
                        failed.fetch_add(1);
                });
            });
            timeBest(search, [&] {
                std::atomic<bool> abortFlag {false};
                const SearchOutcome outcome = runSearch(options, abortFlag);
                searched = outcome.counters.fileCount;
                unreadable = outcome.unreadable.size();
            });
        }
        std::printf("%-14s %5zu %8.1f %10.3f %10.3f %8.2f %8.3f %8.2f%s\n", kind.folder, paths.size(), bytes / 1e6,
                    floor.wall, search.wall, search.wall / floor.wall, floor.cpu, search.cpu / floor.cpu,
                    failed.load() != 0 ? "  (some files failed the floor)" : "");
        if (threads) {
            ThreadWatch floorWatch;
            parallelFor(static_cast<int64_t>(paths.size()), jobs,
                        [&](int64_t index, int32_t) { kind.floor(paths[static_cast<std::size_t>(index)]); });
            const auto [floorMost, floorSeen] = floorWatch.stop();
            ThreadWatch searchWatch;
            std::atomic<bool> abortFlag {false};
            runSearch(options, abortFlag);
            const auto [searchMost, searchSeen] = searchWatch.stop();
            std::printf("  threads besides the main one: floor %d at once (%d in all), search %d at once (%d in all)\n",
                        floorMost, floorSeen, searchMost, searchSeen);
        }
        // A search that could not read its files would be quick for nothing.
        if (searched != static_cast<int64_t>(paths.size()) || unreadable != 0)
            std::printf("  the search took %lld files, %zu of them unreadable\n", static_cast<long long>(searched),
                        unreadable);
        std::fflush(stdout);
    }
    return 0;
}
