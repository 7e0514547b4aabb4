// What the review window does to files and pairs: deleting, moving, choosing,
// the walk's results, marks and the list of like pictures.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include "gui/review_window_scene.h"
#include "gui/review_window_test_peer.h"
#include "marks/mark_store.h"
#include "review/ui/picture_cache.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_keys.h"
#include "review/ui/review_window.h"

using namespace review_scene;

class ReviewWindowActionsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void deleteTwoInGroupOfTwoCloses();
    void deleteOneAtViewPosThreeOfFive();
    void doubleClickChoosesAndSurfaceClears();
    void quickSecondPressNeverReachesTheNextPair();
    void moveNamesTheFileItSentToTheTrash();
    void moveWithEqualNamesTrashesTargetFirst();
    void moveButtonsFollowFolders();
    void similarModePairStatesAfterDelete();
    void failedDeleteKeepsFile();
    void checkFileResults();
    void unreadablePictureEndsTheWalk();
    void notSameKeyMarksThePairOnShowOnceSettled();
    void likePicturesListsThePartnersBestFirst();

private:
    QTemporaryDir m_data;
};

void ReviewWindowActionsTest::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
}

void ReviewWindowActionsTest::deleteTwoInGroupOfTwoCloses()
{
    Scene scene;
    scene.add("x/a.jpg", 60, 40);
    const std::string second = scene.files[scene.add("x/b.jpg", 60, 40)].path;
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    click(window, "Button5");
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), 1);
    QVERIFY(!exists(second));
    QVERIFY(exists(m_data.path().toStdString() + "/Trash/files/b.jpg"));
    QCOMPARE(scene.files[1].skip, 1);
    QCOMPARE(scene.group, (std::vector<int32_t>{0}));
}

void ReviewWindowActionsTest::deleteOneAtViewPosThreeOfFive()
{
    Scene scene;
    for (int i = 0; i < 5; ++i)
        scene.add("d/" + std::to_string(i) + ".jpg", 50 + i, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    for (int i = 0; i < 3; ++i)
        click(window, "BitBtn2");
    click(window, "Button4");
    QVERIFY(window.isVisible());
    QVERIFY(!exists(scene.files[3].path));
    QCOMPARE(scene.group, (std::vector<int32_t>{0, 1, 2, 4}));
    QCOMPARE(text(window, "Label1"), QStringLiteral("検出数：4"));
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：3"));
    QCOMPARE(text(window, "Label3"), QStringLiteral("終了：4"));
    QVERIFY(child<QPlainTextEdit>(window, "Memo1")->toPlainText().startsWith(QString::fromStdString(scene.files[2].path)));
    QVERIFY(child<QPlainTextEdit>(window, "Memo2")->toPlainText().startsWith(QString::fromStdString(scene.files[4].path)));
    QCOMPARE(imageRect(window, 2).width(), 54);
}

void ReviewWindowActionsTest::doubleClickChoosesAndSurfaceClears()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg", "x/c.jpg"}, 60, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    PictureView* image = child<PictureView>(window, "Image2");
    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(child<QPushButton>(window, "Button2")->isEnabled());
    QCOMPARE(child<QLineEdit>(window, "Edit2")->palette().color(QPalette::Base), QColor(Qt::red));
    QCOMPARE(child<QLineEdit>(window, "Edit1")->palette().color(QPalette::Base), QColor(Qt::white));
    // A double-click on a control or panel does not count as the surface.
    QTest::mouseDClick(child<QLabel>(window, "Label1"), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(child<QPushButton>(window, "Button2")->isEnabled());
    QTest::mouseDClick(&window, Qt::LeftButton, {}, QPoint(140, 60));
    QVERIFY(!child<QPushButton>(window, "Button2")->isEnabled());
    QCOMPARE(child<QLineEdit>(window, "Edit2")->palette().color(QPalette::Base), QColor(Qt::white));

    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(5, 5));
    click(window, "Button2");
    QVERIFY(!exists(scene.files[1].path));
    QCOMPARE(scene.group, (std::vector<int32_t>{0, 2}));
    QVERIFY(!child<QPushButton>(window, "Button2")->isEnabled());
}

