// The optimised engines against the plain, single-threaded reference engines
// of tests/crosscheck (reference_identical, reference_similar), on a folder
// of varied pictures: copies, re-saves, resizes, crops, exposure changes,
// flat, damaged and tiny files.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/file_name.h"
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
            testing_support::setPixel(out, x, y, p[2], p[1], p[0]);
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
            testing_support::setPixel(out, x, y, clampByte(sum[2] / n), clampByte(sum[1] / n), clampByte(sum[0] / n));
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
            testing_support::setPixel(out, x, y, p[2], p[1], p[0]);
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
            testing_support::setPixel(out, x, y, clampByte(p[2] * scale / 100 + offset), clampByte(p[1] * scale / 100 + offset),
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
            testing_support::setPixel(out, x, y, clampByte(p[2] + next()), clampByte(p[1] + next()), clampByte(p[0] + next()));
        }
    }
    return out;
}

// A gamma curve on every channel: mid-tones move while black and white stay.
Picture withGamma(const Picture& source, double gamma)
{
    Picture out(source.width(), source.height());
    auto curve = [gamma](int32_t v) { return clampByte(static_cast<int32_t>(255.0 * std::pow(v / 255.0, gamma))); };
    for (int32_t y = 0; y < source.height(); ++y) {
        const uint8_t* row = source.row(y);
        for (int32_t x = 0; x < source.width(); ++x) {
            const uint8_t* p = row + x * 3;
            testing_support::setPixel(out, x, y, curve(p[2]), curve(p[1]), curve(p[0]));
        }
    }
    return out;
}

