// The main window's searches: starting and aborting one, what is held off
// while it runs, its summary, the cache, closing during it and what it searches.

#include <filesystem>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_window.h"
#include "app/option_group.h"
#include "app/search_folders_dialog.h"
#include "gui/main_window_fixture.h"
#include "gui/main_window_test_peer.h"
#include "support/test_pictures.h"

using main_window_fixture::child;
using main_window_fixture::closeReviewsOf;
using main_window_fixture::makeWindow;
using main_window_fixture::recordReviewsOf;
using main_window_fixture::writeFixturePictures;
using testing_support::TempDir;

class MainWindowSearchTest : public QObject {
    Q_OBJECT
    // Each test's windows keep their settings apart from every other test's.
    std::unique_ptr<QTemporaryDir> m_config;

private slots:
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_config->path().toUtf8());
    }
    void escapeAndAbortButtonSetTheFlagAndASearchClearsIt();
    void inputsAreHeldOffWhileASearchRuns();
    void searchOfFixtureFolderEndsWithSummary();
    void folderWithoutPicturesSaysSo();
    void folderThatCannotBeReadIsAnError();
    void secondSearchTakesSignaturesFromTheCache();
    void closingDuringASearchWaitsThenWritesSettings();
    void missingFileIsPassedOverOnTheNextRedisplay();
    void furtherFolderAndExclusionReachTheSearch();
    void formatChoiceIsKeptApartAndSearched();
};

void MainWindowSearchTest::escapeAndAbortButtonSetTheFlagAndASearchClearsIt()
{
    TempDir dir;
    QStringList errors;
    auto window = makeWindow(dir, &errors);
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QVERIFY(!MainWindowTestPeer(*window).abortRequested());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(MainWindowTestPeer(*window).abortRequested());

    // A search clears the flag at its start; with no search running the
    // flag stays set.
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    QTest::mouseClick(child<QPushButton>(*window, "Button2"), Qt::LeftButton);
    QVERIFY(!MainWindowTestPeer(*window).abortRequested());
    QTRY_COMPARE(finished.count(), 1);

    QTest::mouseClick(child<QPushButton>(*window, "Button3"), Qt::LeftButton);
    QVERIFY(MainWindowTestPeer(*window).abortRequested());
    QTest::qWait(50);
    QVERIFY(MainWindowTestPeer(*window).abortRequested());
}

void MainWindowSearchTest::inputsAreHeldOffWhileASearchRuns()
{
    TempDir dir;
    writeFixturePictures(dir);
    QStringList errors;
    auto window = makeWindow(dir, &errors);
    closeReviewsOf(*window);
    window->show();
    const char* heldOff[] = {"Button2", "Button4", "TreeView1", "RadioGroup1", "RadioGroup2", "RadioGroup7",
                             "RadioGroup3"};
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    // The worker's end reaches the window only through its event loop, so
    // nothing has finished yet here.
    QVERIFY(MainWindowTestPeer(*window).isBusy());
    for (const char* name : heldOff)
        QVERIFY2(!child<QWidget>(*window, name)->isEnabled(), name);
    QVERIFY(child<QWidget>(*window, "Button3")->isEnabled());
    QVERIFY(child<QWidget>(*window, "Button1")->isEnabled());
    QVERIFY(child<QProgressBar>(*window, "ProgressBar1")->isVisible());
    QCOMPARE(child<QLabel>(*window, "Label1")->text(), QStringLiteral("検索中！！"));

    window->Button2Click(); // a second press while running starts nothing
    QTRY_COMPARE(finished.count(), 1);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!MainWindowTestPeer(*window).isBusy());
    for (const char* name : heldOff)
        QVERIFY2(child<QWidget>(*window, name)->isEnabled(), name);
    QVERIFY(!child<QProgressBar>(*window, "ProgressBar1")->isVisible());
}

void MainWindowSearchTest::searchOfFixtureFolderEndsWithSummary()
{
    TempDir dir;
    writeFixturePictures(dir);
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/photos");
    closeReviewsOf(*window);
    window->show();
    QCOMPARE(MainWindowTestPeer(*window).searchFolder(), dir.str() + "/photos");

    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QCOMPARE(child<QLabel>(*window, "Label1")->text(), QStringLiteral("検索終了"));
    // File-size mode: the two copies form the only run; the third file has a
    // size of its own and is never loaded.
    const QString summary = child<QLineEdit>(*window, "Edit1")->text();
    static const QRegularExpression form(QStringLiteral("^( [0-9]|[0-9]{2,})\\.[0-9] ファイル：3 読込：2 選択：1 キャッシュ：0$"));
    QVERIFY2(form.match(summary).hasMatch(), qPrintable(summary));
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().resultLines.size(), std::size_t {1});
    QCOMPARE(child<QListWidget>(*window, "ListBox1")->count(), 1);
    QCOMPARE(child<QListWidget>(*window, "ListBox3")->count(), 0);

    // The re-display walks the same single pair again.
    window->Button4Click();
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().pairList.size(), std::size_t {1});
}

