// The group list on a large result: 10,000 groups of two small photographs
// (one hard-linked copy each). Reports the time from building the window to
// its first paint, the slowest step of paging through the list, the rate at
// which thumbnails fill cold (decoded and written to a fresh thumbnail
// cache) and warm (read back) on two threads, and the peak memory:
//
//   review_group_list_bench [FOLDER [GROUPS]]
//
// FOLDER (default /tmp/zelvic-group-list-bench) keeps the photographs
// between runs (640 x 480, made once); the thumbnail cache is a fresh folder
// inside it on every run. The result lines and pair list are made here, as a
// file-size search would give them, so the bench times the list alone.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollBar>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>

#include "app/group_list_window.h"
#include "app/thumbnail_store.h"
#include "search/pair_list.h"
#include "search/search_options.h"
#include "support/test_pictures.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;

std::string photoPath(const std::string& folder, int32_t group, int32_t copy)
{
    char name[64];
    std::snprintf(name, sizeof name, "/g%05d/%s.jpg", group, copy == 0 ? "photo" : "copy");
    return folder + name;
}

void makePhotos(const std::string& folder, int32_t groups)
{
    for (int32_t g = 0; g < groups; ++g) {
        const std::string first = photoPath(folder, g, 0);
        const std::string second = photoPath(folder, g, 1);
        if (std::filesystem::exists(second))
            continue;
        std::filesystem::create_directories(std::filesystem::path(first).parent_path());
        testing_support::writeJpeg(first, testing_support::photoLikePicture(kWidth, kHeight, static_cast<uint32_t>(g)), 85);
        std::filesystem::remove(second);
        std::filesystem::create_hard_link(first, second);
    }
}

// Runs the event loop until it is idle once.
void settle()
{
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
}

double rate(int64_t pictures, qint64 ms)
{
    return ms > 0 ? static_cast<double>(pictures) * 1000.0 / static_cast<double>(ms) : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "/tmp/zelvic-group-list-bench";
    const int32_t groups = argc > 2 ? std::atoi(argv[2]) : 10000;
    QElapsedTimer made;
    made.start();
    makePhotos(folder, groups);
    std::printf("photos: %d groups ready in %lld ms\n", groups, static_cast<long long>(made.elapsed()));

    const std::string cache = folder + "/thumbnail-cache-" + std::to_string(::getpid());
    std::filesystem::remove_all(cache);
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    QApplication app(argc, argv);

    FileTable files;
    std::vector<std::string> lines;
    std::vector<PairRec> pairs;
    for (int32_t g = 0; g < groups; ++g) {
        for (int32_t copy = 0; copy < 2; ++copy) {
            File_rec record;
            record.path = photoPath(folder, g, copy);
            record.size = static_cast<int64_t>(std::filesystem::file_size(record.path));
            record.width = kWidth;
            record.height = kHeight;
            files.push_back(record);
        }
        char line[128];
        std::snprintf(line, sizeof line, "0000, %06d, %06d, 0000,0000, 0000,0000, 0000,0000, 0000,0000", 2 * g,
                      2 * g + 1);
        lines.emplace_back(line);
        pairs.push_back(PairRec {PairState::Waiting, 2 * g, 2 * g + 1});
    }

    GroupListSource source {&files, &pairs, &lines, folder, CheckMode::FileSize, {}};
    QElapsedTimer open;
    open.start();
    auto* window = new GroupListWindow(source, nullptr);
    window->resize(1200, 900);
    window->show();
    settle();
    const qint64 openMs = open.elapsed();
    std::printf("open: %zu groups listed and painted in %lld ms\n", window->list().groupCount(),
                static_cast<long long>(openMs));

    // Page through the first 200 screens: no step may stall.
    QScrollBar* bar = window->view()->verticalScrollBar();
    qint64 slowest = 0;
    for (int step = 0; step < 200 && bar->value() < bar->maximum(); ++step) {
        QElapsedTimer one;
        one.start();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        settle();
        slowest = std::max(slowest, one.elapsed());
    }
    std::printf("scroll: slowest of 200 page steps %lld ms\n", static_cast<long long>(slowest));
    delete window;

    // Thumbnail fill on two threads, first cold, then read back.
    const int32_t count = std::min<int32_t>(groups, 2000);
    for (const char* pass : {"cold", "warm"}) {
        QThreadPool pool;
        pool.setMaxThreadCount(2);
        std::atomic<int32_t> failed {0};
        const int64_t decodesBefore = thumbnailDecodeCount();
        QElapsedTimer fill;
        fill.start();
        for (int32_t g = 0; g < count; ++g) {
            const std::string path = photoPath(folder, g, 0);
            pool.start([path, &failed] {
                if (loadThumbnail(path, ThumbnailStore::kSize).isNull())
                    ++failed;
            });
        }
        pool.waitForDone();
        const qint64 ms = fill.elapsed();
        std::printf("thumbnails %s: %d pictures in %lld ms, %.0f pictures/s, %lld decoded, %d failed\n", pass, count,
                    static_cast<long long>(ms), rate(count, ms),
                    static_cast<long long>(thumbnailDecodeCount() - decodesBefore), failed.load());
    }

    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %ld MB\n", usage.ru_maxrss / 1024);
    std::filesystem::remove_all(cache);
    const bool ok = openMs < 1000 && slowest < 100 && usage.ru_maxrss / 1024 < 500;
    return ok ? 0 : 1;
}
