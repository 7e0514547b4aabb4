#include "picture/picture_loader.h"

#include "common/file_name.h"
#include "picture/bmp_loader.h"
#include "picture/jpeg_decoder.h"

LoadedPicture loadPicture(const std::string& path, JpegIdct idct)
{
    if (upperExtension(path) == ".JPG")
        return decodeJpegFile(path, idct);
    return loadBmpFile(path);
}