void MainWindowSearchTest::folderWithoutPicturesSaysSo()
{
    TempDir dir;
    testing_support::writeBytes(dir.file("empty/readme.txt"), "no pictures here");
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/empty");
    window->show();
    child<QLineEdit>(*window, "Edit1")->setText(QStringLiteral("earlier"));
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QCOMPARE(child<QLabel>(*window, "Label1")->text(), QStringLiteral("画像ファイルなし"));
    QCOMPARE(child<QLineEdit>(*window, "Edit1")->text(), QStringLiteral("earlier"));
}

void MainWindowSearchTest::folderThatCannotBeReadIsAnError()
{
    // The selected folder is gone by the time of the search: an error, as in
    // zelvic-cli, not the "画像ファイルなし" of a folder without pictures.
    TempDir dir;
    testing_support::writeBytes(dir.file("gone/readme.txt"), "x");
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/gone");
    window->show();
    std::filesystem::remove_all(dir.path() / "gone");
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(errors, QStringList {QString::fromStdString("フォルダ " + dir.str() + "/gone は開けません")});
    QVERIFY(child<QLabel>(*window, "Label1")->text() != QStringLiteral("画像ファイルなし"));
}

void MainWindowSearchTest::secondSearchTakesSignaturesFromTheCache()
{
    TempDir dir;
    writeFixturePictures(dir);
    // Files changed within a clock tick of being looked at are not kept.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/photos");
    closeReviewsOf(*window);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(MainWindowTestPeer(*window).lastOutcome().cache.has_value());
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().cache->misses, int64_t {2});
    const std::vector<std::string> firstLines = MainWindowTestPeer(*window).lastOutcome().resultLines;

    window->Button2Click();
    QTRY_COMPARE(finished.count(), 2);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().cache->hits, int64_t {2});
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().cache->misses, int64_t {0});
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().resultLines, firstLines);
    // A warm search shows no progress line: the summary says it.
    const QString summary = child<QLineEdit>(*window, "Edit1")->text();
    QVERIFY2(summary.endsWith(QStringLiteral(" 選択：1 キャッシュ：2")), qPrintable(summary));
}

void MainWindowSearchTest::closingDuringASearchWaitsThenWritesSettings()
{
    TempDir dir;
    writeFixturePictures(dir);
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/photos");
    window->show();
    child<OptionGroup>(*window, "RadioGroup3")->setItemIndex(2);
    const std::string settings = MainWindowTestPeer(*window).settingsWritePath();
    window->Button2Click();
    QVERIFY(MainWindowTestPeer(*window).isBusy());
    window->close();
    QVERIFY(MainWindowTestPeer(*window).abortRequested());
    window.reset();
    QFile file(QString::fromStdString(settings));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith("ds,2\r\n"));
}

void MainWindowSearchTest::missingFileIsPassedOverOnTheNextRedisplay()
{
    TempDir dir;
    // Two runs of equal sizes: a.jpg = b.jpg, c.jpg = d.jpg.
    const Picture small = testing_support::photoLikePicture(32, 24, 7);
    const Picture large = testing_support::photoLikePicture(48, 40, 9);
    testing_support::writeJpeg(dir.file("photos/a.jpg"), small, 90);
    testing_support::writeJpeg(dir.file("photos/b.jpg"), small, 90);
    testing_support::writeJpeg(dir.file("photos/c.jpg"), large, 90);
    testing_support::writeJpeg(dir.file("photos/d.jpg"), large, 90);
    QStringList errors;
    QStringList shown;
    auto window = makeWindow(dir, &errors, dir.str() + "/photos");
    recordReviewsOf(*window, &shown);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].startsWith(QStringLiteral("グループ 1 / 2 ")), qPrintable(shown[0]));
    QVERIFY2(shown[1].startsWith(QStringLiteral("グループ 2 / 2 ")), qPrintable(shown[1]));
    // The group on show first is the one whose file goes away.
    const std::string first = shown[0].section(QLatin1Char(' '), 4).toStdString();
    QVERIFY(::unlink(first.c_str()) == 0);

    // The walk ends at the missing file, as it always did...
    shown.clear();
    window->Button4Click();
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QStringLiteral("見つかりません")), qPrintable(errors[0]));
    QVERIFY(shown.isEmpty());

    // ...but the next re-display passes over its pairs and shows the rest.
    window->Button4Click();
    QCOMPARE(errors.size(), 1);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(QStringLiteral("グループ 1 / 1 ")), qPrintable(shown[0]));
    QVERIFY(shown[0].section(QLatin1Char(' '), 4).toStdString() != first);
}

