#include "app/thumbnail_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPointer>
#include <QRunnable>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <QUrl>

#include "picture/picture_loader.h"
#include "picture/scaled_jpeg.h"
#include "review/ui/picture_view.h"

namespace {

std::atomic<int64_t> g_decodes {0};

// The shared folders, smallest first, and the longer side each holds.
struct ThumbnailFolder {
    QLatin1StringView name;
    int32_t size;
};
constexpr std::array<ThumbnailFolder, 4> kFolders {{
    {QLatin1StringView("normal"), 128},
    {QLatin1StringView("large"), 256},
    {QLatin1StringView("x-large"), 512},
    {QLatin1StringView("xx-large"), 1024},
}};

// Failures are kept per program and version: another may read what we cannot.
constexpr const char* kFailApp = "zelvic-0.9";

QString cacheRoot()
{
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    if (!xdg.isEmpty())
        return QString::fromLocal8Bit(xdg);
    return QDir::homePath() + QStringLiteral("/.cache");
}

// Seconds since the epoch of the file's last modification, as the standard's
// Thumb::MTime holds it; -1 when the file cannot be read.
int64_t mtimeSeconds(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_mtim.tv_sec);
}

bool isJpegName(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    QString ext = QString::fromStdString(path.substr(dot + 1)).toLower();
    return ext == QLatin1String("jpg") || ext == QLatin1String("jpeg") || ext == QLatin1String("jpe");
}

uint32_t crc32Of(const QByteArray& bytes)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t {};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (char byte : bytes)
        c = table[(c ^ static_cast<uint8_t>(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void appendBigEndian(QByteArray& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
}

// PNG data with tEXt chunks right after the header. Qt's own writer turns
// long text into zTXt, which not every thumbnail reader takes.
QByteArray withTextChunks(const QByteArray& png, const std::vector<std::pair<QByteArray, QByteArray>>& text)
{
    constexpr qsizetype kAfterHeader = 8 + 4 + 4 + 13 + 4; // signature, IHDR
    QByteArray out = png.left(kAfterHeader);
    for (const auto& [key, value] : text) {
        const QByteArray body = QByteArray("tEXt") + key + '\0' + value;
        appendBigEndian(out, static_cast<uint32_t>(body.size() - 4));
        out.append(body);
        appendBigEndian(out, crc32Of(body));
    }
    out.append(png.mid(kAfterHeader));
    return out;
}

QImage fitted(const Picture& picture, int32_t size)
{
    if (picture.isNull())
        return {};
    const int32_t longer = std::max(picture.width(), picture.height());
    int32_t width = picture.width();
    int32_t height = picture.height();
    if (longer > size) {
        width = std::max(1, picture.width() * size / longer);
        height = std::max(1, picture.height() * size / longer);
    }
    return renderStretched(picture, width, height, QRect(0, 0, width, height));
}

struct Decoded {
    QImage image; // null when the picture cannot be read
    bool cancelled = false;
};

Decoded decodeThumbnail(const std::string& path, int32_t size, const std::atomic<bool>* cancel)
{
    ++g_decodes;
    if (isJpegName(path)) {
        // The coarsest DCT scale that still gives at least `size` pixels.
        const QSize full = QImageReader(QString::fromStdString(path)).size();
        int32_t denominator = 1;
        for (int32_t d : {8, 4, 2}) {
            if (full.isValid() && (std::max(full.width(), full.height()) + d - 1) / d >= size) {
                denominator = d;
                break;
            }
        }
        ScaledJpeg scaled = decodeJpegScaled(path, denominator, cancel);
        if (scaled.cancelled)
            return {{}, true};
        return {scaled.loaded.ok() ? fitted(scaled.loaded.picture, size) : QImage()};
    }
    LoadedPicture loaded = loadPicture(path, JpegIdct::Accurate);
    return {loaded.ok() ? fitted(loaded.picture, size) : QImage()};
}

// The entry's PNG data when it names this file at this modification time.
bool readEntry(const ThumbnailPlace& place, const QString& mtimeText, QByteArray& png)
{
    QFile file(place.file);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    png = file.readAll();
    const QHash<QString, QString> text = pngTextChunks(png);
    return text.value(QStringLiteral("Thumb::URI")) == place.uri
        && text.value(QStringLiteral("Thumb::MTime")) == mtimeText;
}

void writeEntry(const ThumbnailPlace& place, const QString& mtimeText, const QImage& image)
{
    QByteArray plain;
    {
        QBuffer buffer(&plain);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            return;
    }
    const QByteArray png = withTextChunks(plain, {{"Thumb::URI", place.uri.toLatin1()},
                                                  {"Thumb::MTime", mtimeText.toLatin1()},
                                                  {"Software", "Zelvic"}});
    // Written whole or not at all (QSaveFile: a temporary file in the same
    // folder, then a rename), readable by its owner alone as the standard asks.
    const QString folder = QFileInfo(place.file).path();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); // a new one only

    QSaveFile out(place.file);
    if (out.open(QIODevice::WriteOnly)) {
        out.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        if (out.write(png) == png.size())
            out.commit();
        else
            out.cancelWriting();
    }
}

} // namespace

QHash<QString, QString> pngTextChunks(const QByteArray& png)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    QHash<QString, QString> text;
    if (!png.startsWith(signature))
        return text;
    qsizetype at = signature.size();
    while (at + 12 <= png.size()) {
        const auto* p = reinterpret_cast<const uint8_t*>(png.constData() + at);
        const uint32_t length = (uint32_t {p[0]} << 24) | (uint32_t {p[1]} << 16) | (uint32_t {p[2]} << 8) | p[3];
        const QByteArray type = png.mid(at + 4, 4);
        if (length > static_cast<uint64_t>(png.size() - at - 12))
            break; // cut short: what was read so far stands
        if (type == "IDAT" || type == "IEND")
            break; // text that matters comes first
        if (type == "tEXt") {
            const QByteArray body = png.mid(at + 8, length);
            const qsizetype zero = body.indexOf('\0');
            if (zero > 0)
                text.insert(QString::fromLatin1(body.left(zero)), QString::fromLatin1(body.mid(zero + 1)));
        }
        at += 12 + static_cast<qsizetype>(length);
    }
    return text;
}

