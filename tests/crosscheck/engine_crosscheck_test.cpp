// The optimised engines against plain, literal reference engines, on a folder
// of varied pictures: copies, re-saves, resizes, crops, exposure changes,
// flat, damaged and tiny files.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compare/identical/identical_engine.h"
#include "compare/similar/similar_engine.h"
#include "crosscheck/reference_identical.h"
#include "crosscheck/reference_similar.h"
#include "picture/picture_loader.h"
#include "search/engine_context.h"
#include "search/line_order.h"
#include "support/test_pictures.h"

namespace {

using namespace crosscheck;
using namespace testing_support;

uint8_t clampByte(int32_t v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Bilinear-free, deterministic resampling: each target pixel takes the
// nearest source pixel.
Picture resized(const Picture& source, int32_t width, int32_t height)
{
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * source.height() / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = static_cast<int32_t>(static_cast<int64_t>(x) * source.width() / width);
            const uint8_t* p = source.row(sy) + sx * 3;
            out.setPixel(x, y, p[2], p[1], p[0]);
        }
    }
    return out;
}

// A box-filtered downscale, closer to what a photo editor does.
Picture shrunk(const Picture& source, int32_t width, int32_t height)
{
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t y0 = y * source.height() / height;
        const int32_t y1 = std::max(y0 + 1, (y + 1) * source.height() / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t x0 = x * source.width() / width;
            const int32_t x1 = std::max(x0 + 1, (x + 1) * source.width() / width);
            int32_t sum[3] = {0, 0, 0};
            for (int32_t j = y0; j < y1; ++j)
                for (int32_t i = x0; i < x1; ++i)
                    for (int32_t c = 0; c < 3; ++c)
                        sum[c] += source.row(j)[i * 3 + c];
            const int32_t n = (x1 - x0) * (y1 - y0);
            out.setPixel(x, y, clampByte(sum[2] / n), clampByte(sum[1] / n), clampByte(sum[0] / n));
        }
    }
    return out;
}

Picture cropped(const Picture& source, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    const int32_t width = source.width() - left - right;
    const int32_t height = source.height() - top - bottom;
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = source.row(y + top);
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + (x + left) * 3;
            out.setPixel(x, y, p[2], p[1], p[0]);
        }
    }
    return out;
}

// v * scale / 100 + offset on every channel.
Picture exposed(const Picture& source, int32_t scale, int32_t offset)
{
    Picture out(source.width(), source.height());
    for (int32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = row + x * 3;
            out.setPixel(x, y, clampByte(p[2] * scale / 100 + offset), clampByte(p[1] * scale / 100 + offset),
                         clampByte(p[0] * scale / 100 + offset));
        }
    }
    return out;
}

Picture noisy(const Picture& source, uint32_t seed, int32_t amplitude)
{
    Picture out(source.width(), source.height());
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<int32_t>((state >> 16) % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
    };
    for (int32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = row + x * 3;
            out.setPixel(x, y, clampByte(p[2] + next()), clampByte(p[1] + next()), clampByte(p[0] + next()));
        }
    }
    return out;
}

// A picture with a warm (orange-brown) subject on a cool ground, so that the
// similar engine's warm region and alignment window come into play.
Picture warmScene(int32_t width, int32_t height, uint32_t seed)
{
    Picture base = photoLikePicture(width, height, seed);
    const int32_t cx = width * static_cast<int32_t>(30 + seed % 40) / 100;
    const int32_t cy = height * static_cast<int32_t>(35 + seed % 30) / 100;
    const int32_t rx = width / 5, ry = height / 4;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t dx = x - cx, dy = y - cy;
            if (dx * dx * ry * ry + dy * dy * rx * rx < rx * rx * ry * ry) {
                const int32_t shade = (x * 7 + y * 3) % 40;
                base.setPixel(x, y, clampByte(200 + shade / 2), clampByte(120 + shade), clampByte(60 + shade / 3));
            }
        }
    }
    return base;
}

