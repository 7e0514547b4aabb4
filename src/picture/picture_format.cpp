#include "picture/picture_format.h"

#include <array>

#include "common/file_name.h"

namespace {

struct FormatInfo {
    PictureFormat format;
    std::string_view word;
    std::array<std::string_view, 2> extensions; // upper case; empty when fewer
};

constexpr std::array<FormatInfo, kPictureFormatCount> kFormats {{
    {PictureFormat::Jpeg, "jpg", {".JPG", {}}},
    {PictureFormat::Bmp, "bmp", {".BMP", {}}},
    {PictureFormat::Png, "png", {".PNG", {}}},
    {PictureFormat::Webp, "webp", {".WEBP", {}}},
    {PictureFormat::Tiff, "tiff", {".TIF", ".TIFF"}},
    {PictureFormat::Gif, "gif", {".GIF", {}}},
    {PictureFormat::Heic, "heic", {".HEIC", ".HEIF"}},
    {PictureFormat::Avif, "avif", {".AVIF", {}}},
    {PictureFormat::Jxl, "jxl", {".JXL", {}}},
}};

const FormatInfo& infoOf(PictureFormat format)
{
    return kFormats[static_cast<std::size_t>(format)];
}

} // namespace

std::string_view formatWord(PictureFormat format)
{
    return infoOf(format).word;
}

bool formatDecodable(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Jpeg:
    case PictureFormat::Bmp:
    case PictureFormat::Png:
    case PictureFormat::Webp:
    case PictureFormat::Gif:
    case PictureFormat::Tiff:
    case PictureFormat::Heic:
    case PictureFormat::Avif:
    case PictureFormat::Jxl:
        return true;
    }
    return false;
}

std::optional<PictureFormat> formatOfName(std::string_view path)
{
    const std::string extension = upperExtension(path);
    if (extension.empty())
        return std::nullopt;
    for (const FormatInfo& info : kFormats) {
        for (std::string_view known : info.extensions) {
            if (!known.empty() && extension == known)
                return info.format;
        }
    }
    return std::nullopt;
}

PictureFormat decoderFormatOf(std::string_view path)
{
    return formatOfName(path).value_or(PictureFormat::Bmp);
}

PictureFormats PictureFormats::defaults()
{
    PictureFormats set;
    set.add(PictureFormat::Jpeg);
    set.add(PictureFormat::Bmp);
    return set;
}

PictureFormats PictureFormats::all()
{
    PictureFormats set;
    for (const FormatInfo& info : kFormats) {
        if (formatDecodable(info.format))
            set.add(info.format);
    }
    return set;
}

bool PictureFormats::takes(std::string_view path) const
{
    const std::optional<PictureFormat> format = formatOfName(path);
    return format && has(*format);
}

std::string PictureFormats::words() const
{
    std::string text;
    for (const FormatInfo& info : kFormats) {
        if (!has(info.format))
            continue;
        if (!text.empty())
            text += ',';
        text += info.word;
    }
    return text;
}

PictureFormats PictureFormats::fromBits(uint32_t bits)
{
    PictureFormats set;
    for (const FormatInfo& info : kFormats) {
        if ((bits & bit(info.format)) != 0 && formatDecodable(info.format))
            set.add(info.format);
    }
    return set;
}

std::optional<PictureFormats> parseFormatList(std::string_view list, std::string& problem)
{
    PictureFormats set;
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = list.find(',', from);
        const std::string_view word = list.substr(from, comma == std::string_view::npos ? list.npos : comma - from);
        if (word.empty()) {
            problem = "an empty format in the list";
            return std::nullopt;
        }
        if (word == "all") {
            const PictureFormats every = PictureFormats::all();
            set = PictureFormats::fromBits(set.bits() | every.bits());
        } else {
            const FormatInfo* found = nullptr;
            for (const FormatInfo& info : kFormats) {
                if (info.word == word)
                    found = &info;
            }
            if (found == nullptr) {
                problem = "unknown format " + std::string(word);
                return std::nullopt;
            }
            if (!formatDecodable(found->format)) {
                problem = "format " + std::string(word) + " is not supported by this build";
                return std::nullopt;
            }
            set.add(found->format);
        }
        if (comma == std::string_view::npos)
            return set;
        from = comma + 1;
    }
}
