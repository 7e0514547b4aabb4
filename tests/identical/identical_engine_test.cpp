#include "compare/identical/identical_engine.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/file_name.h"
#include "compare/identical/identical_run.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// The lists and counters a search hands the engine, and what it left there.
struct Search {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
    std::atomic<bool> abort {false};

    explicit Search(const std::vector<std::string>& paths)
    {
        for (const std::string& path : paths) {
            File_rec file;
            file.path = path;
            files.push_back(file);
        }
        counters.fileCount = static_cast<int32_t>(files.size());
    }

    EngineContext context(CheckMode mode, int32_t jobs)
    {
        EngineContext ctx {files, lines, unreadable, counters, abort};
        ctx.mode = mode;
        ctx.level = kLevelStrict;
        ctx.jobs = jobs;
        return ctx;
    }

    std::vector<int32_t> skips() const
    {
        std::vector<int32_t> out;
        for (const File_rec& f : files)
            out.push_back(f.skip);
        return out;
    }
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A baseline JPEG whose frame header claims 65000 x 65000 pixels while its
// data covers 16 x 16: refused for its declared size before any row is
// decoded.
std::string hugeJpegBytes(const TempDir& dir)
{
    testing_support::writeJpeg(dir.file("small.tmp"), testing_support::solidPicture(16, 16, 9, 9, 9));
    std::string bytes = readAll(dir.file("small.tmp"));
    const auto sof = bytes.find("\xFF\xC0");
    if (sof == std::string::npos || sof + 9 > bytes.size())
        throw std::runtime_error("no frame header");
    bytes[sof + 5] = bytes[sof + 7] = '\xFD';
    bytes[sof + 6] = bytes[sof + 8] = '\xE8';
    return bytes;
}

// A folder of distinct pictures in which `copies` maps a file number to the
// number it is a byte copy of. Returns the paths in order.
std::vector<std::string> writePhotos(const TempDir& dir, int32_t count, const std::map<int32_t, int32_t>& copies = {})
{
    std::vector<std::string> paths;
    for (int32_t i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%02d.jpg", i);
        paths.push_back(dir.file(name));
        const auto copy = copies.find(i);
        if (copy != copies.end())
            std::filesystem::copy_file(paths[static_cast<std::size_t>(copy->second)], paths.back());
        else
            testing_support::writeJpeg(paths.back(), testing_support::photoLikePicture(160, 120, 7u + 31u * static_cast<uint32_t>(i)));
    }
    return paths;
}

// A mixed folder: duplicates, a re-save, damaged files of every kind.
std::vector<std::string> writeMixedFolder(const TempDir& dir)
{
    std::vector<std::string> paths = writePhotos(dir, 12, {{5, 1}, {9, 5}, {11, 3}});
    const LoadedPicture p2 = loadPicture(paths[2], JpegIdct::Accurate);
    testing_support::writeJpeg(dir.file("q-resaved.jpg"), p2.picture, 60);
    testing_support::writeBmp24(dir.file("q-bitmap.bmp"), testing_support::photoLikePicture(160, 120, 7u + 31u * 7u));
    testing_support::writeBytes(dir.file("r-empty.jpg"), "");
    testing_support::writeBytes(dir.file("r-header-only.jpg"), readAll(paths[0]).substr(0, 60));
    testing_support::writeBytes(dir.file("r-text.jpg"), "not a picture at all");
    testing_support::writeBytes(dir.file("r-huge.jpg"), hugeJpegBytes(dir));
    testing_support::writeJpeg(dir.file("r-really-jpeg.BMP"), testing_support::photoLikePicture(160, 120, 3));
    testing_support::writeJpeg(dir.file("r-tiny.jpg"), testing_support::solidPicture(4, 40, 50, 60, 70));
    testing_support::writeBmp24(dir.file("r-tiny.bmp"), testing_support::solidPicture(40, 4, 50, 60, 70));
    for (const char* name : {"q-resaved.jpg", "q-bitmap.bmp", "r-empty.jpg", "r-header-only.jpg", "r-text.jpg",
                             "r-huge.jpg", "r-really-jpeg.BMP", "r-tiny.jpg", "r-tiny.bmp"})
        paths.push_back(dir.file(name));
    // Interleave the damaged ones with the good ones.
    std::swap(paths[4], paths[14]);
    std::swap(paths[10], paths[16]);
    return paths;
}

} // namespace

