#include "cache/signature_codec.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>

#include <zlib.h>

#include "picture/orientation.h"

namespace {

// A format byte first, so that a blob of another layout is refused even when
// its length happens to match. After it, the fields deflated: profiles are
// smooth, so each is written as differences from its previous position,
// which roughly halves what a signature costs on disk. The fastest level
// packs within 2 % of the best at three quarters of the time.
constexpr uint8_t kIdenticalFormat = 2;
constexpr uint8_t kSimilarFormat = 2;
// The seven turned signatures of one engine, one after another in one
// stream: other format bytes, so that neither blob passes for the other.
constexpr uint8_t kTurnedIdenticalFormat = 0x12;
constexpr uint8_t kTurnedSimilarFormat = 0x22;
constexpr std::size_t kTurnedCount = kOrientationCount - 1;

// No signature, nor seven turned ones together (about 10 KB), comes near
// this; a damaged length field must not make the decoder allocate what it
// says.
constexpr uint32_t kMaxRawBytes = 16 * 1024;

// The format byte, the raw length (two bytes, low first), the zlib stream.
constexpr std::size_t kBlobHeader = 3;

std::string deflated(uint8_t format, const std::string& raw)
{
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string blob(kBlobHeader + packedSize, '\0');
    blob[0] = static_cast<char>(format);
    blob[1] = static_cast<char>(raw.size() & 0xFF);
    blob[2] = static_cast<char>(raw.size() >> 8);
    compress2(reinterpret_cast<Bytef*>(blob.data() + kBlobHeader), &packedSize,
              reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), Z_BEST_SPEED);
    blob.resize(kBlobHeader + packedSize);
    return blob;
}

std::optional<std::string> inflated(uint8_t format, std::string_view blob)
{
    if (blob.size() <= kBlobHeader || static_cast<uint8_t>(blob[0]) != format)
        return std::nullopt;
    const std::size_t length = static_cast<uint8_t>(blob[1]) | static_cast<std::size_t>(static_cast<uint8_t>(blob[2])) << 8;
    if (length == 0 || length > kMaxRawBytes)
        return std::nullopt;
    std::string raw(length, '\0');
    uLongf rawSize = static_cast<uLongf>(length);
    uLong packedSize = static_cast<uLong>(blob.size() - kBlobHeader);
    // The stream must fill the raw length exactly and end where the blob ends.
    const int code = uncompress2(reinterpret_cast<Bytef*>(raw.data()), &rawSize,
                                 reinterpret_cast<const Bytef*>(blob.data() + kBlobHeader), &packedSize);
    if (code != Z_OK || rawSize != length || packedSize != blob.size() - kBlobHeader)
        return std::nullopt;
    return raw;
}

// The quantised contrast values and their two-bit codes.
constexpr uint8_t kContrastValues[3] = {0, 128, 255};

class ByteWriter {
public:
    void byte(uint8_t value) { m_bytes.push_back(static_cast<char>(value)); }
    // A profile: its first value, then each one's difference from the last
    // (modulo 256).
    template <class Values>
    void profile(const Values& values)
    {
        uint8_t previous = 0;
        for (uint8_t value : values) {
            byte(static_cast<uint8_t>(value - previous));
            previous = value;
        }
    }
    void int32(int32_t value)
    {
        const auto bits = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            byte(static_cast<uint8_t>(bits >> shift));
    }
    std::string take() { return std::move(m_bytes); }

private:
    std::string m_bytes;
};

