#include "picture/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "picture/picture_stream.h"
#include "support/recording_sink.h"
#include "support/test_pictures.h"

using testing_support::RecordingSink;
using testing_support::TempDir;
using testing_support::writeBytes;

namespace {

struct Encoding {
    const char* name;
    int components = 3;            // 1 grey, 3 colour, 4 CMYK
    J_COLOR_SPACE stored = JCS_YCbCr;
    int h0 = 2, v0 = 2;            // sampling of the first component
    bool progressive = false;
    bool arithmetic = false;
    int restartInterval = 0;       // in MCUs
};

const std::vector<Encoding>& encodings()
{
    static const std::vector<Encoding> all = {
        {"420", 3, JCS_YCbCr, 2, 2},
        {"422", 3, JCS_YCbCr, 2, 1},
        {"440", 3, JCS_YCbCr, 1, 2},
        {"444", 3, JCS_YCbCr, 1, 1},
        {"411", 3, JCS_YCbCr, 4, 1},
        {"grey", 1, JCS_GRAYSCALE, 1, 1},
        {"cmyk", 4, JCS_CMYK, 1, 1},
        {"ycck", 4, JCS_YCCK, 2, 2},
        {"progressive420", 3, JCS_YCbCr, 2, 2, true},
        {"progressiveGrey", 1, JCS_GRAYSCALE, 1, 1, true},
        {"arithmetic420", 3, JCS_YCbCr, 2, 2, false, true},
        {"arithmeticProgressive", 3, JCS_YCbCr, 2, 1, true, true},
        {"restart420", 3, JCS_YCbCr, 2, 2, false, false, 3},
    };
    return all;
}

// Detailed pixels with fine noise, so that any difference in upsampling or
// in the inverse DCT shows.
std::vector<uint8_t> samples(int width, int height, int components)
{
    const Picture photo = testing_support::photoLikePicture(width, height, static_cast<uint32_t>(width * 31 + height));
    std::vector<uint8_t> out;
    out.reserve(static_cast<std::size_t>(width) * height * components);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = photo.row(y) + 3 * x;
            const int noise = static_cast<int>((static_cast<uint32_t>(x * 7919 + y * 104729) * 2654435761u) >> 27) - 16;
            for (int c = 0; c < components; ++c)
                out.push_back(static_cast<uint8_t>(std::clamp(p[c % 3] + noise * (c + 1) / 2, 0, 255)));
        }
    }
    return out;
}

std::string encode(const Encoding& e, int width, int height)
{
    const std::vector<uint8_t> pixels = samples(width, height, e.components);
    const auto configure = [&](jpeg_compress_struct& cinfo) {
        jpeg_set_colorspace(&cinfo, e.stored);
        jpeg_set_quality(&cinfo, 90, TRUE);
        cinfo.comp_info[0].h_samp_factor = e.h0;
        cinfo.comp_info[0].v_samp_factor = e.v0;
        for (int c = 1; c < cinfo.num_components; ++c) {
            cinfo.comp_info[c].h_samp_factor = 1;
            cinfo.comp_info[c].v_samp_factor = 1;
        }
        if (e.components == 4) { // the K of YCCK is sampled like Y
            cinfo.comp_info[3].h_samp_factor = e.h0;
            cinfo.comp_info[3].v_samp_factor = e.v0;
        }
        if (e.progressive)
            jpeg_simple_progression(&cinfo);
        cinfo.arith_code = e.arithmetic ? TRUE : FALSE;
        cinfo.restart_interval = static_cast<unsigned>(e.restartInterval);
    };
    const int space = e.components == 1 ? JCS_GRAYSCALE : e.components == 4 ? JCS_CMYK : JCS_RGB;
    return testing_support::encodeJpeg(width, height, e.components, space, configure, [&](int y) {
        return pixels.data() + static_cast<std::size_t>(y) * width * e.components;
    });
}

// The plain whole-picture decode the streamed one must equal: every row read
// one at a time from memory, fast IDCT, CMYK converted per pixel.
struct ReferenceError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void referenceErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ReferenceError*>(cinfo->err)->jump, 1);
}

extern "C" void referenceQuiet(j_common_ptr, int) {}