void ReviewWindowActionsTest::quickSecondPressNeverReachesTheNextPair()
{
    Scene scene;
    scene.addAll({"q/a.jpg", "q/b.jpg", "q/c.jpg"}, 60, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // "2" twice, 40 ms apart: q/b.jpg goes; q/c.jpg, now in the right pane,
    // was not yet looked at and stays. A quick click is dropped alike.
    QVERIFY(settled(window));
    QTest::keyClick(&window, Qt::Key_2);
    QTest::keyClick(&window, Qt::Key_2, Qt::NoModifier, 40);
    QTest::mouseClick(child<QPushButton>(window, "Button5"), Qt::LeftButton);
    QVERIFY(!exists(scene.files[1].path));
    QVERIFY(exists(scene.files[2].path));
    QCOMPARE(scene.group, (std::vector<int32_t>{0, 2}));
    QVERIFY(window.isVisible());

    // A press once the pair has been on view acts on it.
    QTRY_VERIFY((QTest::keyClick(&window, Qt::Key_2), !exists(scene.files[2].path)));
    QCOMPARE(scene.group, (std::vector<int32_t>{0}));
    QVERIFY(!window.isVisible());

    // A new group is a new pair: a press that arrives with it is dropped.
    Scene next;
    next.addAll({"r/a.jpg", "r/b.jpg"}, 60, 40);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, next.session, next.group));
    QTest::keyClick(&window, Qt::Key_2);
    QVERIFY(exists(next.files[1].path));
    QVERIFY(window.isVisible());
    QTRY_VERIFY((QTest::keyClick(&window, Qt::Key_2), !exists(next.files[1].path)));
}

void ReviewWindowActionsTest::moveNamesTheFileItSentToTheTrash()
{
    Scene scene;
    scene.add("a/img5.jpg", 60, 40);
    scene.add("c/deep/img5copy.jpg", 60, 40);
    scene.add("c/z.jpg", 60, 40);
    // In the target folder, under the moved file's name, never shown.
    const std::string unseen = scene.dir.file("c/deep/img5.jpg");
    testing_support::writeJpeg(unseen, testing_support::photoLikePicture(30, 20, 5), 80);
    const std::string from = scene.files[0].path;
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(text(window, "NoticeLabel"), QString());

    press(window, Qt::Key_1, Qt::ShiftModifier);
    QVERIFY(!exists(from));
    QCOMPARE(scene.files[0].path, unseen);
    QVERIFY(exists(m_data.path().toStdString() + "/Trash/files/img5.jpg"));
    QLabel* notice = child<QLabel>(window, "NoticeLabel");
    const QString said = QStringLiteral("ゴミ箱へ移動しました：") + QString::fromStdString(unseen);
    QCOMPARE(notice->toolTip(), said);
    QVERIFY2(notice->text().endsWith(QStringLiteral("img5.jpg")), qPrintable(notice->text()));
    QVERIFY(notice->width() >= notice->fontMetrics().horizontalAdvance(notice->text()));

    // It stays through zooming; the next action (Next) clears it.
    press(window, Qt::Key_Plus);
    QCOMPARE(notice->toolTip(), said);
    press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：2"));
    QCOMPARE(notice->text(), QString());
}