class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : m_bytes(bytes) {}
    bool byte(uint8_t& value)
    {
        if (m_at >= m_bytes.size())
            return false;
        value = static_cast<uint8_t>(m_bytes[m_at++]);
        return true;
    }
    template <class Values>
    bool profile(Values& values)
    {
        uint8_t previous = 0;
        for (uint8_t& value : values) {
            uint8_t difference = 0;
            if (!byte(difference))
                return false;
            value = static_cast<uint8_t>(previous + difference);
            previous = value;
        }
        return true;
    }
    bool int32(int32_t& value)
    {
        uint32_t bits = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            uint8_t part = 0;
            if (!byte(part))
                return false;
            bits |= static_cast<uint32_t>(part) << shift;
        }
        value = static_cast<int32_t>(bits);
        return true;
    }
    // The next `count` bytes, or nothing when fewer are left.
    const uint8_t* take(std::size_t count)
    {
        if (m_bytes.size() - m_at < count)
            return nullptr;
        const auto* at = reinterpret_cast<const uint8_t*>(m_bytes.data() + m_at);
        m_at += count;
        return at;
    }
    bool finished() const { return m_at == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

template <std::size_t N>
bool readInts(ByteReader& in, std::array<int32_t, N>& values)
{
    for (int32_t& value : values) {
        if (!in.int32(value))
            return false;
    }
    return true;
}

template <std::size_t N>
void writeInts(ByteWriter& out, const std::array<int32_t, N>& values)
{
    for (int32_t value : values)
        out.int32(value);
}

bool inProfileWindow(int32_t row, int32_t index)
{
    return row >= 1 && row <= kProfileRows && index >= kInnerFirst && index <= kInnerLast;
}

void writeIdentical(ByteWriter& out, const IdenticalSignature& signature)
{
    writeInts(out, signature.centroids);
    for (const auto& profile : signature.profiles)
        out.profile(profile);
}

bool readIdentical(ByteReader& in, IdenticalSignature& signature)
{
    if (!readInts(in, signature.centroids))
        return false;
    for (auto& profile : signature.profiles) {
        if (!in.profile(profile))
            return false;
    }
    return true;
}

// False when the signature holds a value the compact form has no room for.
bool writeSimilar(ByteWriter& out, const SimilarSignature& signature)
{
    // Four contrast cells a byte.
    for (std::size_t i = 0; i < signature.contrastMap.size(); i += 4) {
        uint8_t packed = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const uint8_t value = i + j < signature.contrastMap.size() ? signature.contrastMap[i + j] : 0;
            uint8_t code = 0;
            while (code < 3 && kContrastValues[code] != value)
                ++code;
            if (code == 3)
                return false;
            packed = static_cast<uint8_t>(packed | code << (2 * j));
        }
        out.byte(packed);
    }
    // Only the filled window of the profiles is written; anything outside it
    // would be lost, so such a signature is not encoded.
    for (int32_t row = 0; row <= kProfileRows; ++row) {
        const auto& profile = signature.profiles[static_cast<std::size_t>(row)];
        for (int32_t index = 0; index < kSimilarGridSize; ++index) {
            if (!inProfileWindow(row, index) && profile[static_cast<std::size_t>(index)] != 0)
                return false;
        }
        if (row >= 1)
            out.profile(std::span(profile).subspan(kInnerFirst, kInnerSize));
    }
    writeInts(out, signature.centroidX);
    writeInts(out, signature.centroidY);
    writeInts(out, signature.planeTotals);
    for (int32_t code : signature.bandCodes) {
        if (code < 0 || code > 255)
            return false;
        out.byte(static_cast<uint8_t>(code));
    }
    out.int32(signature.spreadA);
    out.int32(signature.spreadB);
    return true;
}

// The four contrast cells of each packed byte, and whether it holds only
// codes 0..2: a search for turned copies reads seven maps a picture, which
// cell by cell cost more than the rest of the signature.
struct UnpackedCells {
    std::array<std::array<uint8_t, 4>, 256> cells {};
    std::array<bool, 256> valid {};
};

const UnpackedCells& unpackedCells()
{
    static const UnpackedCells table = [] {
        UnpackedCells t;
        for (int packed = 0; packed < 256; ++packed) {
            t.valid[static_cast<std::size_t>(packed)] = true;
            for (int j = 0; j < 4; ++j) {
                const int code = (packed >> (2 * j)) & 3;
                if (code == 3)
                    t.valid[static_cast<std::size_t>(packed)] = false;
                else
                    t.cells[static_cast<std::size_t>(packed)][static_cast<std::size_t>(j)] = kContrastValues[code];
            }
        }
        return t;
    }();
    return table;
}