ThumbnailPlace thumbnailPlace(const std::string& path, int32_t size)
{
    QString folder = kFolders.back().name;
    for (const ThumbnailFolder& candidate : kFolders) {
        if (size <= candidate.size) {
            folder = candidate.name;
            break;
        }
    }
    return thumbnailPlaceIn(path, folder);
}

ThumbnailPlace thumbnailPlaceIn(const std::string& path, const QString& folder)
{
    ThumbnailPlace place;
    place.uri = QString::fromLatin1(QUrl::fromLocalFile(QString::fromStdString(path)).toEncoded());
    const QByteArray md5 = QCryptographicHash::hash(place.uri.toUtf8(), QCryptographicHash::Md5).toHex();
    place.file = cacheRoot() + QStringLiteral("/thumbnails/") + folder + QLatin1Char('/') + QString::fromLatin1(md5)
        + QStringLiteral(".png");
    return place;
}

QString thumbnailFailFolder()
{
    return QStringLiteral("fail/") + QLatin1String(kFailApp);
}

QImage loadThumbnail(const std::string& path, int32_t size, const std::atomic<bool>* cancel)
{
    const int64_t mtime = mtimeSeconds(path);
    if (mtime < 0)
        return {};
    const QString mtimeText = QString::number(mtime);
    // Any folder's thumbnail will do: a larger one is only scaled down.
    for (const ThumbnailFolder& folder : kFolders) {
        if (folder.size < size)
            continue; // would have to be enlarged
        const ThumbnailPlace place = thumbnailPlaceIn(path, folder.name);
        QByteArray png;
        if (!readEntry(place, mtimeText, png))
            continue;
        QImage shared = QImage::fromData(png, "PNG");
        if (shared.isNull())
            continue;
        if (std::max(shared.width(), shared.height()) > size)
            shared = shared.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return shared;
    }
    // A picture that failed before, unchanged since: not tried again.
    const ThumbnailPlace failPlace = thumbnailPlaceIn(path, thumbnailFailFolder());
    if (QByteArray png; readEntry(failPlace, mtimeText, png))
        return {};

    const Decoded decoded = decodeThumbnail(path, size, cancel);
    if (decoded.cancelled)
        return {};
    if (decoded.image.isNull()) {
        // Only a file that can be read but not decoded is a failure; one we
        // may not open may become readable without its time changing.
        if (QFile(QString::fromStdString(path)).open(QIODevice::ReadOnly)) {
            QImage blank(1, 1, QImage::Format_ARGB32);
            blank.fill(Qt::transparent);
            writeEntry(failPlace, mtimeText, blank);
        }
        return {};
    }
    writeEntry(thumbnailPlace(path, size), mtimeText, decoded.image);
    return decoded.image; // a cache that cannot be written costs only the next decode
}