// The picture inside a flat frame (bars of the given widths on each side),
// as a scan or a letterboxed frame would be.
Picture framed(const Picture& source, int32_t side, int32_t topBottom, uint8_t grey)
{
    const int32_t width = source.width() + 2 * side;
    const int32_t height = source.height() + 2 * topBottom;
    Picture out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = x - side, sy = y - topBottom;
            if (sx < 0 || sy < 0 || sx >= source.width() || sy >= source.height()) {
                out.setPixel(x, y, grey, grey, grey);
            } else {
                const uint8_t* p = source.row(sy) + sx * 3;
                out.setPixel(x, y, p[2], p[1], p[0]);
            }
        }
    }
    return out;
}

// Hard black and white blocks: local contrasts above 255, which the similar
// engine keeps only in their low 8 bits.
Picture blocks(int32_t width, int32_t height, int32_t cell)
{
    return patternPicture(width, height, [cell](int32_t x, int32_t y) {
        const bool white = ((x / cell) + (y / cell) * 3) % 4 == 0 || ((x / cell) * (y / cell)) % 5 == 1;
        return white ? 0xffffffu : 0x000000u;
    });
}

Picture decoded(const std::string& path)
{
    LoadedPicture loaded = loadPicture(path, JpegIdct::Accurate);
    EXPECT_TRUE(loaded.ok()) << path;
    return std::move(loaded.picture);
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The folder of pictures every test here searches, made once.
class CrosscheckFolder {
public:
    CrosscheckFolder()
    {
        using namespace testing_support;
        auto jpeg = [&](const std::string& name, const Picture& p, int quality = 90) {
            writeJpeg(m_dir.file(name), p, quality);
        };
        // Scenes, each with its variants.
        const struct { int32_t w, h; uint32_t seed; bool warm; } scenes[] = {
            {320, 240, 11, false}, {300, 220, 23, true}, {256, 256, 37, false},
            {360, 240, 41, true}, {240, 320, 58, false}, {400, 300, 64, true},
        };
        int32_t sceneIndex = 0;
        for (const auto& s : scenes) {
            const std::string stem = "s" + std::to_string(sceneIndex++);
            const Picture original = s.warm ? warmScene(s.w, s.h, s.seed) : photoLikePicture(s.w, s.h, s.seed);
            jpeg(stem + "_orig.jpg", original, 92);
            writeBytes(m_dir.file(stem + "_copy.JPG"), readAll(m_dir.file(stem + "_orig.jpg")));
            jpeg(stem + "_q50.jpg", decoded(m_dir.file(stem + "_orig.jpg")), 50);
            jpeg(stem + "_small.jpg", shrunk(original, s.w * 9 / 10, s.h * 9 / 10));
            jpeg(stem + "_big.jpg", resized(original, s.w * 11 / 10, s.h * 11 / 10));
            jpeg(stem + "_crop3.jpg", cropped(original, s.w * 3 / 100, s.h * 2 / 100, s.w * 2 / 100, s.h * 3 / 100));
            jpeg(stem + "_crop8.jpg", cropped(original, s.w * 8 / 100, s.h * 6 / 100, 0, s.h * 4 / 100));
            jpeg(stem + "_bright.jpg", exposed(original, 100, 25));
            jpeg(stem + "_dark.jpg", exposed(original, 75, -10));
            if (sceneIndex % 2 == 0) {
                writeBmp24(m_dir.file(stem + "_bmp.BMP"), original);
                jpeg(stem + "_noise.jpg", noisy(original, s.seed, 24), 80);
            } else {
                jpeg(stem + "_q20.jpg", original, 20);
                jpeg(stem + "_other.jpg", photoLikePicture(s.w, s.h, s.seed + 1000));
            }
        }
        // Framed pictures, which the similar engine samples again from inside the frame.
        {
            const Picture scene1 = warmScene(300, 220, 23);
            jpeg("s1_framed.jpg", framed(scene1, 30, 24, 40));
            const Picture scene2 = photoLikePicture(256, 256, 37);
            jpeg("s2_framed.jpg", framed(scene2, 20, 2, 200));
            jpeg("s2_sidebars.jpg", framed(scene2, 40, 0, 0));
        }
        // Pale pictures, stretched from their black level.
        jpeg("s3_pale.jpg", exposed(warmScene(360, 240, 41), 60, 90));
        jpeg("s0_pale.jpg", exposed(photoLikePicture(320, 240, 11), 70, 40));
        // Larger pictures, sampled two pixels apart.
        {
            const Picture wide = warmScene(640, 480, 77);
            jpeg("s6_orig.jpg", wide);
            jpeg("s6_q60.jpg", wide, 60);
            jpeg("s6_small.jpg", shrunk(wide, 600, 450));
            jpeg("s6_crop.jpg", cropped(wide, 20, 10, 12, 14));
        }
        // Hard edges.
        jpeg("blocks_a.jpg", blocks(240, 180, 12));
        jpeg("blocks_b.jpg", blocks(240, 180, 12), 40);
        writeBmp24(m_dir.file("blocks_c.BMP"), blocks(250, 190, 12));
        // Flat pictures: two greys stretch to the same signature, a colour does not.
        jpeg("flat_grey1.jpg", solidPicture(200, 150, 128, 128, 128));
        writeBmp24(m_dir.file("flat_grey2.BMP"), solidPicture(210, 160, 60, 60, 60));
        jpeg("flat_colour.jpg", solidPicture(180, 180, 90, 140, 30));
        // Damaged and odd files.
        const std::string whole = readAll(m_dir.file("s0_orig.jpg"));
        writeBytes(m_dir.file("bad_empty.jpg"), "");
        writeBytes(m_dir.file("bad_truncated.jpg"), whole.substr(0, 300));
        writeBytes(m_dir.file("bad_garbage.jpg"), std::string(4000, '\x5a'));
        writeBytes(m_dir.file("bad_jpeg_inside.BMP"), whole);
        writeBytes(m_dir.file("bad_text.bmp"), "not a bitmap at all");
        // Tiny pictures: 2 x 2 is too small for both engines, 4 x 4 for the identical one.
        writeBmp24(m_dir.file("tiny_2x2.BMP"), photoLikePicture(2, 2, 5));
        jpeg("tiny_4x4.jpg", photoLikePicture(4, 4, 6));
        writeBmp24(m_dir.file("tiny_3x3.BMP"), photoLikePicture(3, 3, 7));
        jpeg("tiny_5x5.jpg", photoLikePicture(5, 5, 8));

        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
            paths.push_back(entry.path().string());
        sortLines(paths);
        for (const std::string& path : paths) {
            File_rec rec;
            rec.path = path;
            rec.size = static_cast<int64_t>(std::filesystem::file_size(path));
            m_table.push_back(rec);
        }
    }

    const FileTable& table() const { return m_table; }

private:
    TempDir m_dir;
    FileTable m_table;
};

const CrosscheckFolder& folder()
{
    static const auto made = std::make_unique<CrosscheckFolder>();
    return *made;
}

struct EngineRun {
    FileTable files;
    std::vector<std::string> lines;
    std::vector<std::string> unreadable;
    SearchCounters counters;
};

EngineRun runReal(CheckMode mode, int32_t level, int32_t jobs, const std::vector<std::vector<int32_t>>* runs)
{
    EngineRun run;
    run.files = folder().table();
    run.counters.fileCount = static_cast<int32_t>(run.files.size());
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {run.files, run.lines, run.unreadable, run.counters, abortFlag, mode, level, jobs, nullptr};
    if (mode == CheckMode::Similar)
        CompareSimilar(ctx);
    else if (runs)
        CompareIdentical(ctx, *runs);
    else
        CompareIdentical(ctx);
    sortLines(run.lines);
    return run;
}

void expectSameOutcome(const EngineRun& real, const FileTable& refFiles, RefOutcome ref, bool spreads,
                       const std::string& what)
{
    SCOPED_TRACE(what);
    sortLines(ref.lines);
    EXPECT_EQ(real.lines.size(), ref.lines.size());
    for (size_t i = 0; i < std::max(real.lines.size(), ref.lines.size()); ++i) {
        const std::string r = i < real.lines.size() ? real.lines[i] : "(none)";
        const std::string e = i < ref.lines.size() ? ref.lines[i] : "(none)";
        EXPECT_EQ(r, e) << "line " << i;
    }
    EXPECT_EQ(real.unreadable, ref.unreadable);
    EXPECT_EQ(real.counters.loadCount, ref.loadCount);
    EXPECT_EQ(real.counters.pairCount, ref.pairCount);
    ASSERT_EQ(real.files.size(), refFiles.size());
    for (size_t i = 0; i < refFiles.size(); ++i) {
        EXPECT_EQ(real.files[i].skip, refFiles[i].skip) << refFiles[i].path;
        if (spreads) {
            EXPECT_EQ(real.files[i].spreadA, refFiles[i].spreadA) << refFiles[i].path;
            EXPECT_EQ(real.files[i].spreadB, refFiles[i].spreadB) << refFiles[i].path;
        }
    }
}

// Prints the reference lines when CROSSCHECK_DUMP is set, to tune the folder.
void dumpLines(RefOutcome ref)
{
    if (!std::getenv("CROSSCHECK_DUMP"))
        return;
    sortLines(ref.lines);
    for (const std::string& line : ref.lines)
        std::printf("  %s\n", line.c_str());
}

std::string gateSummary(const RefOutcome& ref)
{
    dumpLines(ref);
    std::ostringstream out;
    out << ref.pairCount << " lines, turned away at gates " << ref.rejectedAt[0] << "/" << ref.rejectedAt[1] << "/"
        << ref.rejectedAt[2] << "/" << ref.rejectedAt[3];
    return out.str();
}

TEST(EngineCrosscheckTest, IdenticalWholeTableMatchesReference)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = folder().table();
        const RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, level);
        std::printf("identical level %d: %s\n", level, gateSummary(ref).c_str());
        // Matches and near misses at the later gates must both occur, or the
        // comparison proves little.
        EXPECT_GE(ref.pairCount, 20);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2}) {
            const EngineRun real = runReal(CheckMode::Identical, level, jobs, nullptr);
            expectSameOutcome(real, refFiles, ref, false,
                              "identical level " + std::to_string(level) + " jobs " + std::to_string(jobs));
        }
    }
}