void ReviewWindowActionsTest::moveWithEqualNamesTrashesTargetFirst()
{
    Scene scene;
    scene.add("x/a.jpg", 60, 40);
    scene.add("y/a.jpg", 70, 40);
    scene.add("z/c.jpg", 60, 40);
    const std::string from = scene.files[0].path;
    const std::string target = scene.files[1].path;
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QVERIFY(child<QPushButton>(window, "Button7")->isVisible());
    QCOMPARE(child<QPushButton>(window, "Button7")->pos(), child<QPushButton>(window, "Button4")->pos() + QPoint(0, 40));
    click(window, "Button7");
    QVERIFY(window.isVisible());
    QVERIFY(!exists(from));
    QVERIFY(exists(target));
    QCOMPARE(scene.files[0].path, target);
    QCOMPARE(scene.files[1].skip, 1);
    QCOMPARE(scene.group, (std::vector<int32_t>{0, 2}));
    // The trashed file is the old y/a.jpg (70 wide), the moved one is x's.
    QCOMPARE(scene.files[0].width, 60);
    QVERIFY(exists(m_data.path().toStdString() + "/Trash/files/a.jpg"));
    QVERIFY(child<QPlainTextEdit>(window, "Memo1")->toPlainText().startsWith(QString::fromStdString(target)));
}

void ReviewWindowActionsTest::moveButtonsFollowFolders()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "y/b.jpg"}, 60, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QVERIFY(child<QPushButton>(window, "Button8")->isVisible());
    click(window, "Button7");
    QCOMPARE(scene.files[0].path, scene.dir.str() + "/y/a.jpg");
    QVERIFY(exists(scene.files[0].path));
    QVERIFY(!child<QPushButton>(window, "Button7")->isVisible());
    QVERIFY(!child<QPushButton>(window, "Button8")->isVisible());
    QVERIFY(child<QPlainTextEdit>(window, "Memo1")->toPlainText().startsWith(QString::fromStdString(scene.files[0].path)));
}

void ReviewWindowActionsTest::similarModePairStatesAfterDelete()
{
    Scene scene(CheckMode::Similar);
    scene.addAll({"s/a.jpg", "s/b.jpg", "s/c.jpg"}, 60, 40);
    scene.pairs = {{PairState::Taken, 0, 1}, {PairState::Taken, 1, 2}, {PairState::Waiting, 0, 2},
                   {PairState::Waiting, 2, 1}};
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    click(window, "Button5"); // file 1
    QCOMPARE(scene.pairs[0].state, PairState::OutOfPlay);
    QCOMPARE(scene.pairs[1].state, PairState::OutOfPlay);
    QCOMPARE(scene.pairs[2].state, PairState::Waiting);
    QCOMPARE(scene.pairs[3].state, PairState::OutOfPlay);
}

void ReviewWindowActionsTest::failedDeleteKeepsFile()
{
    Scene scene;
    scene.addAll({"f/a.jpg", "f/b.jpg"}, 60, 40);
    ReviewWindow window;
    QStringList errors;
    collectErrors(window, errors);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QVERIFY(settled(window));
    ::unlink(scene.files[1].path.c_str()); // vanished behind our back
    click(window, "Button5");
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors[0].contains(QStringLiteral("b.jpg")));
    QVERIFY(window.isVisible());
    QCOMPARE(scene.files[1].skip, 0);
    QCOMPARE(scene.group.size(), std::size_t{2});
}

