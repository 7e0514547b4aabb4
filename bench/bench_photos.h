#pragma once

// Helpers the picture benchmarks share: generating a folder of photographs
// with make_bench_photos, writing a large JPEG row by row and listing the
// JPEG files of a folder. Header-only,
// because every bench/*.cpp is built as its own executable.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "common/file_name.h"

namespace bench {

// Writes an RGB JPEG at quality 85 (libjpeg's defaults otherwise: baseline,
// 4:2:0) one row at a time, fill(y, row) giving row y, so that even 160
// megapixels need no more than one row in memory. False when the file cannot
// be written.
inline bool writeRowJpeg(const std::string& path, int width, int height,
                         const std::function<void(uint32_t y, uint8_t* row)>& fill)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<std::size_t>(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        fill(cinfo.next_scanline, row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

// Runs make_bench_photos from the folder `benchExecutable` lies in, writing
// `count` pictures of width x height into `folder`; a benchmark without its
// pictures has nothing to time, so a failure ends the process.
inline void makeBenchPhotos(const std::filesystem::path& benchExecutable, const std::string& folder, int count,
                            int width = 3000, int height = 2000)
{
    const std::string tool = (std::filesystem::absolute(benchExecutable).parent_path() / "make_bench_photos").string();
    const std::string command = tool + " '" + folder + "' " + std::to_string(count) + " " + std::to_string(width)
        + " " + std::to_string(height);
    std::printf("generating %d photographs: %s\n", count, command.c_str());
    std::fflush(stdout);
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "make_bench_photos failed (build it first): %s\n", command.c_str());
        std::exit(1);
    }
}

// The .JPG files (any case) directly in `folder`, sorted by path.
inline std::vector<std::string> jpegFilesIn(const std::string& folder)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file() && upperExtension(entry.path().string()) == ".JPG")
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace bench
