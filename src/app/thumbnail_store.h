#pragma once

#include <cstdint>
#include <string>

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

class QThreadPool;

// Where a picture's thumbnail lives under the freedesktop thumbnail
// standard: $XDG_CACHE_HOME/thumbnails/<normal|large>/<md5 of the URI>.png.
struct ThumbnailPlace {
    QString uri;  // file:// URI of the picture, percent-encoded
    QString file; // the PNG
};
ThumbnailPlace thumbnailPlace(const std::string& path, int32_t size);

// The tEXt chunks of PNG data by keyword (QImageReader cuts keywords at
// their first colon, and the standard's keys hold two).
QHash<QString, QString> pngTextChunks(const QByteArray& png);

// Thumbnail of `path` at most `size` pixels on its longer side: read from
// the shared cache when it names this file and its modification time, else
// decoded (JPEG at libjpeg's DCT scale) and written there for file managers
// too. A null image when the picture cannot be read. Safe on any thread.
QImage loadThumbnail(const std::string& path, int32_t size);

// Pictures decoded (not read from the shared cache) since start: lets a test
// see that a second opening reuses the thumbnails.
int64_t thumbnailDecodeCount();

// Thumbnails for the window: asked for by path on paint, made on a pool of
// worker threads, kept in a bounded cache, announced by `ready` on the
// interface thread.
class ThumbnailStore : public QObject {
    Q_OBJECT

public:
    static constexpr int32_t kSize = 128;          // "normal"
    static constexpr int32_t kCachedPictures = 2000; // about 128 MB of 128 x 128 images at most

    explicit ThumbnailStore(QObject* parent = nullptr);
    ~ThumbnailStore() override;

    // The thumbnail when it is at hand; otherwise a null image and the
    // picture is queued (once) and `ready` follows.
    QImage thumbnail(const QString& path);

    // Forgets queued pictures not yet started: the rows that asked for them
    // are no longer shown.
    void dropQueued();

signals:
    void ready(const QString& path);

private:
    void finished(const QString& path, const QImage& image);

    QThreadPool* m_pool = nullptr;
    QCache<QString, QImage> m_cache;
    QSet<QString> m_pending;
};
