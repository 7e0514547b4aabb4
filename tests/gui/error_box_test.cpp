#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include "app/main_window.h"
#include "review/ui/review_window.h"
#include "gui/review_window_test_peer.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"
#include "support/test_mounts.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// Two or more small JPEGs under review, each in a folder of its own choosing.
struct Group {
    TempDir dir;
    FileTable files;
    std::vector<PairRec> pairs;
    ReviewSession session;
    std::vector<int32_t> members;

    Group()
    {
        session.files = &files;
        session.pairs = &pairs;
        session.mode = CheckMode::FileSize;
        session.pane = PaneSize {390, 416};
    }

    std::string add(const std::string& relative)
    {
        const std::string path = dir.file(relative);
        testing_support::writeJpeg(path, testing_support::solidPicture(40, 30, 10, 20, 30));
        File_rec f;
        f.path = path;
        f.stamp = "2024/05/06 07/08/10";
        files.push_back(f);
        members.push_back(static_cast<int32_t>(files.size() - 1));
        return path;
    }
};

QString text(const std::string& bytes)
{
    return QString::fromStdString(bytes);
}

// Answers the next message box: notes its title and text, then closes it.
struct BoxWatcher {
    QString title;
    QString message;
    QTimer timer;

    BoxWatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            title = box->windowTitle();
            message = box->text();
            box->reject();
        });
        timer.start(20);
    }
};

} // namespace

class ErrorBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void failedDeleteNamesTheFile();
    void moveThatCannotBeMadeLeavesBothFiles();
    void bothWindowsBoxesCarryTheProgramTitle();

private:
    QTemporaryDir m_data;
};

void ErrorBoxTest::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
}

void ErrorBoxTest::failedDeleteNamesTheFile()
{
    ReviewWindow window;
    QStringList errors;
    window.setErrorSink([&errors](const QString& message) { errors << message; });
    Group vanishing;
    vanishing.add("v/a.jpg");
    const std::string gone = vanishing.add("v/b.jpg");
    QVERIFY(ReviewWindowTestPeer::openGroup(window, vanishing.session, vanishing.members));
    // Both pictures on view first: a file gone before the picture thread
    // reads it is reported by the load as well (a slow build got there late).
    QTRY_VERIFY(ReviewWindowTestPeer::pairSettled(window));
    ::unlink(gone.c_str());
    window.findChild<QPushButton*>(QStringLiteral("Button5"))->click();
    QCOMPARE(errors, QStringList {QStringLiteral("ファイル %1 が見つかりません").arg(text(gone))});
    window.reject();
}

void ErrorBoxTest::moveThatCannotBeMadeLeavesBothFiles()
{
    Group group;
    const std::string source = group.add("x/a.jpg");
    const std::string target = group.add("y/a.jpg");
    testing_support::ReadOnlyFolder readOnly(group.dir.str() + "/x");
    if (!readOnly.ok())
        QSKIP("cannot make a folder read-only here");
    ReviewWindow window;
    QStringList errors;
    window.setErrorSink([&errors](const QString& message) { errors << message; });
    QVERIFY(ReviewWindowTestPeer::openGroup(window, group.session, group.members));
    QTRY_VERIFY(ReviewWindowTestPeer::pairSettled(window));
    window.findChild<QPushButton*>(QStringLiteral("Button7"))->click();
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith(QStringLiteral("ファイル %1 を %2 に移動できません\n%3 ")
                                      .arg(text(source), text(target), text(group.dir.str() + "/x"))),
             qPrintable(errors[0]));
    struct stat st {};
    QCOMPARE(::stat(source.c_str(), &st), 0);
    QCOMPARE(::stat(target.c_str(), &st), 0);
    QCOMPARE(group.members.size(), std::size_t {2});
    QCOMPARE(group.files[1].skip, 0);
    window.reject();
}

void ErrorBoxTest::bothWindowsBoxesCarryTheProgramTitle()
{
    // The review: a member that cannot be decoded, no collector.
    Group damaged;
    damaged.add("d/a.jpg");
    const std::string broken = damaged.add("d/b.jpg");
    testing_support::writeBytes(broken, "\xe3\xd7 not a picture");
    {
        BoxWatcher watcher;
        ReviewWindow window;
        QCOMPARE(window.CheckFile(damaged.session, damaged.members), ReviewResult::Abort);
        QCOMPARE(watcher.title, QStringLiteral("Zelvic"));
        QCOMPARE(watcher.message, QStringLiteral("ファイル %1 は壊れているか、画像ではありません").arg(text(broken)));
    }
    // The main window: a settings file with a value that is no number.
    {
        TempDir start;
        testing_support::writeBytes(start.file("Zelvic.ini"), "tag,contents\r\nsl,x\r\n");
        BoxWatcher watcher;
        MainWindowSetup setup;
        setup.startDir = start.str();
        setup.volumes = std::vector<Volume> {Volume {start.str(), VolumeKind::Fixed}};
        MainWindow window(std::move(setup));
        QCOMPARE(watcher.title, QStringLiteral("Zelvic"));
        QCOMPARE(watcher.message, QStringLiteral("'x' は整数ではありません"));
    }
}

QTEST_MAIN(ErrorBoxTest)
#include "error_box_test.moc"