int64_t thumbnailDecodeCount()
{
    return g_decodes.load();
}

namespace {

class ThumbnailJob : public QRunnable {
public:
    using Done = std::function<void(const QString&, const QImage&, bool cancelled)>;

    ThumbnailJob(QString path, std::shared_ptr<std::atomic<bool>> cancel, Done done)
        : m_path(std::move(path)), m_cancel(std::move(cancel)), m_done(std::move(done))
    {
    }

    void run() override
    {
        // Every job reports back, even one dropped before it began, so that
        // the store's list of pictures under way stays true.
        if (m_cancel->load()) {
            m_done(m_path, {}, true);
            return;
        }
        QImage image = loadThumbnail(m_path.toStdString(), ThumbnailStore::kSize, m_cancel.get());
        m_done(m_path, image, image.isNull() && m_cancel->load());
    }

private:
    QString m_path;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    Done m_done;
};

} // namespace

ThumbnailStore::ThumbnailStore(QObject* parent) : QObject(parent), m_pool(new QThreadPool(this)), m_cache(kCachedPictures)
{
    m_pool->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

ThumbnailStore::~ThumbnailStore()
{
    for (const auto& cancel : std::as_const(m_running))
        cancel->store(true);
    m_pool->clear();
    m_pool->waitForDone();
}

QImage ThumbnailStore::thumbnail(const QString& path)
{
    if (QImage* image = m_cache.object(path))
        return *image;
    if (const auto running = m_running.constFind(path); running != m_running.constEnd()) {
        // Wanted again: let it go on. Should it have stopped already, its
        // `ready` brings the row back here and it is queued anew.
        running.value()->store(false);
        return {};
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_running.insert(path, cancel);
    QPointer<ThumbnailStore> self(this);
    m_pool->start(new ThumbnailJob(path, cancel, [self](const QString& done, const QImage& image, bool cancelled) {
        // Back on the interface thread; the store may be gone by then.
        QMetaObject::invokeMethod(
            qApp,
            [self, done, image, cancelled] {
                if (self)
                    self->finished(done, image, cancelled);
            },
            Qt::QueuedConnection);
    }));
    return {};
}

void ThumbnailStore::dropQueued()
{
    // Jobs not begun stop at once; JPEG decodes stop at their next row.
    for (const auto& cancel : std::as_const(m_running))
        cancel->store(true);
}

void ThumbnailStore::finished(const QString& path, const QImage& image, bool cancelled)
{
    m_running.remove(path);
    // A picture that cannot be read is cached as a null image: not retried
    // on every paint. A stopped one is not cached: a row that shows it asks again.
    if (!cancelled)
        m_cache.insert(path, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes() / (128 * 128 * 4)));
    emit ready(path);
}
