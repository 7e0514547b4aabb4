#include "picture/picture_loader.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "picture/jpeg_decoder.h"
#include "picture/picture_size.h"
#include "picture/picture_stream.h"
#include "support/byte_text.h"
#include "support/recording_sink.h"
#include "support/test_pictures.h"

using testing_support::RecordingSink;
using testing_support::TempDir;
using testing_support::le16;
using testing_support::le32;
using testing_support::writeBytes;

namespace {

// Runs check in a child process whose address space may grow by at most
// extraMegabytes, and gives it timeoutSeconds. The child's exit code: 0 when
// check returned true, 1 when false, 2 when it threw (an allocation beyond
// the limit), -1 when it hung or crashed.
int runInChild(const std::function<bool()>& check, int extraMegabytes, int timeoutSeconds)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE))
                             + static_cast<rlim_t>(extraMegabytes) * 1024 * 1024;
        const rlimit as {limit, limit};
        ::setrlimit(RLIMIT_AS, &as);
        int code = 2;
        try {
            code = check() ? 0 : 1;
        } catch (...) {
        }
        ::_exit(code);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        ::usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string encodeGreyProgressive(int width, int height)
{
    const std::vector<uint8_t> row(static_cast<std::size_t>(width), 128);
    return testing_support::encodeJpeg(
        width, height, 1, JCS_GRAYSCALE, [](jpeg_compress_struct& cinfo) { jpeg_simple_progression(&cinfo); },
        [&](int) { return row.data(); });
}

// Rewrites the size in the progressive frame header.
std::string withProgressiveSize(const std::string& jpeg, int width, int height)
{
    return testing_support::withFrameSize(jpeg, 0xC2, width, height);
}

StreamResult streamFile(const std::string& path, const std::atomic<bool>* abortFlag = nullptr)
{
    PictureStreamer streamer;
    RecordingSink sink;
    return streamer.stream(path, sink, StreamOptions {JpegIdct::Fast, abortFlag});
}

} // namespace

TEST(HostileFilesTest, HugeProgressiveClaimIsRefusedBeforeAnyBigAllocation)
{
    // A few hundred bytes claiming 65,500 x 65,500 progressive greyscale:
    // its coefficients alone would take 8.6 GB.
    TempDir dir;
    const std::string small = encodeGreyProgressive(16, 16);
    writeBytes(dir.file("bomb.jpg"), withProgressiveSize(small, 65500, 65500));
    // 30,000 x 20,000 colour-free progressive: 1.2 GB of coefficients.
    writeBytes(dir.file("wide.jpg"), withProgressiveSize(small, 30000, 20000));
    for (const char* name : {"bomb.jpg", "wide.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        const int exit = runInChild([&] {
            const StreamResult streamed = streamFile(path);
            const LoadedPicture whole = loadPicture(path, JpegIdct::Fast);
            return streamed.failure == LoadFailure::TooLarge && whole.failure == LoadFailure::TooLarge;
        }, 64, 5);
        EXPECT_EQ(exit, 0);
    }
    // Within the budget the same kind of file decodes: 4,000 x 4,000 takes
    // 32 MB of coefficients.
    writeBytes(dir.file("fits.jpg"), withProgressiveSize(small, 4000, 4000));
    EXPECT_TRUE(streamFile(dir.file("fits.jpg")).ok());
}

