#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>

class QThreadPool;

// Where a picture's thumbnail lives under the freedesktop thumbnail
// standard: $XDG_CACHE_HOME/thumbnails/<folder>/<md5 of the URI>.png.
struct ThumbnailPlace {
    QString uri;  // file:// URI of the picture, percent-encoded
    QString file; // the PNG
};
// In the folder that holds thumbnails of `size`: normal (128), large (256),
// x-large (512) or xx-large (1024).
ThumbnailPlace thumbnailPlace(const std::string& path, int32_t size);
ThumbnailPlace thumbnailPlaceIn(const std::string& path, const QString& folder);
// "fail/zelvic-<version>": pictures we could not read, each an empty PNG
// carrying the picture's URI and modification time.
QString thumbnailFailFolder();

// The tEXt chunks of PNG data by keyword (QImageReader cuts keywords at
// their first colon, and the standard's keys hold two).
QHash<QString, QString> pngTextChunks(const QByteArray& png);

// Thumbnail of `path` at most `size` pixels on its longer side: read from
// the shared cache (any folder at least that large, scaled down) when it
// names this file and its modification time, else decoded (JPEG at libjpeg's
// DCT scale) and written into the folder of `size` for file managers too.
// A null image when the picture cannot be read; that is kept in our fail
// folder and not tried again until the file changes. A decode stopped by
// `cancel` gives a null image too and writes nothing. Safe on any thread.
QImage loadThumbnail(const std::string& path, int32_t size, const std::atomic<bool>* cancel = nullptr);

// Pictures decoded (not read from the shared cache) since start: lets a test
// see that a second opening reuses the thumbnails.
int64_t thumbnailDecodeCount();

// Thumbnails for the window: asked for by path on paint, made on a pool of
// worker threads, kept in a bounded cache, announced by `ready` on the
// interface thread.
class ThumbnailStore : public QObject {
    Q_OBJECT

public:
    // The list paints 96 pixels: "normal" thumbnails suffice, and only that
    // folder is written.
    static constexpr int32_t kSize = 128;
    static constexpr int32_t kCachedPictures = 2000; // about 128 MB of 128 x 128 images at most

    explicit ThumbnailStore(QObject* parent = nullptr);
    ~ThumbnailStore() override;

    // The thumbnail when it is at hand; otherwise a null image and the
    // picture is queued (once) and `ready` follows.
    QImage thumbnail(const QString& path);

    // Forgets queued pictures not yet started and asks JPEG decodes under way
    // to stop: the rows that asked for them are no longer shown. A row still
    // shown asks again and gets its decode back (or a new one).
    void dropQueued();

signals:
    void ready(const QString& path);

private:
    void finished(const QString& path, const QImage& image, bool cancelled);

    QThreadPool* m_pool = nullptr;
    QCache<QString, QImage> m_cache;
    // Stop flags of the pictures queued or being made, shared with their jobs.
    QHash<QString, std::shared_ptr<std::atomic<bool>>> m_running;
};