// A 3 x 3 box blur.
Picture blurred(const Picture& source)
{
    Picture out(source.width(), source.height());
    for (int32_t y = 0; y < source.height(); ++y) {
        for (int32_t x = 0; x < source.width(); ++x) {
            int32_t sum[3] = {0, 0, 0};
            int32_t n = 0;
            for (int32_t j = std::max(0, y - 1); j <= std::min(source.height() - 1, y + 1); ++j) {
                for (int32_t i = std::max(0, x - 1); i <= std::min(source.width() - 1, x + 1); ++i) {
                    for (int32_t c = 0; c < 3; ++c)
                        sum[c] += source.row(j)[i * 3 + c];
                    ++n;
                }
            }
            testing_support::setPixel(out, x, y, clampByte(sum[2] / n), clampByte(sum[1] / n), clampByte(sum[0] / n));
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
            // In 64 bits: rx^2 * ry^2 overflows 32 bits from about 1,000 x 1,000.
            const int64_t dx = x - cx, dy = y - cy, rx2 = int64_t {rx} * rx, ry2 = int64_t {ry} * ry;
            if (dx * dx * ry2 + dy * dy * rx2 < rx2 * ry2) {
                const int32_t shade = (x * 7 + y * 3) % 40;
                testing_support::setPixel(base, x, y, clampByte(200 + shade / 2), clampByte(120 + shade), clampByte(60 + shade / 3));
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
                testing_support::setPixel(out, x, y, grey, grey, grey);
            } else {
                const uint8_t* p = source.row(sy) + sx * 3;
                testing_support::setPixel(out, x, y, p[2], p[1], p[0]);
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
            const std::string stem = std::string("s") + std::to_string(sceneIndex++);
            const Picture original = s.warm ? warmScene(s.w, s.h, s.seed) : photoLikePicture(s.w, s.h, s.seed);
            jpeg(stem + "_orig.jpg", original, 92);
            writeBytes(m_dir.file(stem + "_copy.JPG"), readAll(m_dir.file(stem + "_orig.jpg")));
            jpeg(stem + "_q50.jpg", decoded(m_dir.file(stem + "_orig.jpg")), 50);
            jpeg(stem + "_small.jpg", shrunk(original, s.w * 9 / 10, s.h * 9 / 10));
            jpeg(stem + "_big.jpg", resized(original, s.w * 11 / 10, s.h * 11 / 10));
            jpeg(stem + "_crop3.jpg", cropped(original, s.w * 3 / 100, s.h * 2 / 100, s.w * 2 / 100, s.h * 3 / 100));
            jpeg(stem + "_crop8.jpg", cropped(original, s.w * 8 / 100, s.h * 6 / 100, 0, s.h * 4 / 100));
            jpeg(stem + "_crop5.jpg", cropped(original, s.w * 5 / 100, 0, 0, s.h * 5 / 100));
            jpeg(stem + "_crop6.jpg", cropped(original, 0, s.h * 6 / 100, s.w * 6 / 100, 0));
            jpeg(stem + "_bright.jpg", exposed(original, 100, 25));
            // Blur, a strong gamma and noise together move every profile at
            // once: pairs that pass each profile limit but not the total.
            jpeg(stem + "_harsh1.jpg", noisy(withGamma(blurred(original), 0.35), s.seed, 34), 95);
            jpeg(stem + "_harsh2.jpg", noisy(withGamma(blurred(original), 1.6), s.seed + 1, 38), 95);
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
        writeBmp24(m_dir.file("tiny_flat3x3.BMP"), solidPicture(3, 3, 120, 130, 140));
        writeBmp24(m_dir.file("tiny_flat5x5.BMP"), solidPicture(5, 5, 100, 100, 100));
        writeBmp24(m_dir.file("tiny_3x7.BMP"), photoLikePicture(3, 7, 9));
        writeBmp24(m_dir.file("tiny_7x3.BMP"), photoLikePicture(7, 3, 10));
        writeBmp24(m_dir.file("tiny_1x50.BMP"), photoLikePicture(1, 50, 12));
        jpeg("small_12x9.jpg", photoLikePicture(12, 9, 13));
        jpeg("small_13x10.jpg", photoLikePicture(13, 10, 13));
        jpeg("strip_600x40.jpg", photoLikePicture(600, 40, 14));
        jpeg("strip_40x600.jpg", photoLikePicture(40, 600, 15));

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
    std::string path(const std::string& name) const { return m_dir.file(name); }

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

EngineRun runReal(const FileTable& table, CheckMode mode, int32_t level, int32_t jobs,
                  const std::vector<std::vector<int32_t>>* runs)
{
    EngineRun run;
    run.files = table;
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
    int32_t totalGateMisses = 0;
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = folder().table();
        const RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, level);
        totalGateMisses += ref.rejectedAt[3];
        std::printf("identical level %d: %s\n", level, gateSummary(ref).c_str());
        // Matches and near misses at the later gates must both occur, or the
        // comparison proves little.
        EXPECT_GE(ref.pairCount, 20);
        EXPECT_GE(ref.rejectedAt[1] + ref.rejectedAt[2] + ref.rejectedAt[3], 5);
        for (int32_t jobs : {1, 2, 5}) {
            if (jobs == 5 && level != kLevelStrict)
                continue;
            const EngineRun real = runReal(folder().table(), CheckMode::Identical, level, jobs, nullptr);
            expectSameOutcome(real, refFiles, ref, false,
                              std::string("identical level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
        }
    }
    // The harsh variants pass every profile limit but not the total at some level.
    EXPECT_GE(totalGateMisses, 1);
}

TEST(EngineCrosscheckTest, IdenticalTurnedMatchesReference)
{
    // The varied folder searched for turned copies too: flat pictures match
    // themselves in every orientation, scenes only upright, the strips and
    // the tall and wide scenes are met with their sides swapped.
    FileTable refFiles = folder().table();
    RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, kLevelLoose, true);
    EXPECT_GE(ref.turnedPairs.size(), 1u);
    EngineRun real;
    real.files = folder().table();
    std::atomic<bool> abortFlag {false};
    PairOrientations orientations;
    EngineContext ctx {real.files, real.lines, real.unreadable, real.counters, abortFlag, CheckMode::Identical,
                       kLevelLoose, 2, nullptr};
    ctx.turned = true;
    ctx.orientations = &orientations;
    CompareIdentical(ctx);
    sortLines(real.lines);
    expectSameOutcome(real, refFiles, ref, false, "identical turned, level loose");
    EXPECT_EQ(orientations.size(), ref.turnedPairs.size());
    for (const RefOutcome::TurnedPair& pair : ref.turnedPairs)
        EXPECT_EQ(orientations.of(pair.a, pair.b), pair.orientation) << pair.a << "," << pair.b;
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
        for (int32_t jobs : {1, 2, 5}) {
            const EngineRun real = runReal(folder().table(), mode, kLevelLoose, jobs, &runs);
            expectSameOutcome(real, refFiles, ref, false,
                              std::string("per run mode ") + std::to_string(static_cast<int>(mode)) + " jobs " + std::to_string(jobs));
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
        for (int32_t jobs : {1, 2, 5}) {
            if (jobs == 5 && level != kLevelStrict)
                continue;
            const EngineRun real = runReal(folder().table(), CheckMode::Similar, level, jobs, nullptr);
            expectSameOutcome(real, refFiles, ref, true,
                              std::string("similar level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
        }
    }
}

} // namespace

namespace {

// Every integer of one key's value in a JSON object, in order (arrays are
// read depth-first). Enough for the signature command's flat output.
std::vector<int64_t> jsonInts(const std::string& json, const std::string& key)
{
    std::vector<int64_t> values;
    size_t at = json.find(std::string("\"") + key + "\"");
    if (at == std::string::npos)
        return values;
    at = json.find(':', at) + 1;
    int depth = 0;
    while (at < json.size()) {
        const char c = json[at];
        if (c == '[') {
            ++depth;
            ++at;
        } else if (c == ']') {
            --depth;
            ++at;
            if (depth == 0)
                break;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t used = 0;
            values.push_back(std::stoll(json.substr(at), &used));
            at += used;
            if (depth == 0)
                break;
        } else if ((c == ',' || c == '}') && depth == 0) {
            break;
        } else {
            ++at;
        }
    }
    return values;
}

std::string runCommand(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string signatureJson(const std::string& engine, const std::string& path)
{
    return runCommand(std::string("'") + ZELVIC_CLI_PATH + "' signature --engine " + engine + " '" + path + "'");
}

const char* const kSignatureSamples[] = {
    "s0_orig.jpg", "s1_framed.jpg", "s2_sidebars.jpg", "s3_pale.jpg", "s6_orig.jpg",
    "blocks_a.jpg", "flat_colour.jpg", "strip_600x40.jpg", "tiny_5x5.jpg", "small_12x9.jpg",
};

TEST(EngineCrosscheckTest, IdenticalSignatureCommandMatchesReference)
{
    if (!std::filesystem::exists(ZELVIC_CLI_PATH))
        GTEST_SKIP() << "zelvic-cli not built";
    for (const char* name : kSignatureSamples) {
        SCOPED_TRACE(name);
        const std::string path = folder().path(name);
        const std::string json = signatureJson("identical", path);
        LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
        ASSERT_TRUE(loaded.ok());
        const RefIdenticalSignature ref = refIdenticalSignature(loaded.picture);
        EXPECT_EQ(jsonInts(json, "width"), std::vector<int64_t> {loaded.picture.width()});
        EXPECT_EQ(jsonInts(json, "height"), std::vector<int64_t> {loaded.picture.height()});
        EXPECT_EQ(jsonInts(json, "centroids"),
                  (std::vector<int64_t> {ref.centroid[0], ref.centroid[1], ref.centroid[2], ref.centroid[3]}));
        std::vector<int64_t> profiles;
        for (int32_t k = 0; k < 4 * kRefDivCount; ++k)
            for (int32_t p = 1; p <= 58; ++p)
                profiles.push_back(ref.profile[k][p]);
        EXPECT_EQ(jsonInts(json, "profiles"), profiles);
    }
}

TEST(EngineCrosscheckTest, SimilarSignatureCommandMatchesReference)
{
    if (!std::filesystem::exists(ZELVIC_CLI_PATH))
        GTEST_SKIP() << "zelvic-cli not built";
    int32_t resampled = 0;
    for (const char* name : kSignatureSamples) {
        SCOPED_TRACE(name);
        const std::string path = folder().path(name);
        const std::string json = signatureJson("similar", path);
        LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
        ASSERT_TRUE(loaded.ok());
        const RefSimilarSignature ref = refSimilarSignature(loaded.picture);
        if (ref.frame[1] - ref.frame[0] < 60 || ref.frame[3] - ref.frame[2] < 60)
            ++resampled;
        EXPECT_EQ(jsonInts(json, "frame"), (std::vector<int64_t>(ref.frame.begin(), ref.frame.end())));
        std::vector<int64_t> map, profiles;
        for (int32_t x = 5; x <= 64; ++x)
            for (int32_t y = 5; y <= 64; ++y)
                map.push_back(ref.contrastMap[x][y]);
        for (int32_t r = 1; r <= 8; ++r)
            for (int32_t i = 5; i <= 64; ++i)
                profiles.push_back(ref.profiles[r][i]);
        EXPECT_EQ(jsonInts(json, "contrast_map"), map);
        EXPECT_EQ(jsonInts(json, "profiles"), profiles);
        EXPECT_EQ(jsonInts(json, "centroid_x"), (std::vector<int64_t>(ref.centroidX.begin(), ref.centroidX.begin() + 4)));
        EXPECT_EQ(jsonInts(json, "centroid_y"), (std::vector<int64_t>(ref.centroidY.begin(), ref.centroidY.begin() + 4)));
        EXPECT_EQ(jsonInts(json, "plane_totals"),
                  (std::vector<int64_t>(ref.planeTotals.begin(), ref.planeTotals.end())));
        EXPECT_EQ(jsonInts(json, "band_codes"),
                  (std::vector<int64_t>(ref.bandCodes.begin() + 1, ref.bandCodes.end())));
        EXPECT_EQ(jsonInts(json, "spread_a"), std::vector<int64_t> {ref.spreadA});
        EXPECT_EQ(jsonInts(json, "spread_b"), std::vector<int64_t> {ref.spreadB});
    }
    // The framed samples must take the second sampling, or it goes unchecked.
    EXPECT_GE(resampled, 2);
}

// Above 1000 files the stricter bounds apply. The table names the same
// files many times over, which also gives many exact copies.
TEST(EngineCrosscheckTest, SimilarAboveThousandFilesMatchesReference)
{
    FileTable big;
    const FileTable& table = folder().table();
    while (big.size() < 1001) {
        for (const File_rec& rec : table) {
            const std::string name(fileNameOf(rec.path));
            if (big.size() < 1001 && name.rfind("s6_", 0) != 0 && name.rfind("strip_", 0) != 0)
                big.push_back(rec);
        }
    }
    FileTable refFiles = big;
    const RefOutcome ref = refCompareSimilar(refFiles, kLevelMiddle);
    std::printf("similar, 1001 files: %s\n", gateSummary(ref).c_str());
    EXPECT_GE(ref.rejectedAt[3], 5);

    EngineRun real;
    real.files = big;
    real.counters.fileCount = static_cast<int32_t>(big.size());
    std::atomic<bool> abortFlag {false};
    EngineContext ctx {real.files, real.lines, real.unreadable, real.counters, abortFlag, CheckMode::Similar,
                       kLevelMiddle, 2, nullptr};
    CompareSimilar(ctx);
    sortLines(real.lines);
    expectSameOutcome(real, refFiles, ref, true, "similar 1001 files");
}

} // namespace

namespace {

FileTable tableOf(const std::string& folderPath)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folderPath)) {
        const std::string ext = upperExtension(entry.path().string());
        if (entry.is_regular_file() && (ext == ".JPG" || ext == ".BMP"))
            paths.push_back(entry.path().string());
    }
    sortLines(paths);
    FileTable table;
    for (const std::string& path : paths) {
        File_rec rec;
        rec.path = path;
        rec.size = static_cast<int64_t>(std::filesystem::file_size(path));
        table.push_back(rec);
    }
    return table;
}

// Every mode and level on one table, with both thread counts.
void crosscheckTable(const FileTable& table)
{
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareIdentical(refFiles, CheckMode::Identical, level);
        std::printf("identical level %d: %s\n", level, gateSummary(ref).c_str());
        for (int32_t jobs : {1, 2})
            expectSameOutcome(runReal(table, CheckMode::Identical, level, jobs, nullptr), refFiles, ref, false,
                              std::string("identical level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
    }
    std::vector<std::vector<int32_t>> runs;
    for (int32_t i = 0; i + 1 < static_cast<int32_t>(table.size()); i += 7) {
        std::vector<int32_t> run;
        for (int32_t j = i; j < std::min<int32_t>(i + 7, static_cast<int32_t>(table.size())); ++j)
            run.push_back(j);
        runs.push_back(run);
    }
    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize}) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareIdenticalRuns(refFiles, mode, kLevelStrict, runs);
        std::printf("per run mode %d: %s\n", static_cast<int>(mode), gateSummary(ref).c_str());
        expectSameOutcome(runReal(table, mode, kLevelStrict, 2, &runs), refFiles, ref, false,
                          std::string("per run mode ") + std::to_string(static_cast<int>(mode)));
    }
    for (int32_t level = kLevelStrict; level <= kLevelLoose; ++level) {
        FileTable refFiles = table;
        const RefOutcome ref = refCompareSimilar(refFiles, level);
        std::printf("similar level %d: %s\n", level, gateSummary(ref).c_str());
        for (int32_t jobs : {1, 2})
            expectSameOutcome(runReal(table, CheckMode::Similar, level, jobs, nullptr), refFiles, ref, true,
                              std::string("similar level ") + std::to_string(level) + " jobs " + std::to_string(jobs));
    }
}

// A folder of one's own photographs: CROSSCHECK_FOLDER=/path build/crosscheck_tests
TEST(EngineCrosscheckTest, GivenFolderMatchesReference)
{
    const char* given = std::getenv("CROSSCHECK_FOLDER");
    if (!given)
        GTEST_SKIP() << "set CROSSCHECK_FOLDER to cross-check a folder of pictures";
    crosscheckTable(tableOf(given));
}

// Many random scenes and variants at random sizes; too slow for every run.
// CROSSCHECK_STRESS=<seed> build/crosscheck_tests
TEST(EngineCrosscheckTest, RandomFolderMatchesReference)
{
    const char* seedText = std::getenv("CROSSCHECK_STRESS");
    if (!seedText)
        GTEST_SKIP() << "set CROSSCHECK_STRESS to a seed to cross-check a large random folder";
    uint32_t state = static_cast<uint32_t>(std::stoul(seedText)) * 2654435761u + 7;
    auto next = [&](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    TempDir dir;
    for (int32_t scene = 0; scene < 30; ++scene) {
        const auto w = static_cast<int32_t>(5 + next(700));
        const auto h = static_cast<int32_t>(5 + next(700));
        const Picture original = next(2) ? warmScene(w, h, next(100000)) : photoLikePicture(w, h, next(100000));
        const std::string stem = dir.file(std::string("r") + std::to_string(scene));
        writeJpeg(stem + "_a.jpg", original, static_cast<int>(30 + next(70)));
        for (int32_t v = 0; v < static_cast<int32_t>(1 + next(5)); ++v) {
            const std::string name = stem + "_v" + std::to_string(v);
            switch (next(7)) {
            case 0:
                writeJpeg(name + ".jpg", original, static_cast<int>(20 + next(80)));
                break;
            case 1:
                writeBmp24(name + ".bmp", shrunk(original, std::max(3, w * 85 / 100), std::max(3, h * 85 / 100)));
                break;
            case 2:
                writeJpeg(name + ".jpg", resized(original, w + static_cast<int32_t>(next(40)), h + static_cast<int32_t>(next(40))));
                break;
            case 3:
                writeJpeg(name + ".jpg", cropped(original, w / 30, h / 25, w / 40, 0));
                break;
            case 4:
                writeJpeg(name + ".jpg", exposed(original, static_cast<int32_t>(60 + next(60)), static_cast<int32_t>(next(80)) - 30));
                break;
            case 5:
                writeJpeg(name + ".jpg", framed(original, static_cast<int32_t>(next(40)), static_cast<int32_t>(next(40)), static_cast<uint8_t>(next(256))));
                break;
            default:
                writeJpeg(name + ".jpg", noisy(original, next(1000), static_cast<int32_t>(1 + next(40))));
                break;
            }
        }
    }
    crosscheckTable(tableOf(dir.str()));
}

} // namespace

namespace {

// Tables with no pair to decide: empty, a single picture, only unreadable
// files, and one picture among unreadable ones.
TEST(EngineCrosscheckTest, DegenerateTablesMatchReference)
{
    const FileTable& all = folder().table();
    auto pick = [&](std::initializer_list<const char*> names) {
        FileTable table;
        for (const char* name : names)
            for (const File_rec& rec : all)
                if (fileNameOf(rec.path) == name)
                    table.push_back(rec);
        EXPECT_EQ(table.size(), names.size());
        return table;
    };
    const FileTable tables[] = {
        FileTable {},
        pick({"s0_orig.jpg"}),
        pick({"bad_empty.jpg", "bad_jpeg_inside.BMP", "tiny_2x2.BMP"}),
        pick({"bad_garbage.jpg", "s1_orig.jpg", "tiny_4x4.jpg"}),
    };
    const std::vector<std::vector<int32_t>> noRuns;
    for (const FileTable& table : tables) {
        const std::string what = std::to_string(table.size()) + " files";
        for (int32_t jobs : {1, 2}) {
            FileTable identicalFiles = table;
            const RefOutcome identical = refCompareIdentical(identicalFiles, CheckMode::Identical, kLevelLoose);
            expectSameOutcome(runReal(table, CheckMode::Identical, kLevelLoose, jobs, nullptr), identicalFiles,
                              identical, false, std::string("identical, ") + what);
            FileTable runFiles = table;
            const RefOutcome none = refCompareIdenticalRuns(runFiles, CheckMode::FileSize, kLevelStrict, noRuns);
            expectSameOutcome(runReal(table, CheckMode::FileSize, kLevelStrict, jobs, &noRuns), runFiles, none, false,
                              std::string("no runs, ") + what);
            FileTable similarFiles = table;
            const RefOutcome similar = refCompareSimilar(similarFiles, kLevelLoose);
            expectSameOutcome(runReal(table, CheckMode::Similar, kLevelLoose, jobs, nullptr), similarFiles, similar,
                              true, std::string("similar, ") + what);
        }
    }
}

} // namespace
