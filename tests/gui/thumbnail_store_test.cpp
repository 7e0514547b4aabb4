#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "app/thumbnail_store.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

QString mtimeText(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return QString::number(info.st_mtim.tv_sec);
}

QHash<QString, QString> textOf(const QString& png)
{
    QFile file(png);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return pngTextChunks(file.readAll());
}

// The standard's time has whole seconds: a changed file is dated seconds later.
void rewriteLater(const std::string& path, int32_t seed)
{
    testing_support::writeJpeg(path, testing_support::photoLikePicture(300, 200, seed), 90);
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
}

} // namespace

class ThumbnailStoreTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_home;

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", (m_home->path() + QStringLiteral("/cache")).toUtf8());
    }

    void largerFoldersAreReusedWhenTheyNameTheFile();
    void unreadablePicturesAreKeptAsFailures();
    void anotherPngReaderAcceptsWhatWeWrite();
    void droppedDecodesAreNeitherFailuresNorLost();
};

void ThumbnailStoreTest::largerFoldersAreReusedWhenTheyNameTheFile()
{
    TempDir dir;
    const std::string picture = dir.file("a b.jpg");
    const std::string other = dir.file("other.jpg");
    testing_support::writeJpeg(picture, testing_support::photoLikePicture(600, 400, 1), 90);
    testing_support::writeJpeg(other, testing_support::photoLikePicture(300, 200, 2), 90);

    // As a file manager showing large icons would have left it.
    const int64_t start = thumbnailDecodeCount();
    QCOMPARE(loadThumbnail(picture, 256).size(), QSize(256, 170));
    const ThumbnailPlace large = thumbnailPlace(picture, 256);
    QVERIFY2(large.file.startsWith(m_home->path() + QStringLiteral("/cache/thumbnails/large/")), qPrintable(large.file));
    QVERIFY(large.uri.endsWith(QStringLiteral("/a%20b.jpg")));
    QVERIFY(!QFile::exists(thumbnailPlace(picture, 128).file));
    QCOMPARE(QImageReader(large.file).size(), QSize(256, 170));

    // Ours at 128 is that one scaled down: no decode, and normal/ is left alone.
    QCOMPARE(loadThumbnail(picture, 128).size(), QSize(128, 85));
    QCOMPARE(thumbnailDecodeCount() - start, 1);
    QVERIFY(!QFile::exists(thumbnailPlace(picture, 128).file));

    // The same entry under another picture's name names the wrong URI.
    const ThumbnailPlace otherLarge = thumbnailPlace(other, 256);
    QVERIFY(QDir().mkpath(QFileInfo(otherLarge.file).path()));
    QVERIFY(QFile::copy(large.file, otherLarge.file));
    QCOMPARE(loadThumbnail(other, 128).size(), QSize(128, 85));
    QCOMPARE(thumbnailDecodeCount() - start, 2);

    // A picture changed since: every stored entry is stale, normal/ gets the new one.
    rewriteLater(picture, 3);
    QCOMPARE(loadThumbnail(picture, 128).size(), QSize(128, 85));
    QCOMPARE(thumbnailDecodeCount() - start, 3);
    const QHash<QString, QString> text = textOf(thumbnailPlace(picture, 128).file);
    QCOMPARE(text.value(QStringLiteral("Thumb::URI")), large.uri);
    QCOMPARE(text.value(QStringLiteral("Thumb::MTime")), mtimeText(picture));
    QCOMPARE(loadThumbnail(picture, 128).size(), QSize(128, 85));
    QCOMPARE(thumbnailDecodeCount() - start, 3);

    // A 128 thumbnail never stands in for a larger one.
    QCOMPARE(loadThumbnail(picture, 512).size(), QSize(300, 200));
    QCOMPARE(thumbnailDecodeCount() - start, 4);
    QVERIFY(QFile::exists(thumbnailPlace(picture, 512).file));
    QVERIFY(thumbnailPlace(picture, 512).file.contains(QStringLiteral("/thumbnails/x-large/")));
}