TEST(IdenticalEngineTest, TwoCopiesGiveOneLineWithBothIndices)
{
    TempDir dir;
    Search search(writePhotos(dir, 12, {{9, 3}}));
    EngineContext ctx = search.context(CheckMode::Identical, 1);
    CompareIdentical(ctx);
    ASSERT_EQ(search.lines.size(), 1u);
    EXPECT_EQ(search.lines[0].substr(0, 20), "0000, 000003, 000009");
    EXPECT_EQ(search.lines[0].substr(search.lines[0].size() - 17), ", p03.jpg,p09.jpg");
    EXPECT_EQ(search.counters.loadCount, 12);
    EXPECT_EQ(search.counters.pairCount, 1);
    EXPECT_TRUE(search.unreadable.empty());
}

TEST(IdenticalEngineTest, OneFileIsLoadedAndPairedWithNothing)
{
    TempDir dir;
    Search search(writePhotos(dir, 1));
    EngineContext ctx = search.context(CheckMode::Identical, 2);
    CompareIdentical(ctx);
    EXPECT_EQ(search.counters.loadCount, 1);
    EXPECT_EQ(search.counters.pairCount, 0);
    EXPECT_TRUE(search.lines.empty());
}

TEST(IdenticalEngineTest, DamagedFilesAreListedInTableOrderAndTheSearchGoesOn)
{
    TempDir dir;
    const std::vector<std::string> paths = writeMixedFolder(dir);
    Search search(paths);
    EngineContext ctx = search.context(CheckMode::Identical, 1);
    CompareIdentical(ctx);

    std::vector<std::string> expected;
    for (const std::string& path : paths) {
        if (fileNameOf(path).starts_with("r-"))
            expected.push_back(path);
    }
    EXPECT_EQ(search.unreadable, expected);
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(search.files[i].skip, fileNameOf(paths[i]).starts_with("r-") ? 1 : 0) << paths[i];
    EXPECT_EQ(search.counters.loadCount, static_cast<int32_t>(paths.size() - expected.size()));

    // The byte copies 1-5-9 and 3-11 are found whatever lies between them.
    std::vector<std::string> exact;
    for (const std::string& line : search.lines) {
        if (line.starts_with("0000, "))
            exact.push_back(line.substr(line.rfind(", ") + 2));
    }
    std::sort(exact.begin(), exact.end());
    EXPECT_EQ(exact, (std::vector<std::string> {"p01.jpg,p05.jpg", "p01.jpg,p09.jpg", "p03.jpg,p11.jpg",
                                                "p05.jpg,p09.jpg"}));
    EXPECT_EQ(search.counters.pairCount, static_cast<int32_t>(search.lines.size()));
}