TEST(HostileFilesTest, ThousandsOfEmptyScansStopAtTheScanLimit)
{
    TempDir dir;
    std::string jpeg = withProgressiveSize(encodeGreyProgressive(16, 16), 2000, 2000);
    jpeg.resize(jpeg.size() - 2); // without its EOI
    // A DC scan of the one component with no data: libjpeg warns and goes on.
    const std::string emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00", 10);
    for (int i = 0; i < 5000; ++i)
        jpeg += emptyScan;
    jpeg += "\xFF\xD9";
    writeBytes(dir.file("scans.jpg"), jpeg);
    const auto start = std::chrono::steady_clock::now();
    const StreamResult streamed = streamFile(dir.file("scans.jpg"));
    const LoadedPicture whole = loadPicture(dir.file("scans.jpg"), JpegIdct::Fast);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(streamed.failure, LoadFailure::Damaged) << streamed.error;
    EXPECT_EQ(whole.failure, LoadFailure::Damaged) << whole.error;
    EXPECT_NE(streamed.error.find("scans"), std::string::npos) << streamed.error;
    EXPECT_LT(seconds, 3.0);

    // Exactly at the limit the file is read.
    std::string atLimit = withProgressiveSize(encodeGreyProgressive(16, 16), 64, 64);
    atLimit.resize(atLimit.size() - 2);
    const int encoded = 6; // scans jpeg_simple_progression writes for greyscale
    for (int i = encoded; i < kMaxJpegScans; ++i)
        atLimit += emptyScan;
    writeBytes(dir.file("limit.jpg"), atLimit + "\xFF\xD9");
    EXPECT_TRUE(streamFile(dir.file("limit.jpg")).ok());
    writeBytes(dir.file("over.jpg"), atLimit + emptyScan + "\xFF\xD9");
    EXPECT_FALSE(streamFile(dir.file("over.jpg")).ok());
}

TEST(HostileFilesTest, AbortFlagStopsADecodeBetweenRows)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("tall.jpg"), testing_support::photoLikePicture(64, 4000, 5));
    std::atomic<bool> abortFlag {false};
    PictureStreamer streamer;
    // The sink raises the flag at row 100, as the abort button would.
    struct AbortingSink : RecordingSink {
        std::atomic<bool>* flag = nullptr;
        void row(int32_t y, const uint8_t* bgr) override
        {
            RecordingSink::row(y, bgr);
            if (y == 100)
                flag->store(true);
        }
    } sink;
    sink.flag = &abortFlag;
    const StreamResult result = streamer.stream(dir.file("tall.jpg"), sink, StreamOptions {JpegIdct::Fast, &abortFlag});
    EXPECT_EQ(result.status, StreamStatus::Aborted);
    EXPECT_LT(sink.rows.size(), 200u);
    // The streamer is usable again once the flag is down.
    abortFlag = false;
    RecordingSink again;
    EXPECT_TRUE(streamer.stream(dir.file("tall.jpg"), again, StreamOptions {JpegIdct::Fast, &abortFlag}).ok());
    EXPECT_EQ(again.rows.size(), 4000u);
}

TEST(HostileFilesTest, FifosAndFoldersAreRefusedWithoutWaiting)
{
    TempDir dir;
    for (const char* name : {"pipe.jpg", "pipe.bmp"})
        ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder.jpg"));
    for (const char* name : {"pipe.jpg", "pipe.bmp", "folder.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        const int exit = runInChild([&] {
            return streamFile(path).failure == LoadFailure::NotRegular
                   && loadPicture(path, JpegIdct::Fast).failure == LoadFailure::NotRegular
                   && !ReadPictureSize(path).has_value();
        }, 256, 5);
        EXPECT_EQ(exit, 0);
    }
}

TEST(HostileFilesTest, OpeningFailuresSayWhy)
{
    TempDir dir;
    EXPECT_EQ(streamFile(dir.file("missing.jpg")).failure, LoadFailure::Missing);
    EXPECT_EQ(loadPicture(dir.file("missing.bmp"), JpegIdct::Fast).failure, LoadFailure::Missing);
    writeBytes(dir.file("empty.jpg"), "");
    EXPECT_EQ(streamFile(dir.file("empty.jpg")).failure, LoadFailure::Empty);
    writeBytes(dir.file("gif.jpg"), "GIF89a");
    EXPECT_EQ(streamFile(dir.file("gif.jpg")).failure, LoadFailure::Damaged);
    writeBytes(dir.file("jpeg.bmp"), "\xFF\xD8\xFF\xE0");
    EXPECT_EQ(loadPicture(dir.file("jpeg.bmp"), JpegIdct::Fast).failure, LoadFailure::Damaged);
    if (::geteuid() != 0) {
        testing_support::writeJpeg(dir.file("locked.jpg"), testing_support::solidPicture(8, 8, 1, 2, 3));
        ::chmod(dir.file("locked.jpg").c_str(), 0);
        EXPECT_EQ(streamFile(dir.file("locked.jpg")).failure, LoadFailure::AccessDenied);
    }
}

