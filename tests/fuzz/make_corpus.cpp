// Writes the seed corpora of the fuzz targets: small pictures of every JPEG
// and bitmap variety the loaders meet, and a few texts of each kind. Usage:
// make_corpus CORPUS_FOLDER HOSTILE_FOLDER (it fills CORPUS_FOLDER/<target>/,
// and HOSTILE_FOLDER with the small bombs of the hostile-files test).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::filesystem::path g_root;

void save(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const std::filesystem::path folder = g_root / target;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        std::exit(1);
    }
}

void saveText(const std::string& target, const std::string& name, const std::string& text)
{
    save(target, name, Bytes(text.begin(), text.end()));
}

// A picture with detail in every channel, so that every coder has work.
uint8_t sample(int x, int y, int c) { return static_cast<uint8_t>((x * 37 + y * 23 + c * 71 + (x ^ y) * 5) & 0xFF); }

struct JpegRecipe {
    int width = 16;
    int height = 16;
    J_COLOR_SPACE input = JCS_RGB;
    int components = 3;
    std::function<void(jpeg_compress_struct&)> adjust;
};

Bytes encodeJpeg(const JpegRecipe& recipe)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(recipe.width);
    cinfo.image_height = static_cast<JDIMENSION>(recipe.height);
    cinfo.input_components = recipe.components;
    cinfo.in_color_space = recipe.input;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 50, TRUE);
    if (recipe.adjust)
        recipe.adjust(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<std::size_t>(recipe.width * recipe.components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < recipe.width; ++x)
            for (int c = 0; c < recipe.components; ++c)
                row[static_cast<std::size_t>(x * recipe.components + c)] = sample(x, y, c);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

void sampling(jpeg_compress_struct& cinfo, int h, int v)
{
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = v;
}

void writeJpegs()
{
    const auto both = [](const std::string& name, const Bytes& bytes) {
        save("jpeg", name, bytes);
        save("picture_size", name, bytes);
    };
    both("baseline_420.jpg", encodeJpeg({}));
    both("baseline_444.jpg", encodeJpeg({16, 16, JCS_RGB, 3, [](auto& c) { sampling(c, 1, 1); }}));
    both("baseline_422_odd.jpg", encodeJpeg({17, 13, JCS_RGB, 3, [](auto& c) { sampling(c, 2, 1); }}));
    both("one_pixel.jpg", encodeJpeg({1, 1, JCS_RGB, 3, {}}));
    both("grey.jpg", encodeJpeg({16, 16, JCS_GRAYSCALE, 1, {}}));
    both("cmyk_adobe.jpg", encodeJpeg({16, 16, JCS_CMYK, 4, {}}));
    both("cmyk_plain.jpg", encodeJpeg({16, 16, JCS_CMYK, 4, [](auto& c) { c.write_Adobe_marker = FALSE; }}));
    both("ycck.jpg", encodeJpeg({16, 16, JCS_CMYK, 4, [](auto& c) { jpeg_set_colorspace(&c, JCS_YCCK); }}));
    both("progressive.jpg", encodeJpeg({16, 16, JCS_RGB, 3, [](auto& c) { jpeg_simple_progression(&c); }}));
    both("progressive_grey.jpg", encodeJpeg({16, 16, JCS_GRAYSCALE, 1, [](auto& c) { jpeg_simple_progression(&c); }}));
    both("arithmetic.jpg", encodeJpeg({16, 16, JCS_RGB, 3, [](auto& c) { c.arith_code = TRUE; }}));
    both("arithmetic_progressive.jpg", encodeJpeg({16, 16, JCS_RGB, 3, [](auto& c) {
                                                       c.arith_code = TRUE;
                                                       jpeg_simple_progression(&c);
                                                   }}));
    both("restarts.jpg", encodeJpeg({24, 16, JCS_RGB, 3, [](auto& c) { c.restart_interval = 1; }}));
    both("optimised.jpg", encodeJpeg({16, 16, JCS_RGB, 3, [](auto& c) { c.optimize_coding = TRUE; }}));
    Bytes truncated = encodeJpeg({32, 32, JCS_RGB, 3, {}});
    truncated.resize(truncated.size() / 2);
    both("truncated.jpg", truncated);
}

void put16(Bytes& b, std::size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(Bytes& b, std::size_t at, uint32_t v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

struct BmpRecipe {
    int width = 8;
    int height = 6;  // negative: top-down
    int bits = 24;
    uint32_t compression = 0; // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t headerSize = 40;
    std::vector<uint32_t> masks; // red, green, blue (, alpha) for bit fields
    Bytes pixels;                // given for RLE, made otherwise
};

// A bitmap file: file header, information header, masks or palette, pixels.
Bytes encodeBmp(const BmpRecipe& r)
{
    const bool core = r.headerSize == 12;
    const int paletteEntries = r.bits <= 8 ? 1 << r.bits : 0;
    const std::size_t entrySize = core ? 3 : 4;
    const bool separateMasks = r.compression == 3 && r.headerSize == 40;
    const std::size_t tables = paletteEntries * entrySize + (separateMasks ? 4 * r.masks.size() : 0);
    const std::size_t offset = 14 + r.headerSize + tables;
    const int rows = r.height < 0 ? -r.height : r.height;
    const std::size_t stride = ((static_cast<std::size_t>(r.width) * r.bits + 31) / 32) * 4;
    Bytes pixels = r.pixels;
    if (pixels.empty()) {
        pixels.resize(stride * rows);
        for (int y = 0; y < rows; ++y)
            for (std::size_t i = 0; i < stride; ++i)
                pixels[y * stride + i] = sample(static_cast<int>(i), y, 0);
    }
    Bytes b(offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<uint32_t>(offset + pixels.size()));
    put32(b, 10, static_cast<uint32_t>(offset));
    put32(b, 14, r.headerSize);
    if (core) {
        put16(b, 18, static_cast<uint32_t>(r.width));
        put16(b, 20, static_cast<uint32_t>(r.height));
        put16(b, 22, 1);
        put16(b, 24, static_cast<uint32_t>(r.bits));
    } else {
        put32(b, 18, static_cast<uint32_t>(r.width));
        put32(b, 22, static_cast<uint32_t>(r.height));
        put16(b, 26, 1);
        put16(b, 28, static_cast<uint32_t>(r.bits));
        put32(b, 30, r.compression);
        put32(b, 34, static_cast<uint32_t>(pixels.size()));
        put32(b, 38, 2835);
        put32(b, 42, 2835);
        if (r.headerSize > 40) {
            for (std::size_t i = 0; i < r.masks.size(); ++i)
                put32(b, 54 + 4 * i, r.masks[i]);
            put32(b, 70, 0x73524742); // "sRGB"
        }
    }
    std::size_t at = 14 + r.headerSize;
    if (separateMasks) {
        for (uint32_t mask : r.masks) {
            put32(b, at, mask);
            at += 4;
        }
    }
    for (int i = 0; i < paletteEntries; ++i, at += entrySize) {
        b[at] = static_cast<uint8_t>(i * 37);
        b[at + 1] = static_cast<uint8_t>(i * 91);
        b[at + 2] = static_cast<uint8_t>(255 - i * 13);
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

void writeBmps()
{
    const auto both = [](const std::string& name, const Bytes& bytes) {
        save("bmp", name, bytes);
        save("picture_size", name, bytes);
    };
    for (int bits : {1, 4, 8, 16, 24, 32})
        both("rgb" + std::to_string(bits) + ".bmp", encodeBmp({8, 6, bits, 0, 40, {}, {}}));
    both("bitfields565.bmp", encodeBmp({8, 6, 16, 3, 40, {0xF800, 0x07E0, 0x001F}, {}}));
    both("bitfields32.bmp", encodeBmp({8, 6, 32, 3, 40, {0x00FF0000, 0x0000FF00, 0x000000FF}, {}}));
    both("v4.bmp", encodeBmp({8, 6, 32, 3, 108, {0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF}, {}}));
    both("v5.bmp", encodeBmp({8, 6, 16, 3, 124, {0x7C00, 0x03E0, 0x001F, 0x8000}, {}}));
    both("topdown.bmp", encodeBmp({8, -6, 24, 0, 40, {}, {}}));
    both("os2_24.bmp", encodeBmp({8, 6, 24, 0, 12, {}, {}}));
    both("os2_8.bmp", encodeBmp({8, 6, 8, 0, 12, {}, {}}));
    // RLE8 and RLE4 that set every pixel: runs, absolute runs, end of line.
    both("rle8.bmp", encodeBmp({8, 3, 8, 1, 40, {},
                                {8, 7, 0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 4, 9, 4, 10, 0, 0, 0, 1}}));
    both("rle4.bmp", encodeBmp({8, 2, 4, 2, 40, {}, {8, 0x12, 0, 0, 0, 8, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0, 1}}));
    // RLE that leaves pixels unset (a delta, an early end of line or of the
    // bitmap): the platform reader leaves them undefined, so these go to the
    // hostile folder, whose test says whether the loader defines them yet.
    const auto undefinedRows = [](const std::string& name, const Bytes& bytes) {
        save("../../hostile/files/undefined_rows", name, bytes);
        save("picture_size", name, bytes);
    };
    undefinedRows("rle8_delta.bmp", encodeBmp({8, 4, 8, 1, 40, {},
                                               {4, 7, 0, 4, 1, 2, 3, 4, 0, 0, 0, 2, 2, 1, 3, 9, 0, 0, 8, 200, 0, 1}}));
    undefinedRows("rle4_early_end.bmp",
                  encodeBmp({8, 4, 4, 2, 40, {}, {8, 0x12, 0, 0, 0, 6, 0x34, 0x56, 0x78, 0, 0, 0, 4, 0x9A, 0, 1}}));
    // Only the header reader gets a truncated bitmap: the loader's truncated
    // files are in the hostile folder (tests/hostile/files), whose test says
    // whether the missing rows are defined yet.
    Bytes truncated = encodeBmp({32, 32, 24, 0, 40, {}, {}});
    truncated.resize(truncated.size() / 2);
    save("picture_size", "truncated.bmp", truncated);
}

// The frame header of a JPEG made to claim another size.
Bytes withFrameSize(Bytes jpeg, uint16_t width, uint16_t height)
{
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<uint8_t>(height);
            jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    }
    return jpeg;
}

// Small files that claim to be huge, for tests/hostile/files.
void writeHostile(const std::filesystem::path& folder)
{
    const auto tiny = [](int components, J_COLOR_SPACE space) {
        return encodeJpeg({8, 8, space, components, [](auto& c) {
                               jpeg_simple_progression(&c);
                               jpeg_set_quality(&c, 5, TRUE);
                           }});
    };
    const std::filesystem::path previous = g_root;
    g_root = folder.parent_path();
    const std::string name = folder.filename().string();
    save(name, "progressive_grey_8.jpg", tiny(1, JCS_GRAYSCALE));
    save(name, "bomb_progressive_grey_65500.jpg", withFrameSize(tiny(1, JCS_GRAYSCALE), 65500, 65500));
    save(name, "bomb_progressive_grey_20000.jpg", withFrameSize(tiny(1, JCS_GRAYSCALE), 20000, 20000));
    save(name, "bomb_progressive_colour_20000.jpg", withFrameSize(tiny(3, JCS_RGB), 20000, 20000));
    // RLE8, 20,000 x 20,000: end of bitmap at once, every pixel left to the decoder.
    save(name, "bomb_rle8_20000.bmp", encodeBmp({20000, 20000, 8, 1, 40, {}, {0, 1}}));
    g_root = previous;
}

// Small files that claim far more pixels than they hold, as fuzzing found
// them: each reader must refuse them at once, the same way. They go to the
// hostile folder and to the corpora of the targets that read them.
void writeClaimingMore(const std::filesystem::path& folder)
{
    const auto all = [&folder](const std::string& target, const std::string& name, const Bytes& bytes) {
        save(target, name, bytes);
        save("picture_size", name, bytes);
        const std::filesystem::path previous = g_root;
        g_root = folder.parent_path();
        save(folder.filename().string(), name, bytes);
        g_root = previous;
    };
    // Uncompressed bitmaps of 1.9 KB or less whose rows run out at once.
    all("bmp", "claims_8bit_62x2046820399.bmp", encodeBmp({62, 2046820399, 8, 0, 40, {}, Bytes(822, 0x5A)}));
    all("bmp", "claims_8bit_62x2147483647.bmp", encodeBmp({62, 2147483647, 8, 0, 40, {}, Bytes(822, 0x33)}));
    all("bmp", "claims_24bit_topdown_16x2147483647.bmp",
        encodeBmp({16, -2147483647, 24, 0, 40, {}, Bytes(960, 0x77)}));
    all("bmp", "claims_1bit_4000x2147483647.bmp", encodeBmp({4000, 2147483647, 1, 0, 40, {}, Bytes(1000, 0xA5)}));
    // 318-byte bit-field bitmaps whose 10-bit masks leave them to the platform reader.
    const std::vector<uint32_t> tenBits {0x3FF00000, 0x000FFC00, 0x000003FF};
    all("bmp", "claims_bitfields32_8x16777216.bmp", encodeBmp({8, 16777216, 32, 3, 40, tenBits, Bytes(252, 0x11)}));
    all("bmp", "claims_bitfields32_8x15007750.bmp", encodeBmp({8, 15007750, 32, 3, 40, tenBits, Bytes(252, 0x66)}));
    // A baseline colour JPEG of a few hundred bytes whose frame says 20,000 x 19,999.
    all("jpeg", "claims_baseline_20000x19999.jpg", withFrameSize(encodeJpeg({16, 16, JCS_RGB, 3, {}}), 20000, 19999));
}

void writeTexts()
{
    saveText("text", "integer", "  -2147483648");
    saveText("text", "scan_lines",
             "00048006400000001234 2002/05/31 18/42/06 /p/A.jpg\n00048006400000001234 2002/05/31 18/42/06 /p/a.jpg\n"
             "10006120000000000017 2001/09/09 01/46/40 /p/wide.jpg\n");
    saveText("text", "result_line", "0042, 000003, 000017, 0001,0002, 0003,0004, a.jpg,b.jpg");
    saveText("text", "utf8", "caf\xC3\xA9 \xE5\x86\x99\xE7\x9C\x9F \xF0\x9F\x93\xB7 \xFF\xFE \xED\xA0\x80 \"\\\x01\n");
    saveText("settings", "written", "tag,contents\r\nsl,3\r\ncg,2\r\ncl,-1\r\nds,1\r\n");
    saveText("settings", "odd", "sl,2\r\ncg,three\r\nds,1,x,y\r\n SL,1\rcl, +2\n" + std::string(310, 'z') + ",1");
    const auto words = [](std::initializer_list<std::string> list) {
        std::string joined;
        for (const std::string& w : list)
            joined += (joined.empty() ? "" : std::string(1, '\0')) + w;
        return joined;
    };
    saveText("cli_options", "full", words({"./a/../b//", "--mode", "similar", "--level=loose", "--depth", "3",
                                           "--screen=2", "--jobs", "4096", "--json"}));
    saveText("cli_options", "dashes", words({"--", "--json", "--mode=dims"}));
    saveText("cli_options", "bad", words({"/x", "--jobs", "0", "--depth"}));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus CORPUS_FOLDER HOSTILE_FOLDER\n");
        return 2;
    }
    g_root = argv[1];
    writeJpegs();
    writeBmps();
    writeTexts();
    writeHostile(argv[2]);
    writeClaimingMore(std::filesystem::path(argv[2]) / "claiming_more");
    return 0;
}
