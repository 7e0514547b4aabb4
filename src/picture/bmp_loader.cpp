#include "picture/bmp_loader.h"

#include <cstring>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include "picture/file_bytes.h"
#include "picture/jpeg_decoder.h"

LoadedPicture loadBmpMemory(const uint8_t* data, std::size_t size)
{
    // Qt refuses pictures above 256 MB by default; our own pixel cap applies.
    static const bool limitRaised = (QImageReader::setAllocationLimit(2048), true);
    (void)limitRaised;
    LoadedPicture result;
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                               static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
    if (declared.isValid()
        && int64_t{declared.width()} * declared.height() > kMaxPicturePixels) {
        result.error = "picture too large";
        return result;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        result.error = reader.errorString().toStdString();
        if (result.error.empty())
            result.error = "not a bitmap";
        return result;
    }
    image = image.convertToFormat(QImage::Format_BGR888);
    Picture picture(image.width(), image.height());
    for (int32_t y = 0; y < picture.height(); ++y)
        std::memcpy(picture.row(y), image.constScanLine(y), picture.stride());
    result.picture = std::move(picture);
    return result;
}

LoadedPicture loadBmpFile(const std::string& path)
{
    std::string error;
    auto bytes = readFileBytes(path, error);
    if (!bytes) {
        LoadedPicture failed;
        failed.error = error;
        return failed;
    }
    return loadBmpMemory(bytes->data(), bytes->size());
}
