// The text the stages hand on: integer text, scan lines (their columns, their
// sort, their stamps), result lines and JSON strings.
#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringDecoder>

#include "cli/json_text.h"
#include "common/integer_text.h"
#include "compare/identical/identical_result_line.h"
#include "compare/similar/similar_scoring.h"
#include "fuzz/fuzz_input.h"
#include "search/file_table.h"
#include "search/line_order.h"
#include "search/local_stamp_cache.h"
#include "search/pair_list.h"
#include "search/scan_line.h"

namespace {

// Numbers taken from the front of the input, zero once it is used up.
class NumberSource {
public:
    explicit NumberSource(std::string_view data) : m_data(data) {}

    int64_t next64()
    {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value = value << 8 | byte();
        return static_cast<int64_t>(value);
    }
    int32_t next32() { return static_cast<int32_t>(next64()); }

private:
    uint8_t byte() { return m_at < m_data.size() ? static_cast<uint8_t>(m_data[m_at++]) : 0; }

    std::string_view m_data;
    std::size_t m_at = 0;
};

// Blanks, a sign and digits, read a second way: with 64-bit room to spare.
std::optional<int32_t> referenceInteger(std::string_view text)
{
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = text.substr(start);
    const bool negative = rest[0] == '-';
    if (rest[0] == '-' || rest[0] == '+')
        rest.remove_prefix(1);
    if (rest.empty() || rest.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    rest.remove_prefix(std::min(rest.find_first_not_of('0'), rest.size()));
    if (rest.size() > 10)
        return std::nullopt;
    int64_t value = 0;
    for (char c : rest)
        value = value * 10 + (c - '0');
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

void checkIntegerText(std::string_view text)
{
    const std::optional<int32_t> got = parseDecimalInt32(text);
    if (got != referenceInteger(text))
        fuzz_input::fail("integer text \"" + std::string(text) + "\" read as "
                         + (got ? std::to_string(*got) : std::string("nothing")));
}

// Lines shaped like scan lines (twenty digits first), whatever follows.
std::vector<std::string> scanShapedLines(std::string_view data)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < data.size() && lines.size() < 64) {
        const std::size_t end = std::min(data.find('\n', from), data.size());
        std::string line(data.substr(from, end - from));
        line.resize(std::max<std::size_t>(line.size(), 20), ' ');
        for (std::size_t i = 0; i < 20; ++i)
            line[i] = static_cast<char>('0' + static_cast<unsigned char>(line[i]) % 10);
        lines.push_back(std::move(line));
        from = end + 1;
    }
    return lines;
}

void checkScanLines(std::string_view data, NumberSource& numbers)
{
    const std::vector<std::string> shaped = scanShapedLines(data);
    // Lines as the scan writes them: the numbers of the shaped lines, a stamp
    // from the input and what follows the twenty digits as the path.
    std::vector<std::string> lines;
    for (const std::string& text : shaped) {
        const ScanLine shape(text);
        const auto stamp = static_cast<int64_t>(static_cast<uint64_t>(numbers.next64()) % 100'000'000'000'000);
        lines.push_back(ScanLine::format({shape.key(), shape.size(), stamp}, std::string_view(text).substr(20)));
    }
    std::vector<std::string> expected = lines;
    sortLines(expected);
    std::sort(lines.begin(), lines.end(),
              [](const std::string& a, const std::string& b) { return ScanLine(a).order() < ScanLine(b).order(); });
    if (lines != expected)
        fuzz_input::fail("the scan-line order differs from the list order");
    for (CheckMode mode : {CheckMode::FileSize, CheckMode::PictureSize}) {
        const FileTable files = BuildFileTable(shaped, mode);
        for (const File_rec& file : files) {
            if (file.size < 0 || file.width < 0 || file.height < 0)
                fuzz_input::fail("a scan line gave a negative size");
        }
    }
    const int32_t width = numbers.next32() & 0xFFFF;
    const int32_t height = numbers.next32() & 0xFFFF;
    const std::string line = ScanLine::format({pictureSizeKey(width, height), 0, 20020531184206}, "/a.jpg");
    const FileTable table = BuildFileTable({line}, CheckMode::PictureSize);
    if (table[0].width != width || table[0].height != height)
        fuzz_input::fail("size " + std::to_string(width) + " x " + std::to_string(height) + " comes back as "
                         + std::to_string(table[0].width) + " x " + std::to_string(table[0].height));

    const int64_t stampNumber = stampNumberOf(static_cast<std::time_t>(numbers.next64()));
    const std::string stamp(ScanLine(ScanLine::format({0, 0, stampNumber}, "")).stamp());
    if (stamp.size() != 19 || stamp[4] != '/' || stamp[7] != '/' || stamp[10] != ' '
        || stamp[13] != '/' || stamp[16] != '/' || (stamp[18] - '0') % 2 != 0)
        fuzz_input::fail("stamp \"" + stamp + "\" is not of the fixed shape");
}

void checkResultLines(std::string_view text, NumberSource& numbers)
{
    if (const auto parsed = parseResultIndices(text); parsed && (parsed->indexA < 0 || parsed->indexB < 0))
        fuzz_input::fail("a result line gave a negative index");

    // What the engines write, the review reads back.
    const int32_t indexA = static_cast<int32_t>(static_cast<uint32_t>(numbers.next32()) % 1'000'000'000);
    const int32_t indexB = static_cast<int32_t>(static_cast<uint32_t>(numbers.next32()) % 1'000'000'000);
    MatchResult match;
    match.totalScore = numbers.next32();
    std::array<int32_t, 4> centroidsA {}, centroidsB {};
    for (int32_t g = 0; g < kGroupCount; ++g) {
        match.mean[g] = numbers.next32();
        match.max[g] = numbers.next32();
        centroidsA[g] = numbers.next32();
        centroidsB[g] = numbers.next32();
    }
    const std::string name(text.substr(0, 40));
    const std::string identical = identicalResultLine(indexA, indexB, match, centroidsA, centroidsB, name, name);
    SimilarPairScores scores;
    scores.similarity = numbers.next32();
    scores.contrast = numbers.next32();
    auto a = std::make_unique<SimilarSignature>();
    auto b = std::make_unique<SimilarSignature>();
    // A plane total is a sum over the signature's grid, below 2^20; the
    // line's difference of two is then no overflow.
    a->planeTotals[1] = numbers.next32() & 0xFFFFF;
    b->planeTotals[1] = numbers.next32() & 0xFFFFF;
    const std::string similar = similarResultLine(scores, indexA, indexB, *a, *b, name, name);
    for (const std::string& line : {identical, similar}) {
        const auto back = parseResultIndices(line);
        if (!back || back->indexA != indexA || back->indexB != indexB)
            fuzz_input::fail("result line \"" + line + "\" does not give back its indices");
    }
}

void checkJsonString(std::string_view text)
{
    const std::string literal = jsonText(Json::array({utf8Text(text)}));
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(literal), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || !document.array().at(0).isString())
        fuzz_input::fail("JSON string " + literal + " does not parse: " + error.errorString().toStdString());
    // Valid UTF-8 comes back byte for byte; anything else was replaced.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
    if (!decoder.hasError() && document.array().at(0).toString() != decoded)
        fuzz_input::fail("JSON string " + literal + " does not give back its text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    NumberSource numbers(text);
    checkIntegerText(text);
    checkScanLines(text, numbers);
    checkResultLines(text, numbers);
    checkJsonString(text);
    return 0;
}