bool readSimilar(ByteReader& in, SimilarSignature& signature)
{
    constexpr std::size_t kCells = std::tuple_size_v<decltype(signature.contrastMap)>;
    static_assert(kCells % 4 == 0, "whole packed bytes");
    const uint8_t* packed = in.take(kCells / 4);
    if (packed == nullptr)
        return false;
    const UnpackedCells& table = unpackedCells();
    for (std::size_t i = 0; i < kCells / 4; ++i) {
        if (!table.valid[packed[i]])
            return false;
        std::memcpy(signature.contrastMap.data() + 4 * i, table.cells[packed[i]].data(), 4);
    }
    for (int32_t row = 1; row <= kProfileRows; ++row) {
        auto window = std::span(signature.profiles[static_cast<std::size_t>(row)]).subspan(kInnerFirst, kInnerSize);
        if (!in.profile(window))
            return false;
    }
    if (!readInts(in, signature.centroidX) || !readInts(in, signature.centroidY)
        || !readInts(in, signature.planeTotals))
        return false;
    for (int32_t& code : signature.bandCodes) {
        uint8_t value = 0;
        if (!in.byte(value))
            return false;
        code = value;
    }
    return in.int32(signature.spreadA) && in.int32(signature.spreadB);
}

} // namespace

std::string encodeIdenticalSignature(const IdenticalSignature& signature)
{
    ByteWriter out;
    writeIdentical(out, signature);
    return deflated(kIdenticalFormat, out.take());
}

std::optional<IdenticalSignature> decodeIdenticalSignature(std::string_view bytes)
{
    const std::optional<std::string> raw = inflated(kIdenticalFormat, bytes);
    if (!raw)
        return std::nullopt;
    ByteReader in(*raw);
    IdenticalSignature signature;
    if (!readIdentical(in, signature) || !in.finished())
        return std::nullopt;
    return signature;
}

std::optional<std::string> encodeSimilarSignature(const SimilarSignature& signature)
{
    ByteWriter out;
    if (!writeSimilar(out, signature))
        return std::nullopt;
    return deflated(kSimilarFormat, out.take());
}

std::optional<SimilarSignature> decodeSimilarSignature(std::string_view bytes)
{
    const std::optional<std::string> raw = inflated(kSimilarFormat, bytes);
    if (!raw)
        return std::nullopt;
    ByteReader in(*raw);
    SimilarSignature signature;
    if (!readSimilar(in, signature) || !in.finished())
        return std::nullopt;
    return signature;
}

std::optional<std::string> encodeTurnedIdentical(const std::vector<IdenticalSignature>& signatures)
{
    if (signatures.size() != kTurnedCount)
        return std::nullopt;
    ByteWriter out;
    for (const IdenticalSignature& signature : signatures)
        writeIdentical(out, signature);
    return deflated(kTurnedIdenticalFormat, out.take());
}

std::optional<std::vector<IdenticalSignature>> decodeTurnedIdentical(std::string_view bytes)
{
    const std::optional<std::string> raw = inflated(kTurnedIdenticalFormat, bytes);
    if (!raw)
        return std::nullopt;
    ByteReader in(*raw);
    std::vector<IdenticalSignature> signatures(kTurnedCount);
    for (IdenticalSignature& signature : signatures) {
        if (!readIdentical(in, signature))
            return std::nullopt;
    }
    if (!in.finished())
        return std::nullopt;
    return signatures;
}

std::optional<std::string> encodeTurnedSimilar(const std::vector<SimilarSignature>& signatures)
{
    if (signatures.size() != kTurnedCount)
        return std::nullopt;
    ByteWriter out;
    for (const SimilarSignature& signature : signatures) {
        if (!writeSimilar(out, signature))
            return std::nullopt;
    }
    return deflated(kTurnedSimilarFormat, out.take());
}

std::optional<std::vector<SimilarSignature>> decodeTurnedSimilar(std::string_view bytes)
{
    const std::optional<std::string> raw = inflated(kTurnedSimilarFormat, bytes);
    if (!raw)
        return std::nullopt;
    ByteReader in(*raw);
    std::vector<SimilarSignature> signatures(kTurnedCount);
    for (SimilarSignature& signature : signatures) {
        if (!readSimilar(in, signature))
            return std::nullopt;
    }
    if (!in.finished())
        return std::nullopt;
    return signatures;
}