void ThumbnailStoreTest::unreadablePicturesAreKeptAsFailures()
{
    TempDir dir;
    const std::string broken = dir.file("broken.jpg");
    std::ofstream(broken, std::ios::binary) << "\xFF\xD8\xFF not a picture";
    const int64_t start = thumbnailDecodeCount();

    QVERIFY(loadThumbnail(broken, 128).isNull());
    QCOMPARE(thumbnailDecodeCount() - start, 1);
    QCOMPARE(thumbnailFailFolder(), QStringLiteral("fail/zelvic-0.9"));
    const ThumbnailPlace fail = thumbnailPlaceIn(broken, thumbnailFailFolder());
    QVERIFY2(fail.file.startsWith(m_home->path() + QStringLiteral("/cache/thumbnails/fail/zelvic-0.9/")),
             qPrintable(fail.file));
    const QHash<QString, QString> text = textOf(fail.file);
    QCOMPARE(text.value(QStringLiteral("Thumb::URI")), fail.uri);
    QCOMPARE(text.value(QStringLiteral("Thumb::MTime")), mtimeText(broken));
    QVERIFY(!QFile::exists(thumbnailPlace(broken, 128).file));

    // Not tried again.
    ThumbnailStore store;
    QSignalSpy ready(&store, &ThumbnailStore::ready);
    QVERIFY(store.thumbnail(QString::fromStdString(broken)).isNull());
    QTRY_COMPARE(ready.count(), 1);
    QVERIFY(store.thumbnail(QString::fromStdString(broken)).isNull());
    QCOMPARE(ready.count(), 1); // held as "no thumbnail", not queued again
    QCOMPARE(thumbnailDecodeCount() - start, 1);

    // Mended since: the failure no longer counts.
    rewriteLater(broken, 4);
    QCOMPARE(loadThumbnail(broken, 128).size(), QSize(128, 85));
    QCOMPARE(thumbnailDecodeCount() - start, 2);

    // A vanished file is no failure to remember.
    const std::string gone = dir.str() + "/gone.jpg";
    QVERIFY(loadThumbnail(gone, 128).isNull());
    QVERIFY(!QFile::exists(thumbnailPlaceIn(gone, thumbnailFailFolder()).file));
}

// pngcheck checks every chunk's length and CRC and the compressed data, and
// prints each tEXt chunk as "keyword:" then the value indented.
void ThumbnailStoreTest::anotherPngReaderAcceptsWhatWeWrite()
{
    const QString pngcheck = QStandardPaths::findExecutable(QStringLiteral("pngcheck"));
    QVERIFY2(!pngcheck.isEmpty(), "pngcheck is missing: scripts/setup.sh installs it");
    TempDir dir;
    const std::string picture = dir.file("photo.jpg");
    const std::string broken = dir.file("broken.png");
    testing_support::writeJpeg(picture, testing_support::photoLikePicture(300, 200, 5), 90);
    std::ofstream(broken, std::ios::binary) << "\x89PNG\r\n\x1a\n cut short";
    QVERIFY(!loadThumbnail(picture, 128).isNull());
    QVERIFY(loadThumbnail(broken, 128).isNull());

    for (const auto& [place, path] : {std::pair(thumbnailPlace(picture, 128), picture),
                                      std::pair(thumbnailPlaceIn(broken, thumbnailFailFolder()), broken)}) {
        QProcess check;
        check.start(pngcheck, {QStringLiteral("-t"), place.file});
        QVERIFY(check.waitForFinished(10000));
        const QString out = QString::fromLatin1(check.readAllStandardOutput());
        QVERIFY2(check.exitCode() == 0, qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("\nThumb::URI:\n    ") + place.uri + QLatin1Char('\n')), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("\nThumb::MTime:\n    ") + mtimeText(path) + QLatin1Char('\n')),
                 qPrintable(out));
    }
}

void ThumbnailStoreTest::droppedDecodesAreNeitherFailuresNorLost()
{
    TempDir dir;
    constexpr int kPictures = 24;
    QStringList paths;
    for (int i = 0; i < kPictures; ++i) {
        const std::string path = dir.file("p" + std::to_string(i) + ".jpg");
        testing_support::writeJpeg(path, testing_support::photoLikePicture(1200, 800, 10 + i), 90);
        paths << QString::fromStdString(path);
    }
    // A decode told to stop leaves nothing behind.
    const std::atomic<bool> stop {true};
    const int64_t start = thumbnailDecodeCount();
    QVERIFY(loadThumbnail(paths[0].toStdString(), 128, &stop).isNull());
    QCOMPARE(thumbnailDecodeCount() - start, 1);
    QVERIFY(!QDir(m_home->path() + QStringLiteral("/cache/thumbnails")).exists());

    ThumbnailStore store;
    QSignalSpy ready(&store, &ThumbnailStore::ready);
    for (const QString& path : paths)
        QVERIFY(store.thumbnail(path).isNull());
    store.dropQueued(); // scrolled away: each job reports back, made or stopped
    QTRY_COMPARE(ready.count(), kPictures);
    QVERIFY(!QDir(m_home->path() + QStringLiteral("/cache/thumbnails/fail")).exists());

    // Scrolled back: every row gets its picture, however far it had come.
    for (const QString& path : paths)
        QTRY_COMPARE(store.thumbnail(path).size(), QSize(128, 85));
    QVERIFY(!QDir(m_home->path() + QStringLiteral("/cache/thumbnails/fail")).exists());
}

QTEST_MAIN(ThumbnailStoreTest)
#include "thumbnail_store_test.moc"