bool referenceDecode(const std::string& bytes, Picture* out, std::vector<uint8_t>* cmykRow)
{
    jpeg_decompress_struct cinfo;
    ReferenceError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = referenceErrorExit;
    err.pub.emit_message = referenceQuiet;
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_IFAST;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool inverted = cinfo.saw_Adobe_marker;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    *out = Picture(static_cast<int32_t>(cinfo.output_width), static_cast<int32_t>(cinfo.output_height));
    cmykRow->resize(cinfo.output_width * 4);
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t* dest = out->row(static_cast<int32_t>(cinfo.output_scanline));
        JSAMPROW row = cmyk ? cmykRow->data() : dest;
        jpeg_read_scanlines(&cinfo, &row, 1);
        for (JDIMENSION x = 0; cmyk && x < cinfo.output_width; ++x) {
            int c = row[4 * x], m = row[4 * x + 1], y = row[4 * x + 2], k = row[4 * x + 3];
            if (!inverted) {
                c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            }
            dest[3 * x] = static_cast<uint8_t>(y * k / 255);
            dest[3 * x + 1] = static_cast<uint8_t>(m * k / 255);
            dest[3 * x + 2] = static_cast<uint8_t>(c * k / 255);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

Picture reference(const std::string& bytes)
{
    Picture picture;
    std::vector<uint8_t> cmykRow;
    EXPECT_TRUE(referenceDecode(bytes, &picture, &cmykRow));
    return picture;
}

// Streams bytes (as a .jpg file) and compares its rows with the reference
// decode; also the whole-picture decode.
void expectStreamsLikeReference(const TempDir& dir, const std::string& bytes, const std::string& label)
{
    SCOPED_TRACE(label);
    const std::string path = dir.file("p.jpg");
    writeBytes(path, bytes);
    testing_support::expectStreamedAndLoaded(path, reference(bytes),
                                             [](const std::string& file) { return decodeJpegFile(file, JpegIdct::Fast); });
}

} // namespace

TEST(JpegStreamTest, EveryEncodingAtAwkwardSizesStreamsTheWholeDecodesPixels)
{
    TempDir dir;
    for (const Encoding& e : encodings()) {
        for (const auto& [w, h] : std::vector<std::pair<int, int>> {
                 {3, 3}, {17, 17}, {9, 16}, {16, 9}, {294, 295}, {295, 294}, {589, 590}, {590, 589}, {8, 10000}}) {
            expectStreamsLikeReference(dir, encode(e, w, h),
                                       std::string(e.name) + " " + std::to_string(w) + "x" + std::to_string(h));
        }
    }
}

TEST(JpegStreamTest, EverySmallSideFrom3To17)
{
    TempDir dir;
    for (const Encoding& e : {encodings()[0], encodings()[2], encodings()[4], encodings()[8]}) {
        for (int w = 3; w <= 17; ++w) {
            for (int h = 3; h <= 17; h += 2)
                expectStreamsLikeReference(dir, encode(e, w, h), std::string(e.name) + " " + std::to_string(w) + "x" + std::to_string(h));
        }
    }
}

TEST(JpegStreamTest, TruncatedFilesFinishLikeTheWholeDecode)
{
    TempDir dir;
    for (const Encoding& e : {encodings()[0], encodings()[8], encodings()[10], encodings()[12]}) {
        const std::string full = encode(e, 300, 200);
        for (std::size_t keep : {full.size() / 3, full.size() * 2 / 3, full.size() - 3})
            expectStreamsLikeReference(dir, full.substr(0, keep), std::string(e.name) + " cut at " + std::to_string(keep));
    }
}

TEST(JpegStreamTest, CmykWithoutAdobeMarkerIsNotInverted)
{
    // libjpeg writes CMYK with an Adobe marker (inverted values); without it
    // the values are taken as stored.
    TempDir dir;
    for (const Encoding& e : {encodings()[6], encodings()[7]}) {
        std::string bytes = encode(e, 40, 24);
        const auto adobe = bytes.find("\xFF\xEE");
        ASSERT_NE(adobe, std::string::npos);
        const std::size_t length = static_cast<uint8_t>(bytes[adobe + 2]) * 256u + static_cast<uint8_t>(bytes[adobe + 3]);
        const std::string plain = bytes.substr(0, adobe) + bytes.substr(adobe + 2 + length);
        expectStreamsLikeReference(dir, plain, std::string(e.name) + " without Adobe marker");
        // The same picture comes out differently with and without it.
        EXPECT_NE(std::memcmp(reference(plain).data(), reference(bytes).data(), 40 * 24 * 3), 0);
    }
}

namespace {

// Wants the first row only, and says whether the rest must still be read.
class FirstRowSink : public RecordingSink {
public:
    explicit FirstRowSink(bool wholeFile)
        : RecordingSink([](int32_t y, int32_t) { return y == 0; }), m_wholeFile(wholeFile)
    {
    }
    bool needsWholeFile() const override { return m_wholeFile; }

private:
    bool m_wholeFile;
};

} // namespace

TEST(JpegStreamTest, DamageAfterTheLastWantedRowFailsOnlyASinkThatNeedsTheWholeFile)
{
    // A file whose entropy data breaks off in an error well below its first
    // row (found by the fuzz target).
    TempDir dir;
    const std::string path = dir.file("p.jpg");
    std::ifstream in(std::string(ZELVIC_SOURCE_DIR) + "/tests/fuzz/corpus/jpeg/damage_after_last_sampled_row",
                     std::ios::binary);
    ASSERT_TRUE(in);
    writeBytes(path, std::string(std::istreambuf_iterator<char>(in), {}));
    PictureStreamer streamer;
    FirstRowSink checking(true);
    EXPECT_EQ(streamer.stream(path, checking, StreamOptions {}).status, StreamStatus::Failed);
    // A second look, after a first one read the file whole, stops at its row.
    FirstRowSink again(false);
    const StreamResult result = streamer.stream(path, again, StreamOptions {});
    ASSERT_TRUE(result.ok()) << result.error;
    ASSERT_EQ(again.rows.size(), 1u);
    ASSERT_EQ(checking.rows.size(), 1u);
    EXPECT_EQ(again.rows[0], checking.rows[0]);
}

TEST(JpegStreamTest, ALookAgainAtAProgressiveFileReadsItsPresentVersion)
{
    // The last progressive decode is kept for a second look at the same
    // file (the encoding tests stream each file three times in a row, so
    // their progressive cases check that look's rows); a file written anew
    // in between must be decoded anew.
    TempDir dir;
    const std::string path = dir.file("p.jpg");
    const std::string first = encode(encodings()[8], 120, 90);
    const std::string second = encode(encodings()[8], 90, 120);
    PictureStreamer streamer;
    writeBytes(path, first);
    RecordingSink before;
    ASSERT_TRUE(streamer.stream(path, before, StreamOptions {}).ok());
    EXPECT_EQ(before.rows, before.expectedRows(reference(first)));
    writeBytes(path, second);
    RecordingSink after;
    ASSERT_TRUE(streamer.stream(path, after, StreamOptions {}).ok());
    EXPECT_EQ(after.width, 90);
    EXPECT_EQ(after.rows, after.expectedRows(reference(second)));
}
