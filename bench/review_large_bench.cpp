// Opens the review window on a group of two very large JPEGs (default
// 20,000 x 15,000, 300 megapixels each) and reports the peak resident memory
// when both are shown at their fitted scale and after "1:1":
//
//   review_large_bench [FOLDER [WIDTH HEIGHT]]
//
// FOLDER (default /tmp/zelvic-review-large) receives the two pictures,
// written row by row (no whole picture is ever held by the writer), so the
// peak (getrusage ru_maxrss) is the review's own. Targets: under 1 GB open,
// under 1.5 GB at 1:1 (where such a picture is held at full size only in
// the part on view, with a margin, over its fitted picture).

#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include "bench_photos.h"
#include "review/ui/picture_cache.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_window.h"
#include "gui/review_window_test_peer.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"

namespace {

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A baseline 4:2:0 JPEG at quality 85 of gradients and grain, one row at a
// time.
bool writeLargeJpeg(const std::string& path, int width, int height, uint32_t seed)
{
    return bench::writeRowJpeg(path, width, height, [&](uint32_t y, uint8_t* row) {
        for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x) {
            uint32_t h = x * 0x9E3779B1u ^ (y + seed) * 0x85EBCA77u;
            h ^= h >> 15;
            const uint32_t grain = h & 15;
            row[3 * x] = static_cast<uint8_t>((x * 255 / width + grain + seed * 40) & 0xFF);
            row[3 * x + 1] = static_cast<uint8_t>((y * 255 / height + grain) & 0xFF);
            row[3 * x + 2] = static_cast<uint8_t>(((x + y) / 64 % 2 == 0 ? 200 : 60) + grain);
        }
    });
}

// Lets the window take the worker's pictures until both panes show a
// picture, or with `fullSize` until both show full-size pixels (the whole
// picture or the part on view), or the time is up.
bool waitForPictures(ReviewWindow& window, int width, bool fullSize, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    auto ready = [&](const char* name) {
        const auto* view = window.findChild<PictureView*>(QString::fromLatin1(name));
        if (!view->picture())
            return false;
        return !fullSize || view->picture()->width() >= width || view->part() != nullptr;
    };
    while (timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (ready("Image1") && ready("Image2"))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string folder = argc > 1 ? argv[1] : "/tmp/zelvic-review-large";
    const int width = argc > 3 ? std::atoi(argv[2]) : 20000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 15000;
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < 2; ++i) {
        const std::string path = folder + "/large_" + std::to_string(width) + "x" + std::to_string(height) + "_"
                                 + std::to_string(i) + ".jpg";
        if (!std::filesystem::exists(path)) {
            std::printf("writing %s\n", path.c_str());
            std::fflush(stdout);
            if (!writeLargeJpeg(path, width, height, static_cast<uint32_t>(i))) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
        }
        paths.push_back(path);
    }

    QApplication app(argc, argv);
    FileTable files;
    std::vector<int32_t> group;
    for (const std::string& path : paths) {
        File_rec file;
        file.path = path;
        file.stamp = "2024/01/01 00/00/00";
        struct stat st {};
        ::stat(path.c_str(), &st);
        file.size = st.st_size;
        files.push_back(file);
        group.push_back(static_cast<int32_t>(files.size() - 1));
    }
    std::vector<PairRec> pairs;
    ReviewSession session {&files, &pairs, CheckMode::Identical, PaneSize {390, 416}};
    ReviewWindow window;
    window.setErrorSink([](const QString& message) { std::fprintf(stderr, "error: %s\n", qPrintable(message)); });
    const double before = peakMegabytes();

    const auto start = std::chrono::steady_clock::now();
    if (!ReviewWindowTestPeer::openGroup(window, session, group))
        return 1;
    const double shownAt = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!waitForPictures(window, width, false, 600000)) {
        std::fprintf(stderr, "pictures not decoded in time\n");
        return 1;
    }
    window.repaint();
    const double fitted = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto& shown = window.findChild<PictureView*>(QStringLiteral("Image1"))->picture();
    const int fittedWidth = shown->width();
    const QString fittedZoom = window.findChild<QLineEdit*>(QStringLiteral("Edit1"))->text();
    const double peakOpen = peakMegabytes();

    const auto fullStart = std::chrono::steady_clock::now();
    window.findChild<QPushButton*>(QStringLiteral("BitBtn5"))->click();
    if (!waitForPictures(window, width, true, 600000)) {
        std::fprintf(stderr, "full-size pictures not decoded in time\n");
        return 1;
    }
    window.repaint();
    const double full = std::chrono::duration<double>(std::chrono::steady_clock::now() - fullStart).count();
    const double peakFull = peakMegabytes();

    std::printf("review_large_bench: group of 2, %d x %d JPEG (%.0f megapixels each)\n", width, height,
                static_cast<double>(width) * height / 1e6);
    std::printf("  peak memory before open:      %8.1f MB\n", before);
    std::printf("  window shown (placeholders):  %8.1f ms\n", shownAt);
    std::printf("  both pictures at fit zoom:    %8.1f s, decoded %d px wide (zoom %s %%)\n", fitted, fittedWidth,
                qPrintable(fittedZoom));
    std::printf("  peak memory, group open:      %8.1f MB (target < 1024)\n", peakOpen);
    std::printf("  both pictures at 1:1:         %8.1f s\n", full);
    std::printf("  peak memory after 1:1:        %8.1f MB (target < 1536)\n", peakFull);
    const auto& part = window.findChild<PictureView*>(QStringLiteral("Image1"))->part();
    if (part)
        std::printf("  held at full size:            %8d x %d part of each picture\n", part->width(), part->height());
    std::printf("  decoded bytes held at 1:1:    %8.1f MB\n",
                static_cast<double>(window.pictureCache()->heldBytes()) / (1024.0 * 1024.0));
    window.done(1);
    return 0;
}