void MainWindowSearchTest::furtherFolderAndExclusionReachTheSearch()
{
    TempDir dir;
    testing_support::writeBytes(dir.file("picked/a.jpg"), "x");
    testing_support::writeBytes(dir.file("other/b.jpg"), "xx");
    testing_support::writeBytes(dir.file("other/Lightroom/c.jpg"), "xxx");
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/picked");
    window->show();
    child<OptionGroup>(*window, "RadioGroup1")->setItemIndex(1);

    auto* button = child<QPushButton>(*window, "MoreFoldersButton");
    QCOMPARE(button->geometry(), QRect(384, 48, 137, 25));
    button->click();
    auto* dialog = window->findChild<SearchFoldersDialog*>();
    QVERIFY(dialog != nullptr);
    QTRY_VERIFY(dialog->isVisible());
    dialog->findChild<QLineEdit*>(QStringLiteral("FoldersEntry"))->setText(QString::fromStdString(dir.file("other")));
    dialog->findChild<QPushButton*>(QStringLiteral("FoldersAdd"))->click();
    dialog->findChild<QLineEdit*>(QStringLiteral("ExcludesEntry"))->setText(QStringLiteral("*/Lightroom/*"));
    dialog->findChild<QPushButton*>(QStringLiteral("ExcludesAdd"))->click();
    QCOMPARE(button->text(), QStringLiteral("追加フォルダ…"));
    dialog->accept();
    QCOMPARE(button->text(), QStringLiteral("追加フォルダ… (2)"));
    // Kept in a file of its own, never in Zelvic.ini.
    QVERIFY(QFile::exists(m_config->filePath(QStringLiteral("zelvic/search_folders.ini"))));

    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    const SearchOutcome& outcome = MainWindowTestPeer(*window).lastOutcome();
    QCOMPARE(outcome.options.folder, dir.str() + "/picked");
    QCOMPARE(outcome.options.moreFolders, std::vector<std::string> {dir.str() + "/other"});
    QCOMPARE(outcome.options.excludes, std::vector<std::string> {"*/Lightroom/*"});
    QCOMPARE(outcome.files.size(), std::size_t {2});
    QCOMPARE(outcome.files[0].path, dir.str() + "/picked/a.jpg");
    QCOMPARE(outcome.files[1].path, dir.str() + "/other/b.jpg");
    window.reset();
    QFile zelvicIni(m_config->filePath(QStringLiteral("zelvic/Zelvic.ini")));
    QVERIFY(zelvicIni.open(QIODevice::ReadOnly));
    QVERIFY(!zelvicIni.readAll().contains("Lightroom"));
}

void MainWindowSearchTest::formatChoiceIsKeptApartAndSearched()
{
    TempDir dir;
    writeFixturePictures(dir);
    testing_support::writeBmp24(dir.file("photos/d.BMP"), testing_support::photoLikePicture(16, 16, 3));
    const QString keptFile = m_config->path() + QStringLiteral("/zelvic/formats");
    QStringList errors;
    {
        auto window = makeWindow(dir, &errors, dir.str() + "/photos");
        closeReviewsOf(*window);
        auto* jpg = window->findChild<QAction*>(QStringLiteral("format_jpg"));
        auto* bmp = window->findChild<QAction*>(QStringLiteral("format_bmp"));
        QVERIFY(jpg && bmp);
        QVERIFY(jpg->isChecked() && bmp->isChecked());
        QVERIFY(!QFile::exists(keptFile));

        jpg->setChecked(false);
        QFile kept(keptFile);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("bmp\n"));
        // The last format on stays on: a search of nothing would find nothing.
        bmp->setChecked(false);
        QVERIFY(bmp->isChecked());

        QSignalSpy finished(window.get(), &MainWindow::searchFinished);
        window->Button2Click();
        QTRY_COMPARE(finished.count(), 1);
        const SearchOutcome& outcome = MainWindowTestPeer(*window).lastOutcome();
        QCOMPARE(outcome.options.formats.words(), std::string("bmp"));
        for (const File_rec& file : outcome.files)
            QVERIFY2(QString::fromStdString(file.path).endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive),
                     file.path.c_str());
    }
    // A new window takes the kept choice; Zelvic.ini knows nothing of it.
    auto again = makeWindow(dir, &errors, dir.str() + "/photos");
    QVERIFY(!again->findChild<QAction*>(QStringLiteral("format_jpg"))->isChecked());
    QVERIFY(again->findChild<QAction*>(QStringLiteral("format_bmp"))->isChecked());
    QFile ini(QString::fromStdString(MainWindowTestPeer(*again).settingsWritePath()));
    if (ini.open(QIODevice::ReadOnly))
        QVERIFY(!ini.readAll().contains("bmp"));
}

QTEST_MAIN(MainWindowSearchTest)
#include "main_window_search_test.moc"
