// Opens the review window on one group of 300 members, 12-megapixel JPEGs
// (4000 x 3000), and reports the time to the first display (placeholders),
// the time until both shown pictures have arrived from the worker, and the peak
// memory, then steps through the group with Next:
//
//   review_open_bench [FOLDER [STEPS]]
//
// FOLDER (default /tmp/zelvic-review-bench) receives the pictures: 20
// distinct photographs made by make_bench_photos (built beside this program)
// and hard-linked into 300 member names, alternating between two sub-folders
// so the move buttons show. STEPS (default 60, "all" for 299) is how many
// times Next is pressed; before each press the bench waits until the window
// has decoded the next neighbour, as a user who looks at each pair would.
// The peak resident size (getrusage ru_maxrss) covers generation too, which
// runs in a child process and so does not count.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include "bench_photos.h"
#include "review/ui/picture_cache.h"
#include "review/ui/review_window.h"
#include "gui/review_window_test_peer.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"

namespace {

constexpr int kMembers = 300;
constexpr int kDistinct = 20;
constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::string memberPath(const std::string& folder, int i)
{
    return folder + (i % 2 == 0 ? "/a/" : "/b/") + "member_" + std::to_string(i) + ".jpg";
}

bool preparePictures(const std::string& folder, const std::string& self)
{
    namespace fs = std::filesystem;
    if (fs::exists(memberPath(folder, kMembers - 1)))
        return true;
    const std::string source = folder + "/source";
    bench::makeBenchPhotos(self, source, kDistinct, kWidth, kHeight);
    fs::create_directories(folder + "/a");
    fs::create_directories(folder + "/b");
    for (int i = 0; i < kMembers; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/photo_%04d.jpg", i % kDistinct);
        std::error_code error;
        fs::create_hard_link(source + name, memberPath(folder, i), error);
        if (error) {
            std::fprintf(stderr, "cannot link %s: %s\n", memberPath(folder, i).c_str(), error.message().c_str());
            return false;
        }
    }
    return true;
}

// Lets the window take the worker's pictures until the cache holds `count`
// or the time is up.
bool waitForPictures(const PictureCache& cache, std::size_t count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (cache.heldCount() < count && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return cache.heldCount() >= count;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string folder = argc > 1 ? argv[1] : "/tmp/zelvic-review-bench";
    int steps = 60;
    if (argc > 2)
        steps = std::string(argv[2]) == "all" ? kMembers - 2 : std::atoi(argv[2]);
    if (!preparePictures(folder, argv[0]))
        return 1;

    QApplication app(argc, argv);
    FileTable files;
    std::vector<int32_t> group;
    for (int i = 0; i < kMembers; ++i) {
        File_rec file;
        file.path = memberPath(folder, i);
        file.stamp = "2024/01/01 00/00/00";
        struct stat st {};
        ::stat(file.path.c_str(), &st);
        file.size = st.st_size;
        files.push_back(file);
        group.push_back(i);
    }
    std::vector<PairRec> pairs;
    ReviewSession session{&files, &pairs, CheckMode::Identical, PaneSize{390, 416}};
    ReviewWindow window;
    window.setErrorSink([](const QString& message) { std::fprintf(stderr, "error: %s\n", qPrintable(message)); });
    const double before = peakMegabytes();

    const auto start = std::chrono::steady_clock::now();
    if (!ReviewWindowTestPeer::openGroup(window, session, group))
        return 1;
    window.repaint();
    const double firstDisplay = millisecondsSince(start);
    PictureCache* cache = window.pictureCache();
    // The window opens with placeholders; the worker brings the pictures.
    if (!waitForPictures(*cache, 2, 20000)) {
        std::fprintf(stderr, "shown pictures not decoded in time\n");
        return 1;
    }
    const double picturesShown = millisecondsSince(start);
    const double peakAfterOpen = peakMegabytes();

    QPushButton* next = window.findChild<QPushButton*>(QStringLiteral("BitBtn2"));
    double worstStep = 0;
    double totalStep = 0;
    std::size_t mostHeld = cache->heldCount();
    std::size_t mostBytes = cache->heldBytes();
    int taken = 0;
    for (; taken < steps && next->isEnabled(); ++taken) {
        // Shown pair and the neighbour after it.
        if (!waitForPictures(*cache, 3, 20000)) {
            std::fprintf(stderr, "neighbour not decoded in time at step %d\n", taken);
            break;
        }
        const auto stepStart = std::chrono::steady_clock::now();
        next->click();
        window.repaint();
        const double step = millisecondsSince(stepStart);
        worstStep = std::max(worstStep, step);
        totalStep += step;
        mostHeld = std::max(mostHeld, cache->heldCount());
        mostBytes = std::max(mostBytes, cache->heldBytes());
    }

    std::printf("review_open_bench: group of %d members, %d x %d JPEG (%d distinct pictures, hard-linked)\n",
                kMembers, kWidth, kHeight, kDistinct);
    std::printf("  time to first display:     %8.1f ms (placeholders)\n", firstDisplay);
    std::printf("  time to both pictures:     %8.1f ms\n", picturesShown);
    std::printf("  peak memory before open:   %8.1f MB\n", before);
    std::printf("  peak memory after open:    %8.1f MB\n", peakAfterOpen);
    std::printf("  Next pressed:              %8d times, neighbour ready each time\n", taken);
    if (taken > 0)
        std::printf("  Next to painted view:      %8.1f ms mean, %.1f ms worst\n", totalStep / taken, worstStep);
    std::printf("  pictures held at most:     %8zu (%.1f MB decoded)\n", mostHeld,
                static_cast<double>(mostBytes) / (1024.0 * 1024.0));
    std::printf("  peak memory at the end:    %8.1f MB (ru_maxrss)\n", peakMegabytes());
    std::printf("  all members decoded up front would need %.1f MB\n",
                static_cast<double>(kMembers) * kWidth * kHeight * 3 / (1024.0 * 1024.0));
    window.done(1);
    return 0;
}
