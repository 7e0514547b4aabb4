// Searches of folders holding hostile files, in every mode, each under a
// memory and time budget: nothing may take more than the budget, and the
// results must not depend on --jobs or on the run.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "picture/picture_loader.h"
#include "support/test_pictures.h"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// What one small hostile file may take: the whole zelvic-cli process runs
// under this address-space limit (sanitizers reserve terabytes of address
// space, so there the allocator's own limits stand in) and this time.
constexpr rlim_t kMemoryBudget = rlim_t {1} << 30;
constexpr double kSecondsBudget = kSanitized ? 30.0 : 5.0;

// AddressSanitizer ends the process on an operator new it cannot serve instead
// of throwing, so files whose size the decoders take at its word cannot be
// searched under it until the decoders refuse such sizes before allocating.
constexpr const char* kWaitsForBudgetUnderSanitizers =
    "waits for the decoders to refuse huge sizes before allocating: under AddressSanitizer the failed allocation ends "
    "zelvic-cli; the plain build measures these under RLIMIT_AS";

const std::string kHostileFiles = std::string(ZELVIC_SOURCE_DIR) + "/tests/hostile/files/";

struct CliRun {
    int status = -1;
    bool finished = false; // false: killed after twice the time budget
    double seconds = 0;
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CliRun runBudgeted(const std::vector<std::string>& args)
{
    const TempDir outputs;
    const std::string outPath = outputs.file("out");
    const std::string errPath = outputs.file("err");
    std::vector<std::string> words {ZELVIC_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (kSanitized) {
            ::setenv("ASAN_OPTIONS", "allocator_may_return_null=1:max_allocation_size_mb=1024:hard_rss_limit_mb=2048", 1);
        } else {
            const rlimit limit {kMemoryBudget, kMemoryBudget};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    CliRun run;
    if (pid < 0)
        return run;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (done == pid) {
            run.finished = true;
            break;
        }
        if (run.seconds > 2 * kSecondsBudget) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.status = run.finished && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readAll(outPath);
    run.err = readAll(errPath);
    return run;
}

// The JSON report without its elapsed time, the one part that may differ.
std::string withoutElapsed(const std::string& json)
{
    const auto at = json.find(",\"elapsed_seconds\":");
    return at == std::string::npos ? json : json.substr(0, at);
}

// Searches folder in every mode with --jobs 1, 2, 3 and 1 again: each search
// ends within the budget, and all four give the same report. Returns the
// reports of the four modes.
std::vector<std::string> expectBoundedAndStable(const std::string& folder)
{
    std::vector<std::string> reports;
    for (const char* mode : {"size", "dims", "identical", "similar"}) {
        std::string first;
        for (const char* jobs : {"1", "2", "3", "1"}) {
            const CliRun run = runBudgeted({"search", folder, "--mode", mode, "--jobs", jobs, "--json"});
            EXPECT_TRUE(run.finished) << mode << " --jobs " << jobs << ": killed after " << run.seconds << " s";
            EXPECT_EQ(run.status, 0) << mode << " --jobs " << jobs << ": " << run.err;
            EXPECT_LE(run.seconds, kSecondsBudget) << mode << " --jobs " << jobs;
            const std::string report = withoutElapsed(run.out);
            if (first.empty())
                first = report;
            else
                EXPECT_EQ(report, first) << mode << " --jobs " << jobs << " differs from --jobs 1";
        }
        reports.push_back(first);
    }
    return reports;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A folder holding two copies of a hostile file, so that even the file-size
// and picture-size modes load it (they compare files of equal key only).
std::string pairedFolder(const TempDir& dir, const std::string& source, const std::string& extension)
{
    const std::string folder = dir.str() + "/" + fs::path(source).stem().string();
    fs::create_directories(folder);
    fs::copy_file(source, folder + "/a" + extension);
    fs::copy_file(source, folder + "/b" + extension);
    return folder;
}

} // namespace

TEST(HostileFilesTest, DecompressionBombsStayWithinTheBudget)
{
    if (kSanitized)
        GTEST_SKIP() << kWaitsForBudgetUnderSanitizers;
    TempDir dir;
    for (const char* name : {"bomb_progressive_grey_65500.jpg", "bomb_progressive_grey_20000.jpg",
                             "bomb_progressive_colour_20000.jpg", "bomb_rle8_20000.bmp"}) {
        SCOPED_TRACE(name);
        const std::string extension = fs::path(name).extension().string();
        const std::string folder = pairedFolder(dir, kHostileFiles + name, extension);
        const std::vector<std::string> reports = expectBoundedAndStable(folder);
        // The engines of every mode that loads them list both as unreadable.
        for (const std::string& report : reports)
            EXPECT_TRUE(contains(report, "\"unreadable\":[\"" + folder + "/a" + extension + "\",\"" + folder + "/b"
                                             + extension + "\"]"))
                << report.substr(0, 400);
    }
}

TEST(HostileFilesTest, ThousandsOfEmptyScansStayWithinTheBudget)
{
    // 20,000 scans of no data after the first, in a 2,000 x 2,000 frame: each
    // scan walks the whole coefficient buffer.
    std::string jpeg = readAll(kHostileFiles + "progressive_grey_8.jpg");
    const auto frame = jpeg.find("\xFF\xC2");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, std::string("\x07\xD0\x07\xD0", 4));
    ASSERT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
    const std::string emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00", 10);
    std::string scans;
    for (int i = 0; i < 20000; ++i)
        scans += emptyScan;
    jpeg.insert(jpeg.size() - 2, scans);
    TempDir dir;
    testing_support::writeBytes(dir.file("scans/a.jpg"), jpeg);
    testing_support::writeBytes(dir.file("scans/b.jpg"), jpeg);
    const std::vector<std::string> reports = expectBoundedAndStable(dir.str() + "/scans");
    EXPECT_TRUE(contains(reports[2], "\"unreadable\":[\"" + dir.str() + "/scans/a.jpg\""));
}

TEST(HostileFilesTest, TruncatedPhotographsGiveTheSameResultsEveryRun)
{
    // Pairs of the same photographs cut short at different lengths: what the
    // missing rows hold must not depend on memory, threads or the run.
    TempDir dir;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const Picture photo = testing_support::photoLikePicture(320, 240, seed);
        const std::string bmp = dir.file("photos/full" + std::to_string(seed) + ".bmp");
        const std::string jpg = dir.file("photos/full" + std::to_string(seed) + ".jpg");
        testing_support::writeBmp24(bmp, photo);
        testing_support::writeJpeg(jpg, photo, 85);
        for (const auto& [source, percent] : {std::pair {bmp, 50}, {bmp, 70}, {jpg, 40}, {jpg, 60}}) {
            std::string bytes = readAll(source);
            bytes.resize(bytes.size() * static_cast<std::size_t>(percent) / 100);
            const std::string cut = dir.file("photos/cut" + std::to_string(seed) + "_" + std::to_string(percent)
                                             + fs::path(source).extension().string());
            testing_support::writeBytes(cut, bytes);
        }
        fs::remove(bmp);
        fs::remove(jpg);
    }
    expectBoundedAndStable(dir.str() + "/photos");
}

TEST(HostileFilesTest, HugeFileNamedJpgIsRefusedCheaply)
{
    if (kSanitized)
        GTEST_SKIP() << kWaitsForBudgetUnderSanitizers;
    // 3 GB, sparse, not a JPEG: two of them, so that every mode loads them.
    TempDir dir;
    for (const char* name : {"big/a.jpg", "big/b.jpg"}) {
        testing_support::writeBytes(dir.file(name), "this is not a picture");
        fs::resize_file(dir.file(name), std::uintmax_t {3} << 30);
    }
    const std::vector<std::string> reports = expectBoundedAndStable(dir.str() + "/big");
    EXPECT_TRUE(contains(reports[0], "\"unreadable\":[\"" + dir.str() + "/big/a.jpg\",\"" + dir.str() + "/big/b.jpg\"]"));
}

TEST(HostileFilesTest, FifoAmongThePicturesIsPassedOver)
{
    TempDir dir;
    const Picture photo = testing_support::photoLikePicture(64, 48, 3);
    testing_support::writeJpeg(dir.file("fifo/a.jpg"), photo);
    testing_support::writeJpeg(dir.file("fifo/b.jpg"), photo);
    ASSERT_EQ(::mkfifo(dir.file("fifo/pipe.jpg").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo/pipe.bmp").c_str(), 0600), 0);
    const std::vector<std::string> reports = expectBoundedAndStable(dir.str() + "/fifo");
    for (const std::string& report : reports)
        EXPECT_FALSE(contains(report, "pipe.")) << report.substr(0, 400);
}

TEST(HostileFilesTest, SignatureOfAFifoEnds)
{
    TempDir dir;
    for (const char* name : {"pipe.jpg", "pipe.bmp"}) {
        ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0);
        for (const char* engine : {"identical", "similar"}) {
            const CliRun run = runBudgeted({"signature", "--engine", engine, dir.file(name)});
            EXPECT_TRUE(run.finished) << name << " " << engine;
            EXPECT_EQ(run.status, 1) << name << " " << engine;
            EXPECT_LE(run.seconds, kSecondsBudget) << name << " " << engine;
        }
    }
}

TEST(HostileFilesTest, BitmapsWithUnsetPixelsLoadTheSameEveryTime)
{
    // Bitmaps the fuzzer found whose pixel data ends early, skips pixels with
    // RLE deltas or ends a line early: each load must give the same bytes,
    // whatever the memory it is decoded into held before.
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(kHostileFiles + "undefined_rows")) {
        const std::string path = entry.path().string();
        const LoadedPicture first = loadPicture(path, JpegIdct::Fast);
        for (int round = 0; round < 3 && first.ok(); ++round) {
            {
                // Leave garbage where the next load's buffers are likely to go.
                std::vector<uint8_t> garbage(first.picture.byteCount() * 4 + 4096, static_cast<uint8_t>(0x5A + round));
                std::memset(garbage.data(), 0xA5 ^ round, garbage.size() / 2);
            }
            const LoadedPicture again = loadPicture(path, JpegIdct::Fast);
            ASSERT_TRUE(again.ok()) << path;
            ASSERT_EQ(again.picture.byteCount(), first.picture.byteCount()) << path;
            EXPECT_EQ(std::memcmp(again.picture.data(), first.picture.data(), first.picture.byteCount()), 0) << path;
        }
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

TEST(HostileFilesTest, BitmapsWithUnsetPixelsGiveOneSignatureInEveryProcess)
{
    // In one process the loads above may land in the same fresh memory; each
    // new process gets other memory, where pixels left unset showed at once.
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(kHostileFiles + "undefined_rows")) {
        const std::string path = entry.path().string();
        const CliRun first = runBudgeted({"signature", "--engine", "identical", path});
        for (int round = 0; round < 2; ++round) {
            const CliRun again = runBudgeted({"signature", "--engine", "identical", path});
            EXPECT_EQ(again.status, first.status) << path;
            EXPECT_EQ(again.out, first.out) << path;
        }
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

TEST(HostileFilesTest, FilesClaimingMoreThanTheyHoldAreRefusedAlikeByEveryCommand)
{
    // Bitmaps of two billion rows in 1.9 KB or less, 318-byte bit-field
    // bitmaps of 15 and 16 million rows, a JPEG of 724 bytes claiming
    // 20,000 x 19,999: each search and each signature command refuses them
    // at once, with the one message. The search says why in its log.
    ::setenv("QT_LOGGING_RULES", "zelvic.picture.warning=true", 1);
    TempDir dir;
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(kHostileFiles + "claiming_more")) {
        const std::string extension = entry.path().extension().string();
        const std::string folder = pairedFolder(dir, entry.path().string(), extension);
        const std::string a = folder + "/a" + extension;
        SCOPED_TRACE(entry.path().filename().string());

        const CliRun identical = runBudgeted({"signature", "--engine", "identical", a});
        EXPECT_EQ(identical.status, 1);
        EXPECT_LE(identical.seconds, kSecondsBudget);
        const std::string prefix = "zelvic-cli: " + a + ": ";
        ASSERT_TRUE(identical.err.starts_with(prefix + "picture too large")) << identical.err;
        const std::string message = identical.err.substr(prefix.size(), identical.err.find('\n') - prefix.size());
        const CliRun similar = runBudgeted({"signature", "--engine", "similar", a});
        EXPECT_EQ(similar.status, 1);
        EXPECT_EQ(similar.err, identical.err);

        for (const char* mode : {"size", "dims", "identical", "similar"}) {
            for (const char* jobs : {"1", "2"}) {
                const CliRun run = runBudgeted({"search", folder, "--mode", mode, "--jobs", jobs, "--json"});
                EXPECT_TRUE(run.finished) << mode << " --jobs " << jobs;
                EXPECT_EQ(run.status, 0) << mode << " --jobs " << jobs << ": " << run.err;
                EXPECT_LE(run.seconds, kSecondsBudget) << mode << " --jobs " << jobs;
                EXPECT_TRUE(contains(run.out, "\"unreadable\":[\"" + a + "\",\"" + folder + "/b" + extension + "\"]"))
                    << mode << " --jobs " << jobs << ": " << run.out.substr(0, 300);
                EXPECT_TRUE(contains(run.err, a + " is unreadable: " + message + "\n"))
                    << mode << " --jobs " << jobs << ": " << run.err;
            }
        }
        ++checked;
    }
    ::unsetenv("QT_LOGGING_RULES");
    EXPECT_EQ(checked, 7);
}
