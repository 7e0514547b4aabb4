// The decode floor: what reading the pictures of a folder costs at the very
// least, for comparing searches against it.
//
//   decode_floor FOLDER [--runs N] [--streamer]
//
// Floor: every .JPG of FOLDER (any letter case, not recursive) streamed
// through libjpeg-turbo in one process (fast integer IDCT, B, G, R output,
// 16-row strips into one reused buffer, nothing kept) and every other
// picture file (.BMP) read whole into one reused buffer. Prints the seconds
// of the best of N runs (default 3), wall and CPU.
//
// --streamer also times PictureStreamer delivering every row of every
// picture to a sink that only touches it, and one that wants 25 rows, in the
// same runs, alternating with the floor so that both see the same load.
// Timings on a shared machine are noisy: say how busy it was.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "common/file_name.h"
#include "picture/picture_stream.h"

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

// Keeps the compiler from dropping the decoded rows.
volatile unsigned g_sink = 0;

void floorJpeg(const std::string& path, std::vector<uint8_t>& strip)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_IFAST;
    cinfo.out_color_space = cinfo.num_components == 4 ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components;
    constexpr int kRows = 16;
    if (strip.size() < stride * kRows)
        strip.resize(stride * kRows);
    JSAMPROW rows[kRows];
    for (int i = 0; i < kRows; ++i)
        rows[i] = strip.data() + stride * static_cast<std::size_t>(i);
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows, kRows);
    g_sink = g_sink + strip[0];
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
}

void floorWholeFile(const std::string& path, std::vector<uint8_t>& buffer)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    if (size > 0) {
        if (buffer.size() < static_cast<std::size_t>(size))
            buffer.resize(static_cast<std::size_t>(size));
        g_sink = g_sink + static_cast<unsigned>(std::fread(buffer.data(), 1, static_cast<std::size_t>(size), file));
    }
    std::fclose(file);
}

class TouchingSink : public RowSink {
public:
    explicit TouchingSink(int wanted) : m_wanted(wanted) {}
    bool begin(int32_t, int32_t height) override
    {
        m_height = height;
        return true;
    }
    bool wantsRow(int32_t y) const override
    {
        return m_wanted == 0 || (y * int64_t {m_wanted}) / m_height != ((y + 1) * int64_t {m_wanted}) / m_height;
    }
    void row(int32_t, const uint8_t* bgr) override { g_sink = g_sink + bgr[0]; }

private:
    int m_wanted; // 0: every row
    int32_t m_height = 1;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_floor FOLDER [--runs N] [--streamer]\n");
        return 2;
    }
    int runs = 3;
    bool streamer = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--streamer")
            streamer = true;
    }
    std::vector<std::string> jpegs;
    std::vector<std::string> others;
    int64_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (!entry.is_regular_file())
            continue;
        const std::string path = entry.path().string();
        (upperExtension(path) == ".JPG" ? jpegs : others).push_back(path);
        bytes += static_cast<int64_t>(entry.file_size());
    }
    std::sort(jpegs.begin(), jpegs.end());
    std::sort(others.begin(), others.end());
    std::printf("%zu JPEG, %zu other files, %.1f MB\n", jpegs.size(), others.size(), static_cast<double>(bytes) / 1e6);

    std::vector<uint8_t> strip;
    std::vector<uint8_t> buffer;
    PictureStreamer pictureStreamer;
    Timing floor;
    Timing everyRow;
    Timing someRows;
    for (int run = 0; run < runs; ++run) {
        timeBest(floor, [&] {
            for (const std::string& path : jpegs)
                floorJpeg(path, strip);
            for (const std::string& path : others)
                floorWholeFile(path, buffer);
        });
        if (!streamer)
            continue;
        for (auto [timing, wanted] : {std::pair {&everyRow, 0}, std::pair {&someRows, 25}}) {
            timeBest(*timing, [&] {
                TouchingSink sink(wanted);
                for (const std::string& path : jpegs)
                    pictureStreamer.stream(path, sink, StreamOptions {});
                for (const std::string& path : others)
                    pictureStreamer.stream(path, sink, StreamOptions {});
            });
        }
    }
    std::printf("floor:                 %.3f s wall, %.3f s CPU\n", floor.wall, floor.cpu);
    if (streamer) {
        std::printf("streamer, every row:   %.3f s wall, %.3f s CPU (%.2f x floor CPU)\n", everyRow.wall, everyRow.cpu,
                    everyRow.cpu / floor.cpu);
        std::printf("streamer, 25 rows:     %.3f s wall, %.3f s CPU (%.2f x floor CPU)\n", someRows.wall, someRows.cpu,
                    someRows.cpu / floor.cpu);
    }
    return 0;
}
