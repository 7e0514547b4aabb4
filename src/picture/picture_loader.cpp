#include "picture/picture_loader.h"

#include "picture/bmp_loader.h"
#include "picture/gif_decoder.h"
#include "picture/heif_decoder.h"
#include "picture/jpeg_decoder.h"
#include "picture/jxl_decoder.h"
#include "picture/picture_format.h"
#include "picture/png_decoder.h"
#include "picture/tiff_decoder.h"
#include "picture/webp_decoder.h"

LoadedPicture loadPicture(const std::string& path, JpegIdct idct)
{
    switch (decoderFormatOf(path)) {
    case PictureFormat::Jpeg:
        return decodeJpegFile(path, idct);
    case PictureFormat::Png:
        return decodePngFile(path);
    case PictureFormat::Webp:
        return decodeWebpFile(path);
    case PictureFormat::Gif:
        return decodeGifFile(path);
    case PictureFormat::Tiff:
        return decodeTiffFile(path);
    case PictureFormat::Heic:
    case PictureFormat::Avif:
        return decodeHeifFile(path);
    case PictureFormat::Jxl:
        return decodeJxlFile(path);
    default:
        return loadBmpFile(path);
    }
}
