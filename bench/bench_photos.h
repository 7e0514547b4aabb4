#pragma once

// Helpers the picture benchmarks share: generating a folder of photographs
// with make_bench_photos and listing the JPEG files of a folder. Header-only,
// because every bench/*.cpp is built as its own executable.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_name.h"

namespace bench {

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
