#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/folder_tree.h"
#include "app/main_window.h"
#include "gui/main_window_test_peer.h"
#include "app/option_group.h"
#include "app/search_folders_dialog.h"
#include "review/ui/review_window.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// A window started in `dir`, whose tree shows `dir` as its only volume and
// whose errors are collected instead of shown.
std::unique_ptr<MainWindow> makeWindow(const TempDir& dir, QStringList* errors, const std::string& initial = {})
{
    MainWindowSetup setup;
    setup.startDir = dir.str();
    setup.initialFolder = initial;
    setup.volumes = std::vector<Volume> {Volume {dir.str(), VolumeKind::Fixed}};
    setup.reportError = [errors](const QString& message) { errors->append(message); };
    // Never the user's own signature cache.
    setup.cacheFile = dir.file(".cache/signatures.sqlite");
    return std::make_unique<MainWindow>(std::move(setup));
}

template <typename T>
T* child(const MainWindow& window, const char* name)
{
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

// Closes every group the review window shows, so that a search's review walk
// never waits for a person.
void closeReviewsOf(MainWindow& window)
{
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window] {
        if (MainWindowTestPeer(window).reviewWindow()->isVisible())
            MainWindowTestPeer(window).reviewWindow()->reject();
    });
    timer->start(20);
}

// Notes what every group the review shows ("グループ n / total" and the left
// pane's file) and closes it.
void recordReviewsOf(MainWindow& window, QStringList* shown)
{
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, shown] {
        ReviewWindow* review = MainWindowTestPeer(window).reviewWindow();
        if (!review->isVisible())
            return;
        const QString place = review->findChild<QLabel*>(QStringLiteral("GroupLabel"))->text();
        const QString memo = review->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
        shown->append(place + QLatin1Char(' ') + memo.section(QLatin1Char('\n'), 0, 0));
        review->reject();
    });
    timer->start(20);
}

// Three tiny JPEGs: two copies with equal bytes and one of another size.
void writeFixturePictures(const TempDir& dir)
{
    const Picture picture = testing_support::photoLikePicture(32, 24, 7);
    testing_support::writeJpeg(dir.file("photos/a.jpg"), picture, 90);
    testing_support::writeJpeg(dir.file("photos/b.jpg"), picture, 90);
    testing_support::writeJpeg(dir.file("photos/c.jpg"), testing_support::photoLikePicture(48, 40, 9), 70);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
    // Each test's windows keep their settings apart from every other test's.
    std::unique_ptr<QTemporaryDir> m_config;

private slots:
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_config->path().toUtf8());
    }
    void controlsSitWhereTheTablePutsThem_data();
    void controlsSitWhereTheTablePutsThem();
    void optionGroupsHaveTheirItemsAndDefaults();
    void windowFrameFontAndTitle();
    void checkLevelShownOnlyForPictureModes();
    void escapeAndAbortButtonSetTheFlagAndASearchClearsIt();
    void inputsAreHeldOffWhileASearchRuns();
    void searchOfFixtureFolderEndsWithSummary();
    void folderWithoutPicturesSaysSo();
    void folderThatCannotBeReadIsAnError();
    void secondSearchTakesSignaturesFromTheCache();
    void closingDuringASearchWaitsThenWritesSettings();
    void commandLineFolderIsSelectedAtStart();
    void missingCommandLineFolderStartsAtItsParentAndSaysSo();
    void missingFileIsPassedOverOnTheNextRedisplay();
    void collapsedFolderIsTheOneSearched();
    void f5ShowsAFolderMadeAfterStart();
    void furtherFolderAndExclusionReachTheSearch();
    void formatChoiceIsKeptApartAndSearched();
};

void MainWindowTest::controlsSitWhereTheTablePutsThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shown");
    QTest::newRow("TreeView1") << "TreeView1" << QRect(8, 8, 225, 505) << QString() << true;
    QTest::newRow("Button2") << "Button2" << QRect(248, 8, 49, 25) << "検索" << true;
    QTest::newRow("Button3") << "Button3" << QRect(312, 8, 49, 25) << "中断" << true;
    QTest::newRow("Button1") << "Button1" << QRect(376, 8, 49, 25) << "終了" << true;
    QTest::newRow("Button4") << "Button4" << QRect(440, 8, 81, 25) << "画像再表示" << true;
    QTest::newRow("RadioGroup1") << "RadioGroup1" << QRect(240, 48, 129, 81) << "サブディレクトリ検索" << true;
    QTest::newRow("RadioGroup2") << "RadioGroup2" << QRect(240, 136, 129, 81) << "チェック内容" << true;
    QTest::newRow("RadioGroup7") << "RadioGroup7" << QRect(384, 136, 89, 73) << "チェックレベル" << false;
    QTest::newRow("RadioGroup3") << "RadioGroup3" << QRect(240, 224, 129, 65) << "画面サイズ" << true;
    QTest::newRow("Label1") << "Label1" << QRect(248, 296, 273, 16) << QString() << true;
    QTest::newRow("Edit1") << "Edit1" << QRect(240, 320, 281, 20) << QString() << true;
    QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(240, 344, 281, 16) << QString() << false;
    QTest::newRow("ListBox3") << "ListBox3" << QRect(240, 384, 281, 129) << QString() << true;
    QTest::newRow("ListBox1") << "ListBox1" << QRect(456, 56, 553, 233) << QString() << false;
}