TEST(EngineCrosscheckTest, IdenticalPerRunMatchesReference)
{
    // Runs as the run loop could form them: ascending members, 2 or more each;
    // the scene groups, a group of flat pictures, a group with damaged files,
    // and files left out of every run.
    const FileTable& table = folder().table();
    std::vector<std::vector<int32_t>> runs;
    auto groupOf = [&](const std::string& prefix) {
        std::vector<int32_t> members;
        for (int32_t i = 0; i < static_cast<int32_t>(table.size()); ++i)
            if (std::string(fileNameOf(table[i].path)).rfind(prefix, 0) == 0)
                members.push_back(i);
        return members;
    };
    for (const char* prefix : {"s1_", "s0_", "flat_", "bad_", "s3_", "tiny_", "s5_"})
        runs.push_back(groupOf(prefix));
    std::vector<int32_t> mixed;
    for (int32_t i : groupOf("s2_"))
        mixed.push_back(i);
    for (int32_t i : groupOf("s4_"))
        if (i % 2 == 0)
            mixed.push_back(i);
    std::sort(mixed.begin(), mixed.end());
    runs.push_back(mixed);

    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize}) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareIdenticalRuns(refFiles, mode, kLevelLoose, runs);
        std::printf("identical per run, mode %d: %s\n", static_cast<int>(mode), gateSummary(ref).c_str());
        EXPECT_GE(ref.pairCount, 8);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2}) {
            const EngineRun real = runReal(mode, kLevelLoose, jobs, &runs);
            expectSameOutcome(real, refFiles, ref, false,
                              "per run mode " + std::to_string(static_cast<int>(mode)) + " jobs " + std::to_string(jobs));
        }
    }
}

TEST(EngineCrosscheckTest, SimilarMatchesReference)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = folder().table();
        const RefOutcome ref = refCompareSimilar(refFiles, level);
        std::printf("similar level %d: %s\n", level, gateSummary(ref).c_str());
        EXPECT_GE(ref.pairCount, 20);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2}) {
            const EngineRun real = runReal(CheckMode::Similar, level, jobs, nullptr);
            expectSameOutcome(real, refFiles, ref, true,
                              "similar level " + std::to_string(level) + " jobs " + std::to_string(jobs));
        }
    }
}

} // namespace
