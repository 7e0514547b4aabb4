#include "picture/picture_loader.h"

#include "picture/bmp_loader.h"
#include "picture/jpeg_decoder.h"
#include "picture/picture_format.h"

LoadedPicture loadPicture(const std::string& path, JpegIdct idct)
{
    if (decoderFormatOf(path) == PictureFormat::Jpeg)
        return decodeJpegFile(path, idct);
    return loadBmpFile(path);
}
