// The main window's controls: where they sit, their items and defaults, the
// frame, and the folder tree from the command line and at a redisplay.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/folder_tree.h"
#include "app/main_window.h"
#include "app/option_group.h"
#include "gui/main_window_fixture.h"
#include "gui/main_window_test_peer.h"
#include "support/test_pictures.h"

using main_window_fixture::child;
using main_window_fixture::closeReviewsOf;
using main_window_fixture::makeWindow;
using main_window_fixture::writeFixturePictures;
using testing_support::TempDir;

class MainWindowControlsTest : public QObject {
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
    void commandLineFolderIsSelectedAtStart();
    void missingCommandLineFolderStartsAtItsParentAndSaysSo();
    void collapsedFolderIsTheOneSearched();
    void f5ShowsAFolderMadeAfterStart();
};

void MainWindowControlsTest::controlsSitWhereTheTablePutsThem_data()
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

void MainWindowControlsTest::controlsSitWhereTheTablePutsThem()
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

void MainWindowControlsTest::optionGroupsHaveTheirItemsAndDefaults()
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

void MainWindowControlsTest::windowFrameFontAndTitle()
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

void MainWindowControlsTest::checkLevelShownOnlyForPictureModes()
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

void MainWindowControlsTest::commandLineFolderIsSelectedAtStart()
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

void MainWindowControlsTest::missingCommandLineFolderStartsAtItsParentAndSaysSo()
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

void MainWindowControlsTest::collapsedFolderIsTheOneSearched()
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

void MainWindowControlsTest::f5ShowsAFolderMadeAfterStart()
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

QTEST_MAIN(MainWindowControlsTest)
#include "main_window_controls_test.moc"