void MainWindowTest::controlsSitWhereTheTablePutsThem()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, shown);
    TempDir dir;
    QStringList errors;
    auto window = makeWindow(dir, &errors);
    window->show();
    QWidget* control = child<QWidget>(*window, name.toLatin1().constData());
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->isVisible(), shown);
    if (auto* button = qobject_cast<QPushButton*>(control))
        QCOMPARE(button->text(), text);
    if (auto* group = qobject_cast<QGroupBox*>(control))
        QCOMPARE(group->title(), text);
    if (auto* label = qobject_cast<QLabel*>(control))
        QVERIFY(label->text().isEmpty() && label->font().bold());
    QVERIFY(errors.isEmpty());

    auto* label3 = child<QLabel>(*window, "Label3");
    QCOMPARE(label3->pos(), QPoint(248, 368));
    QCOMPARE(label3->text(), QStringLiteral("表示不可能ファイル"));
    QCOMPARE(child<QTreeWidget>(*window, "TreeView1")->indentation(), 19);
}

void MainWindowTest::optionGroupsHaveTheirItemsAndDefaults()
{
    TempDir dir;
    QStringList errors;
    auto window = makeWindow(dir, &errors);
    const struct {
        const char* name;
        QStringList items;
    } groups[] = {
        {"RadioGroup1", {"検索なし", "あり：一階層", "あり：二階層", "あり：三階層"}},
        {"RadioGroup2", {"ファイルサイズ", "画像サイズ", "一致画像", "類似画像"}},
        {"RadioGroup7", {"厳しい", "中間", "甘い"}},
        {"RadioGroup3",
         {QStringLiteral("\u3000８００\u3000Ｘ\u3000\u3000６００"), QStringLiteral("１０２４\u3000Ｘ\u3000\u3000７６８"),
          QStringLiteral("１２８０\u3000Ｘ\u3000１０２４")}},
    };
    for (const auto& expected : groups) {
        auto* group = child<OptionGroup>(*window, expected.name);
        QCOMPARE(group->count(), expected.items.size());
        for (int32_t i = 0; i < group->count(); ++i)
            QCOMPARE(group->button(i)->text(), expected.items.at(i));
        QCOMPARE(group->itemIndex(), 0);
        QVERIFY(group->button(0)->isChecked());
    }
}

