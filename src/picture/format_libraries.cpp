#include "picture/format_libraries.h"

#include <gif_lib.h>
#include <jxl/decode.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

std::string formatLibraryVersions()
{
    // giflib has no run-time version call; its header's is the one built in.
    return "png=" + std::to_string(png_access_version_number()) + " webp=" + std::to_string(WebPGetDecoderVersion())
           + " tiff=" + std::string(TIFFGetVersion()) + " gif=" + std::to_string(GIFLIB_MAJOR) + "."
           + std::to_string(GIFLIB_MINOR) + "." + std::to_string(GIFLIB_RELEASE)
           + " heif=" + std::to_string(heif_get_version_number()) + " jxl=" + std::to_string(JxlDecoderVersion());
}