TEST(IdenticalEngineTest, AbortWhileTheThirdPictureLoadsEndsAfterCountingIt)
{
    TempDir dir;
    std::vector<std::string> paths = writePhotos(dir, 6, {{1, 0}, {5, 4}});
    testing_support::writeBytes(dir.file("bad.jpg"), "broken");
    paths.insert(paths.begin() + 1, dir.file("bad.jpg")); // p00, bad, p01 (the third), ...

    for (int32_t jobs : {1, 2}) {
        Search search(paths);
        EngineContext ctx = search.context(CheckMode::Identical, jobs);
        std::atomic<int32_t> calls {0};
        IdenticalRun run(ctx, [&](PictureStreamer& streamer, const std::string& path, RowSink& sink,
                                  const StreamOptions& options) {
            if (path == paths[2])
                search.abort = true;
            ++calls;
            return streamer.stream(path, sink, options);
        });
        run.wholeTable();
        EXPECT_TRUE(search.lines.empty()) << "jobs " << jobs;
        EXPECT_EQ(search.counters.pairCount, 0);
        if (jobs == 1) {
            EXPECT_EQ(calls, 3);
            EXPECT_EQ(search.counters.loadCount, 2);
            EXPECT_EQ(search.unreadable, std::vector<std::string> {paths[1]});
            EXPECT_EQ(search.skips(), (std::vector<int32_t> {0, 1, 0, 0, 0, 0, 0}));
        } else {
            // The commit may already have seen the flag after the first
            // picture; either way it ends at a point one thread could have.
            const bool afterFirst = search.counters.loadCount == 1;
            EXPECT_EQ(search.counters.loadCount, afterFirst ? 1 : 2);
            EXPECT_EQ(search.unreadable, afterFirst ? std::vector<std::string> {} : std::vector<std::string> {paths[1]});
            for (std::size_t i = 2; i < paths.size(); ++i)
                EXPECT_EQ(search.files[i].skip, 0);
        }
    }
}

TEST(IdenticalEngineTest, ThreadCountChangesNothing)
{
    TempDir dir;
    const std::vector<std::string> paths = writeMixedFolder(dir);
    const std::vector<std::vector<int32_t>> runs = {{0, 1, 2}, {3, 4}, {5, 6, 7, 8, 9, 10, 11}, {13, 14, 15, 16, 19, 20}};
    for (CheckMode mode : {CheckMode::Identical, CheckMode::FileSize, CheckMode::PictureSize}) {
        Search one(paths);
        EngineContext ctxOne = one.context(mode, 1);
        Search three(paths);
        EngineContext ctxThree = three.context(mode, 3);
        if (mode == CheckMode::Identical) {
            CompareIdentical(ctxOne);
            CompareIdentical(ctxThree);
            EXPECT_FALSE(one.lines.empty());
        } else {
            CompareIdentical(ctxOne, runs);
            CompareIdentical(ctxThree, runs);
        }
        EXPECT_EQ(one.lines, three.lines);
        EXPECT_EQ(one.unreadable, three.unreadable);
        EXPECT_EQ(one.skips(), three.skips());
        EXPECT_EQ(one.counters.loadCount, three.counters.loadCount);
        EXPECT_EQ(one.counters.pairCount, three.counters.pairCount);
    }
}

TEST(IdenticalEngineTest, RunsAreComparedOnlyWithinThemselves)
{
    TempDir dir;
    // 2 and 3 are copies but stand in different runs; 6 copies 4 within a run.
    std::vector<std::string> paths = writePhotos(dir, 8, {{3, 2}, {6, 4}});
    testing_support::writeBytes(dir.file("z.jpg"), "broken");
    paths.push_back(dir.file("z.jpg"));
    const std::vector<std::vector<int32_t>> runs = {{0, 1, 2}, {3, 4, 5, 6}, {7, 8}};

    Search together(paths);
    EngineContext ctx = together.context(CheckMode::FileSize, 2);
    CompareIdentical(ctx, runs);
    ASSERT_EQ(together.lines.size(), 1u);
    EXPECT_TRUE(together.lines[0].starts_with("0000, 000004, 000006")) << together.lines[0];
    EXPECT_EQ(together.unreadable, std::vector<std::string> {paths[8]});

    // The same as one call per run, in order.
    Search apart(paths);
    EngineContext ctxApart = apart.context(CheckMode::FileSize, 1);
    for (const auto& run : runs)
        CompareIdentical(ctxApart, std::vector<std::vector<int32_t>> {run});
    EXPECT_EQ(apart.lines, together.lines);
    EXPECT_EQ(apart.unreadable, together.unreadable);
    EXPECT_EQ(apart.counters.loadCount, together.counters.loadCount);
    EXPECT_EQ(apart.counters.loadCount, 8);
}
