#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The kinds of picture file Zelvic reads. A file's kind follows its name's
// extension alone; whether its contents are of that kind is the decoder's
// check (a ".BMP" holding JPEG data fails).
enum class PictureFormat : uint8_t { Jpeg, Bmp, Png, Webp, Tiff, Gif, Heic, Avif, Jxl };

inline constexpr int kPictureFormatCount = 9;

// The format's word in a --formats list: "jpg", "bmp", "png", ...
std::string_view formatWord(PictureFormat format);

// Whether this build has a decoder for the format.
bool formatDecodable(PictureFormat format);

// The format an extension names (any letter case), or none: ".JPG" is JPEG
// and ".BMP" a bitmap, as ever; ".PNG", ".WEBP", ".TIF"/".TIFF", ".GIF",
// ".HEIC"/".HEIF", ".AVIF" and ".JXL" the newer formats.
std::optional<PictureFormat> formatOfName(std::string_view path);

// The decoder for a file: the format of its name, and a bitmap for any
// name no format claims (a signature command's file of any name).
PictureFormat decoderFormatOf(std::string_view path);

// A set of formats: which files a search takes.
class PictureFormats {
public:
    // JPEG and BMP: what a search takes unless told otherwise.
    static PictureFormats defaults();
    // Every format this build decodes.
    static PictureFormats all();

    bool has(PictureFormat format) const { return (m_bits & bit(format)) != 0; }
    void add(PictureFormat format) { m_bits |= bit(format); }
    void remove(PictureFormat format) { m_bits &= ~bit(format); }
    bool empty() const { return m_bits == 0; }
    // Whether a file of this name is one of the set's.
    bool takes(std::string_view path) const;
    // The set as a --formats list, in format order: "jpg,bmp".
    std::string words() const;
    uint32_t bits() const { return m_bits; }
    static PictureFormats fromBits(uint32_t bits);

    bool operator==(const PictureFormats&) const = default;

private:
    static uint32_t bit(PictureFormat format) { return uint32_t {1} << static_cast<uint32_t>(format); }
    uint32_t m_bits = 0;
};

// Reads a --formats list: words of formatWord or "all", separated by
// commas. Empty words, unknown words and formats this build cannot decode
// are errors, said in `problem`.
std::optional<PictureFormats> parseFormatList(std::string_view list, std::string& problem);
