#include "picture/bmp_platform_reader.h"

#include <algorithm>
#include <limits>

#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QImageReader>

#include "picture/picture_limits.h"

int64_t wholeDecodeBytes(int64_t width, int64_t height)
{
    return std::min(width * height, std::numeric_limits<int64_t>::max() / 4) * 4;
}

StreamResult streamPlatformBitmap(int fd, RowSink& sink)
{
    // Qt refuses pictures above 256 MB by default; our own budget applies.
    static const bool limitRaised = (QImageReader::setAllocationLimit(2048), true);
    (void)limitRaised;
    QFile file;
    if (::lseek(fd, 0, SEEK_SET) != 0
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        return {StreamStatus::Failed, "cannot read the file", LoadFailure::SystemError};
    }
    QImageReader reader(&file, "bmp");
    reader.setAutoTransform(false);
    const QSize declared = reader.size();
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
    constexpr int32_t kStripRows = 64;
    for (int32_t top = 0; top < image.height(); top += kStripRows) {
        const int32_t rows = std::min(kStripRows, image.height() - top);
        bool wanted = false;
        for (int32_t y = top; y < top + rows && !wanted; ++y)
            wanted = sink.wantsRow(y);
        if (!wanted)
            continue;
        QImage part(image.constScanLine(top), image.width(), rows, image.bytesPerLine(), image.format());
        part.setColorTable(image.colorTable());
        const QImage strip = part.convertToFormat(QImage::Format_BGR888);
        for (int32_t y = top; y < top + rows; ++y) {
            if (sink.wantsRow(y))
                sink.row(y, strip.constScanLine(y - top));
        }
    }
    return {};
}