void MainWindowTest::windowFrameFontAndTitle()
{
    TempDir dir;
    QStringList errors;
    auto window = makeWindow(dir, &errors);
    QCOMPARE(window->objectName(), QStringLiteral("Form1"));
    QVERIFY(window->windowTitle().startsWith(QStringLiteral("Zelvic Ver 0.9")));
    QCOMPARE(window->pos(), QPoint(MainWindow::kLeft, MainWindow::kTop));
    QCOMPARE(window->font().pointSize(), 9);
    QCOMPARE(window->font().families(),
             QStringList({QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")}));
    window->show();
    QTRY_COMPARE(window->frameGeometry().size(), QSize(MainWindow::kOuterWidth, MainWindow::kOuterHeight));
    QCOMPARE(window->frameGeometry().topLeft(), QPoint(MainWindow::kLeft, MainWindow::kTop));
}

void MainWindowTest::checkLevelShownOnlyForPictureModes()
{
    TempDir dir;
    QStringList errors;
    auto window = makeWindow(dir, &errors);
    window->show();
    auto* mode = child<OptionGroup>(*window, "RadioGroup2");
    auto* level = child<OptionGroup>(*window, "RadioGroup7");
    const bool shownFor[] = {false, false, true, true};
    for (int32_t i : {2, 0, 3, 1, 3, 2}) {
        QTest::mouseClick(mode->button(i), Qt::LeftButton);
        QCOMPARE(MainWindowTestPeer(*window).checkMode(), i);
        QCOMPARE(level->isVisible(), shownFor[i]);
    }
}

void MainWindowTest::escapeAndAbortButtonSetTheFlagAndASearchClearsIt()
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

void MainWindowTest::inputsAreHeldOffWhileASearchRuns()
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

void MainWindowTest::searchOfFixtureFolderEndsWithSummary()
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

void MainWindowTest::folderWithoutPicturesSaysSo()
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

void MainWindowTest::folderThatCannotBeReadIsAnError()
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

void MainWindowTest::secondSearchTakesSignaturesFromTheCache()
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

void MainWindowTest::closingDuringASearchWaitsThenWritesSettings()
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

void MainWindowTest::commandLineFolderIsSelectedAtStart()
{
    TempDir dir;
    testing_support::writeBytes(dir.file("a/b/c/x.txt"), "x");
    QStringList errors;
    // A relative folder is taken from the start folder; ".." and doubled
    // slashes are made normal.
    auto window = makeWindow(dir, &errors, "a//b/../b/c/");
    QCOMPARE(MainWindowTestPeer(*window).searchFolder(), dir.str() + "/a/b/c");
    auto* tree = MainWindowTestPeer(*window).folderTree();
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("c"));
    QVERIFY(tree->currentItem()->parent()->isExpanded());
    QVERIFY(tree->topLevelItem(0)->isExpanded());
}

void MainWindowTest::missingCommandLineFolderStartsAtItsParentAndSaysSo()
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "photos/2024");
    // Standard error into a file for the start.
    const std::string log = dir.file("stderr.txt");
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
    QStringList errors;
    auto window = makeWindow(dir, &errors, "photos/2024/gone/deeper");
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);

    QCOMPARE(MainWindowTestPeer(*window).searchFolder(), dir.str() + "/photos/2024");
    QVERIFY(errors.isEmpty());
    std::ifstream in(log);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY2(said.find(dir.str() + "/photos/2024/gone/deeper") != std::string::npos, said.c_str());
    std::string parent = dir.str();
    parent.append("/photos/2024 から");
    QVERIFY2(said.find(parent) != std::string::npos, said.c_str());

    // A folder that is there says nothing.
    const int again = ::open(log.c_str(), O_WRONLY | O_TRUNC);
    const int kept = ::dup(2);
    ::dup2(again, 2);
    ::close(again);
    auto quiet = makeWindow(dir, &errors, "photos");
    std::fflush(stderr);
    ::dup2(kept, 2);
    ::close(kept);
    QCOMPARE(MainWindowTestPeer(*quiet).searchFolder(), dir.str() + "/photos");
    std::ifstream none(log);
    QVERIFY(std::string((std::istreambuf_iterator<char>(none)), std::istreambuf_iterator<char>()).empty());
}

void MainWindowTest::missingFileIsPassedOverOnTheNextRedisplay()
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

void MainWindowTest::collapsedFolderIsTheOneSearched()
{
    TempDir dir;
    writeFixturePictures(dir);
    std::filesystem::create_directories(dir.path() / "photos/inner/deeper");
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/photos/inner/deeper");
    closeReviewsOf(*window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    FolderTree* tree = MainWindowTestPeer(*window).folderTree();
    QTreeWidgetItem* photos = tree->currentItem()->parent()->parent();
    QCOMPARE(photos->text(0), QStringLiteral("photos"));

    // Closing "photos" with its mark, as a person would.
    const QRect row = tree->visualItemRect(photos);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() - tree->indentation() / 2, row.center().y()));
    QVERIFY(!photos->isExpanded());
    QCOMPARE(tree->currentItem(), photos);

    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    QTest::mouseClick(child<QPushButton>(*window, "Button2"), Qt::LeftButton);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().options.folder, dir.str() + "/photos");
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().files.size(), std::size_t {3});
}

void MainWindowTest::f5ShowsAFolderMadeAfterStart()
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "photos/2023");
    QStringList errors;
    auto window = makeWindow(dir, &errors, dir.str() + "/photos");
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTreeWidgetItem* photos = MainWindowTestPeer(*window).folderTree()->currentItem();
    QCOMPARE(photos->childCount(), 1);

    std::filesystem::create_directories(dir.path() / "photos/2024");
    QTest::keyClick(window.get(), Qt::Key_F5);
    QCOMPARE(photos->childCount(), 2);
    QCOMPARE(photos->child(1)->text(0), QStringLiteral("2024"));
}

void MainWindowTest::furtherFolderAndExclusionReachTheSearch()
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

void MainWindowTest::formatChoiceIsKeptApartAndSearched()
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