TEST(HostileFilesTest, HugeFileThatIsNoJpegIsNotReadWhole)
{
    // 3 GB (sparse) named .jpg: refused on its first two bytes.
    TempDir dir;
    const std::string path = dir.file("big.jpg");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    if (::ftruncate(fd, int64_t {3} << 30) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no room for a 3 GB sparse file";
    }
    ::close(fd);
    const int exit = runInChild([&] {
        return streamFile(path).failure == LoadFailure::Damaged
               && loadPicture(path, JpegIdct::Fast).failure == LoadFailure::Damaged;
    }, 64, 5);
    EXPECT_EQ(exit, 0);
}

TEST(HostileFilesTest, RunLengthBombIsRefusedBeforeDecoding)
{
    // 20,000 x 20,000 RLE8 in a few bytes: 1.6 GB decoded at 4 bytes a pixel.
    TempDir dir;
    std::string palette;
    for (int i = 0; i < 256; ++i)
        palette += std::string(3, static_cast<char>(i)) + '\0';
    const std::string runs = std::string("\xFF\x01", 2) + std::string("\0\1", 2);
    const int64_t offset = 14 + 40 + static_cast<int64_t>(palette.size());
    std::string bmp = "BM" + le32(offset + static_cast<int64_t>(runs.size())) + le32(0) + le32(offset);
    bmp += le32(40) + le32(20000) + le32(20000) + le16(1) + le16(8) + le32(1) + le32(static_cast<int64_t>(runs.size()));
    bmp += le32(2835) + le32(2835) + le32(256) + le32(0) + palette + runs;
    writeBytes(dir.file("bomb.bmp"), bmp);
    // An uncompressed 24-bit bitmap one row high and a billion pixels wide:
    // even its one row is beyond the budget.
    std::string wide = "BM" + le32(58) + le32(0) + le32(54) + le32(40) + le32(1000000000) + le32(1) + le16(1) + le16(24);
    wide += le32(0) + le32(4) + le32(2835) + le32(2835) + le32(0) + le32(0) + "\1\2\3\0";
    writeBytes(dir.file("wide.bmp"), wide);
    // The largest sides a header can give, whose product times four
    // overflows 64 bits.
    std::string largest = bmp;
    largest.replace(18, 8, le32(0x7FFFFFFF) + le32(0x7FFFFFFF));
    writeBytes(dir.file("largest.bmp"), largest);
    for (const char* name : {"bomb.bmp", "wide.bmp", "largest.bmp"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        const int exit = runInChild([&] {
            return streamFile(path).failure == LoadFailure::TooLarge
                   && loadPicture(path, JpegIdct::Fast).failure == LoadFailure::TooLarge;
        }, 64, 5);
        EXPECT_EQ(exit, 0);
    }
}

TEST(HostileFilesTest, WideBaselinePictureStreamsInAFewMegabytes)
{
    // 20,000 x 1,500: 90 MB as a whole picture, beyond the child's limit;
    // streamed it needs one strip of rows.
    TempDir dir;
    const std::string path = dir.file("wide.jpg");
    testing_support::writeJpeg(path, testing_support::solidPicture(20000, 1500, 90, 120, 150), 80);
    const int exit = runInChild([&] {
        RecordingSink sink([](int32_t y, int32_t) { return y % 500 == 0; });
        PictureStreamer streamer;
        const StreamResult result = streamer.stream(path, sink, StreamOptions {});
        return result.ok() && sink.rows.size() == 3 && static_cast<uint8_t>(sink.rows[1][3 * 777 + 2]) > 80;
    }, 32, 20);
    EXPECT_EQ(exit, 0);
}
