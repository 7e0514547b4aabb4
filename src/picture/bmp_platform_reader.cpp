#include "picture/bmp_platform_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "picture/picture_limits.h"

int64_t wholeDecodeBytes(int64_t width, int64_t height)
{
    return std::min(width * height, std::numeric_limits<int64_t>::max() / 4) * 4;
}

namespace {

// Rows converted together: a strip of the picture at a time.
constexpr int32_t kStripRows = 64;

void raiseAllocationLimit()
{
    // Qt refuses pictures above 256 MB by default; our own budget applies.
    static const bool limitRaised = (QImageReader::setAllocationLimit(2048), true);
    (void)limitRaised;
}

// Whether any of `rows` rows from `top` on is wanted.
bool anyWanted(const RowSink& sink, int32_t top, int32_t rows)
{
    for (int32_t y = top; y < top + rows; ++y) {
        if (sink.wantsRow(y))
            return true;
    }
    return false;
}

// Converts `part` (rows from `top` on) to B, G, R and hands the wanted rows
// on, each black from complete(y) pixels on.
template <typename Complete>
void deliverStrip(const QImage& part, int32_t top, const QList<QRgb>& colours, RowSink& sink, Complete complete)
{
    QImage withColours = part;
    withColours.setColorTable(colours);
    QImage strip = withColours.convertToFormat(QImage::Format_BGR888);
    for (int32_t y = top; y < top + part.height(); ++y) {
        if (!sink.wantsRow(y))
            continue;
        uint8_t* row = strip.scanLine(y - top);
        const int32_t set = std::min(complete(y), part.width());
        std::fill(row + 3 * static_cast<std::size_t>(set), row + 3 * static_cast<std::size_t>(part.width()), 0);
        sink.row(y, row);
    }
}

void putLe32(QByteArray& bytes, qsizetype at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

StreamResult streamPlatformBitmap(int fd, RowSink& sink)
{
    raiseAllocationLimit();
    QFile file;
    if (::lseek(fd, 0, SEEK_SET) != 0
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        return {StreamStatus::Failed, "cannot read the file", LoadFailure::SystemError};
    }
    QImageReader reader(&file, "bmp");
    reader.setAutoTransform(false);
    // The reader gives a top-down bitmap's height as it is written, negative.
    const QSize written = reader.size();
    const QSize declared(written.width(), std::abs(written.height()));
    if (declared.isValid()) {
        // The platform reader's own idea of the size, should it differ from ours.
        std::string refusal = pictureLimitRefusal({declared.width(), declared.height(),
                                                   wholeDecodeBytes(declared.width(), declared.height())});
        if (!refusal.empty())
            return {StreamStatus::Failed, std::move(refusal), LoadFailure::TooLarge};
    }
    // The reader leaves the pixels its data does not reach (rows cut short,
    // RLE deltas) as the memory held them; it reuses a picture of its own
    // size and format, so one cleared beforehand makes them black every time.
    QImage image;
    const QImage::Format format = reader.imageFormat();
    if (declared.isValid() && format != QImage::Format_Invalid) {
        image = QImage(declared, format);
        if (!image.isNull())
            image.fill(0);
    }
    if (!reader.read(&image) || image.isNull()) {
        std::string error = reader.errorString().toStdString();
        return {StreamStatus::Failed, error.empty() ? "not a bitmap" : error, LoadFailure::Damaged};
    }
    if (!sink.begin(image.width(), image.height()))
        return {};
    // Converted a strip at a time, so that no second picture is held beside
    // the decoded one: the budget counts that one alone.
    for (int32_t top = 0; top < image.height(); top += kStripRows) {
        const int32_t rows = std::min(kStripRows, image.height() - top);
        if (!anyWanted(sink, top, rows))
            continue;
        deliverStrip(QImage(image.constScanLine(top), image.width(), rows, image.bytesPerLine(), image.format()), top,
                     image.colorTable(), sink, [&image](int32_t) { return image.width(); });
    }
    return {};
}

StreamResult streamPlatformBitmapRows(int fd, const PlatformRows& rows, RowSink& sink)
{
    raiseAllocationLimit();
    QByteArray strip(static_cast<qsizetype>(rows.pixelOffset), '\0');
    if (::pread(fd, strip.data(), static_cast<size_t>(rows.pixelOffset), 0) != rows.pixelOffset)
        return streamPlatformBitmap(fd, sink);
    {
        QBuffer headers(&strip);
        headers.open(QIODevice::ReadOnly);
        QImageReader reader(&headers, "bmp");
        const QSize written = reader.size();
        if (written.width() != rows.width || std::abs(written.height()) != rows.height)
            return streamPlatformBitmap(fd, sink);
    }
    if (!sink.begin(rows.width, rows.height))
        return {};
    const uint32_t sizeImage = static_cast<uint8_t>(strip[34]) | static_cast<uint8_t>(strip[35]) << 8
                               | static_cast<uint8_t>(strip[36]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(strip[37])) << 24;
    // The bytes the file holds of a row, from the top: rows past its end
    // come out black, and so do the pixels of a row cut short that are not
    // wholly in it, as in the bitmaps read without the platform reader.
    auto heldBytes = [&rows](int32_t y) {
        const int64_t fileRow = rows.topDown ? y : int64_t {rows.height} - 1 - y;
        return std::clamp<int64_t>(rows.fileSize - rows.pixelOffset - fileRow * rows.stride, 0, rows.stride);
    };
    auto complete = [&rows, &heldBytes](int32_t y) {
        return static_cast<int32_t>(std::min<int64_t>(rows.width, heldBytes(y) * 8 / rows.bits));
    };
    for (int32_t top = 0; top < rows.height; top += kStripRows) {
        const int32_t count = std::min(kStripRows, rows.height - top);
        if (!anyWanted(sink, top, count))
            continue;
        // The strip's rows lie together in the file, the bottom one first
        // unless the bitmap is top-down.
        const int64_t firstFileRow = rows.topDown ? top : int64_t {rows.height} - top - count;
        const int64_t bytes = rows.stride * count;
        strip.resize(static_cast<qsizetype>(rows.pixelOffset));
        strip.resize(static_cast<qsizetype>(rows.pixelOffset + bytes), '\0');
        int64_t got = 0;
        while (got < bytes) {
            const ssize_t n = ::pread(fd, strip.data() + rows.pixelOffset + got, static_cast<size_t>(bytes - got),
                                      static_cast<off_t>(rows.pixelOffset + firstFileRow * rows.stride + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int error = errno;
                return {StreamStatus::Failed, std::strerror(error), LoadFailure::SystemError, error};
            }
            if (n == 0)
                break;
            got += n;
        }
        putLe32(strip, 2, static_cast<uint32_t>(strip.size()));
        putLe32(strip, 22, static_cast<uint32_t>(rows.topDown ? -count : count));
        if (sizeImage != 0)
            putLe32(strip, 34, static_cast<uint32_t>(bytes));
        QBuffer buffer(&strip);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "bmp");
        reader.setAutoTransform(false);
        // As in the whole decode: a picture of the reader's size and format,
        // cleared, which it reuses.
        const QImage::Format format = reader.imageFormat();
        QImage image = format != QImage::Format_Invalid ? QImage(rows.width, count, format) : QImage();
        if (!image.isNull())
            image.fill(0);
        if (!reader.read(&image) || image.isNull()) {
            std::string error = reader.errorString().toStdString();
            return {StreamStatus::Failed, error.empty() ? "not a bitmap" : error, LoadFailure::Damaged};
        }
        deliverStrip(image, top, image.colorTable(), sink, complete);
    }
    return {};
}
