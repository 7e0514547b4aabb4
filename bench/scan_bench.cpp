// Times the folder scan over a generated tree of small picture files at
// depth 3 in CheckMode 0 (sizes only) and CheckMode 1 (headers read), beside
// `find` over the same tree. The scan in CheckMode 0 must stay within 3x of
// find's time.
//
//   scan_bench [FILES]     default 100000

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/parallel_for.h"
#include "search/file_table.h"
#include "search/folder_scan.h"
#include "support/byte_text.h"
#include "support/test_pictures.h"

using testing_support::be16;

namespace {

constexpr int kFan = 10; // folders per level: 10 x 10 x 10 leaf folders at depth 3

// A JPEG header up to its first scan, padded so that sizes vary.
std::string jpegBytes(int i)
{
    std::string bytes("\xFF\xD8\xFF\xC0\x00\x0B\x08", 7);
    bytes += be16(100 + i % 50) + be16(100 + i % 70) + std::string("\x01\x01\x11\x00", 4);
    bytes += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    bytes += std::string(static_cast<std::size_t>(i % 997), '\x55');
    return bytes;
}

std::string bmpBytes(int i)
{
    std::string bytes = "BM" + std::string(12, '\0') + std::string("\x28\0\0\0", 4);
    bytes += be16(i % 300).substr(1) + std::string(1, '\x01') + std::string(2, '\0');
    bytes += be16(i % 200).substr(1) + std::string(3, '\0');
    bytes += std::string(30 + static_cast<std::size_t>(i % 991), '\0');
    return bytes;
}

// The least time of work over the rounds; before runs untimed ahead of each.
double bestSeconds(int rounds, const std::function<void()>& work, const std::function<void()>& before = {})
{
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        if (before)
            before();
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// The floor of any scan that needs each file's size and time: enumerate
// every folder to depth 3 and stat each file, nothing else.
std::size_t statEveryFile(const std::string& folder, int depth)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    std::size_t count = 0;
    std::vector<std::string> subs;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (entry->d_type == DT_DIR) {
            if (depth < 3)
                subs.emplace_back(entry->d_name);
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0)
            ++count;
    }
    ::closedir(dir);
    for (const std::string& sub : subs)
        count += statEveryFile(folder + "/" + sub, depth + 1);
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    const int fileCount = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 100000;
    testing_support::TempDir dir;
    const int leaves = kFan * kFan * kFan;
    int written = 0;
    for (int leaf = 0; leaf < leaves; ++leaf) {
        const std::string folder = dir.file(std::to_string(leaf / 100) + "/" + std::to_string(leaf / 10 % 10)
                                            + "/" + std::to_string(leaf % 10) + "/x");
        const std::string base = folder.substr(0, folder.size() - 1);
        const int here = fileCount / leaves + (leaf < fileCount % leaves ? 1 : 0);
        for (int k = 0; k < here; ++k, ++written) {
            if (written % 4 == 3)
                testing_support::writeBytes(base + "p" + std::to_string(k) + ".BMP", bmpBytes(written));
            else
                testing_support::writeBytes(base + "p" + std::to_string(k) + ".jpg", jpegBytes(written));
        }
    }
    std::printf("tree: %d files in %d folders at depth 3 under %s\n", written, leaves, dir.str().c_str());

    const std::string findCommand = "find '" + dir.str() + "' -type f > /dev/null";
    std::size_t lines = 0;
    // The results outlive the timing, as in a search: freeing them is not
    // part of the scan.
    std::vector<std::string> list;
    FileTable files;
    const auto release = [&] {
        list = {};
        files = {};
    };
    auto scanIn = [&](CheckMode mode, int32_t jobs = 0) {
        ScanSettings settings;
        settings.jobs = jobs;
        settings.mode = mode;
        settings.subDirDepth = 3;
        list = buildScanList(dir.str(), settings);
        files = BuildFileTable(list, mode, jobs);
        lines = files.size();
    };
    // Warm the cache once so that every contender reads from memory.
    if (std::system(findCommand.c_str()) != 0)
        std::fputs("find failed\n", stderr);
    scanIn(CheckMode::PictureSize);

    constexpr int kRounds = 5;
    const double findSeconds = bestSeconds(kRounds, [&] {
        if (std::system(findCommand.c_str()) != 0)
            std::fputs("find failed\n", stderr);
    });
    std::size_t statted = 0;
    const double statSeconds = bestSeconds(kRounds, [&] { statted = statEveryFile(dir.str(), 0); });
    // The same on every core, a top-level folder at a time.
    std::atomic<std::size_t> stattedEach {0};
    const double statEachSeconds = bestSeconds(kRounds, [&] {
        stattedEach = 0;
        parallelFor(kFan, 0, [&](int64_t top, int32_t) { stattedEach += statEveryFile(dir.str() + "/" + std::to_string(top), 1); });
    });
    const std::string findStatCommand = "find '" + dir.str() + "' -type f -printf '%s %T@ %p\\n' > /dev/null";
    const double findStatSeconds = bestSeconds(kRounds, [&] {
        if (std::system(findStatCommand.c_str()) != 0)
            std::fputs("find failed\n", stderr);
    });
    const double sizeSeconds = bestSeconds(kRounds, [&] { scanIn(CheckMode::FileSize); }, release);
    const std::size_t sizeLines = lines;
    const double oneThreadSeconds = bestSeconds(kRounds, [&] { scanIn(CheckMode::FileSize, 1); }, release);
    const double dimsSeconds = bestSeconds(kRounds, [&] { scanIn(CheckMode::PictureSize); }, release);
    const double dimsOneThreadSeconds = bestSeconds(kRounds, [&] { scanIn(CheckMode::PictureSize, 1); }, release);

    auto show = [&](const char* name, double seconds, std::size_t count) {
        std::printf("%-28s %8.3f s %12.0f files/s  (%zu files)\n", name, seconds, static_cast<double>(count) / seconds, count);
    };
    show("find -type f", findSeconds, static_cast<std::size_t>(written));
    show("find -printf size, time", findStatSeconds, static_cast<std::size_t>(written));
    show("readdir + stat only", statSeconds, statted);
    show("readdir + stat, all cores", statEachSeconds, stattedEach);
    show("scan, CheckMode 0 (size)", sizeSeconds, sizeLines);
    show("scan, CheckMode 0, 1 thread", oneThreadSeconds, sizeLines);
    show("scan, CheckMode 1 (headers)", dimsSeconds, lines);
    show("scan, CheckMode 1, 1 thread", dimsOneThreadSeconds, lines);
    const double ratio = sizeSeconds / findSeconds;
    std::printf("CheckMode 0 (all cores) / find -type f: %.2fx (limit 3x) %s\n", ratio, ratio <= 3.0 ? "OK" : "TOO SLOW");
    return sizeLines == static_cast<std::size_t>(written) && ratio <= 3.0 ? 0 : 1;
}