void ReviewWindowActionsTest::checkFileResults()
{
    Scene scene;
    scene.addAll({"r/a.jpg", "r/b.jpg"}, 60, 40);
    ReviewWindow window;
    whenSettled(window, [&window] { window.findChild<QPushButton*>("Button1")->click(); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Ok);
    QTimer::singleShot(0, &window, [&window] { window.findChild<QPushButton*>("Button3")->click(); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Abort);
    QTimer::singleShot(0, &window, [&window] { window.close(); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Cancel);
    QCOMPARE(window.pictureCache()->heldCount(), std::size_t{0}); // nothing held between groups
}

void ReviewWindowActionsTest::unreadablePictureEndsTheWalk()
{
    Scene scene;
    scene.addAll({"u/a.jpg", "u/b.jpg"}, 60, 40);
    testing_support::writeBytes(scene.files[1].path, "not a picture");
    ReviewWindow window;
    QStringList errors;
    collectErrors(window, errors);
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Abort);
    QCOMPARE(errors.size(), 1);
    QVERIFY(!window.isVisible());
}

namespace {

// Whether the marks in `database` hold the pair of these two files' contents.
bool markedInDatabase(const std::string& database, const std::string& a, const std::string& b)
{
    std::string problem;
    const std::unique_ptr<MarkStore> marks = MarkStore::open(database, problem);
    if (!marks)
        return false;
    const std::optional<ContentHash> first = marks->contentHashOf(a);
    const std::optional<ContentHash> second = marks->contentHashOf(b);
    return first && second && marks->isMarked(*first, *second).value_or(false);
}

} // namespace

void ReviewWindowActionsTest::notSameKeyMarksThePairOnShowOnceSettled()
{
    Scene scene;
    scene.addAll({"a/1.jpg", "a/2.jpg", "a/3.jpg"}, 60, 40);
    const std::string database = scene.dir.str() + "/cache.sqlite";
    ReviewWindow window;
    window.setMarksFile(database);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    // A press before the pair has been on view a moment is dropped.
    QVERIFY(!ReviewWindowTestPeer::pairSettled(window));
    QTest::keyClick(&window, Qt::Key_N);
    QVERIFY(!exists(database));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // The new button sits in the free place under "OK", on top of nothing.
    QPushButton* button = child<QPushButton>(window, "NotSameButton");
    QCOMPARE(button->geometry(), QRect(8, 48, 57, 25));
    QVERIFY(button->toolTip().endsWith(QStringLiteral("(N)")));
    for (QPushButton* other : window.findChildren<QPushButton*>()) {
        if (other != button && other->parentWidget() == &window)
            QVERIFY2(!other->geometry().intersects(button->geometry()), qPrintable(other->objectName()));
    }

    press(window, Qt::Key_N);
    QVERIFY(markedInDatabase(database, scene.files[0].path, scene.files[1].path));
    QVERIFY(!markedInDatabase(database, scene.files[1].path, scene.files[2].path));
    QVERIFY(child<QLabel>(window, "NoticeLabel")->toolTip().contains(QStringLiteral("1.jpg と 2.jpg")));
    QCOMPARE(scene.group.size(), std::size_t {3}); // nothing is deleted or closed

    // Next pair: 2 and 3.
    press(window, Qt::Key_Right);
    click(window, "NotSameButton");
    QVERIFY(markedInDatabase(database, scene.files[1].path, scene.files[2].path));
    window.done(1);
}

void ReviewWindowActionsTest::likePicturesListsThePartnersBestFirst()
{
    Scene scene;
    scene.addAll({"a/1.jpg", "a/2.jpg", "a/3.jpg", "a/4.jpg"}, 60, 40);
    // Result-line order: the best score first.
    scene.pairs = {{PairState::Waiting, 1, 2}, {PairState::Waiting, 0, 3}, {PairState::Waiting, 1, 3},
                   {PairState::Waiting, 0, 1}};
    scene.files[3].skip = 1; // sent away in this review
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QVERIFY(settled(window));

    PictureView* second = child<PictureView>(window, "Image2");
    Q_EMIT second->customContextMenuRequested(QPoint(5, 5));
    QMenu* menu = window.findChild<QMenu*>();
    QVERIFY(menu != nullptr);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().front()->text(), QStringLiteral("これに似た画像"));
    menu->actions().front()->trigger();

    auto* dialog = window.findChild<QDialog*>(QStringLiteral("LikePictures"));
    QVERIFY(dialog != nullptr);
    QTRY_VERIFY(dialog->isVisible());
    QListWidget* list = dialog->findChild<QListWidget*>();
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->item(i)->text();
    QCOMPARE(shown, QStringList({QString::fromStdString(scene.files[2].path), QString::fromStdString(scene.files[0].path)}));
    dialog->close();
    window.done(1);
}

QTEST_MAIN(ReviewWindowActionsTest)
#include "review_window_actions_test.moc"
