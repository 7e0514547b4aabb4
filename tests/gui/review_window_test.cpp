#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include "marks/mark_store.h"
#include "review/ui/picture_cache.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_keys.h"
#include "review/ui/review_window.h"
#include "gui/review_window_test_peer.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// One search's worth of files for the window: JPEGs of given sizes written
// into folders of a temporary directory.
struct Scene {
    TempDir dir;
    FileTable files;
    std::vector<PairRec> pairs;
    ReviewSession session;
    std::vector<int32_t> group;

    explicit Scene(CheckMode mode = CheckMode::FileSize)
    {
        session.files = &files;
        session.pairs = &pairs;
        session.mode = mode;
        session.pane = PaneSize{390, 416};
    }

    int32_t add(const std::string& relative, int32_t width, int32_t height)
    {
        const std::string path = dir.file(relative);
        testing_support::writeJpeg(path, testing_support::photoLikePicture(width, height, 7 + files.size()), 80);
        File_rec f;
        f.path = path;
        f.stamp = "2024/05/06 07/08/10";
        struct stat st {};
        ::stat(path.c_str(), &st);
        f.size = st.st_size;
        files.push_back(f);
        group.push_back(static_cast<int32_t>(files.size() - 1));
        return static_cast<int32_t>(files.size() - 1);
    }

    // A 24-bit bitmap; a top-down one has its height negated in the header.
    int32_t addBitmap(const std::string& relative, int32_t width, int32_t height, bool topDown)
    {
        const int32_t f = add(relative, width, height);
        testing_support::writeBmp24(files[f].path, testing_support::photoLikePicture(width, height, 3));
        if (topDown) {
            std::fstream file(files[f].path, std::ios::in | std::ios::out | std::ios::binary);
            const int32_t negative = -height;
            const char bytes[4] = {static_cast<char>(negative), static_cast<char>(negative >> 8),
                                   static_cast<char>(negative >> 16), static_cast<char>(negative >> 24)};
            file.seekp(22);
            file.write(bytes, 4);
        }
        struct stat st {};
        ::stat(files[f].path.c_str(), &st);
        files[f].size = st.st_size;
        return f;
    }

    // Several files of one size, added in the order given.
    void addAll(std::initializer_list<const char*> relatives, int32_t width, int32_t height)
    {
        for (const char* relative : relatives)
            add(relative, width, height);
    }
};

// Routes the window's error messages into `errors` instead of message boxes.
void collectErrors(ReviewWindow& window, QStringList& errors)
{
    window.setErrorSink([&errors](const QString& message) { errors << message; });
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

template <typename T>
T* child(ReviewWindow& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("no control %s", name);
    return found;
}

QString text(ReviewWindow& window, const char* label)
{
    return child<QLabel>(window, label)->text();
}

QRect imageRect(ReviewWindow& window, int pane)
{
    return child<PictureView>(window, QByteArray("Image" + QByteArray::number(pane)).constData())->geometry();
}

// Until the pair on show has been on view a moment, clicks and keys that act
// on it are dropped; a person looks first.
bool settled(ReviewWindow& window)
{
    return QTest::qWaitFor([&window] { return ReviewWindowTestPeer::pairSettled(window); });
}

// Runs `act` inside the window's modal loop once the pair on show takes actions.
void whenSettled(ReviewWindow& window, std::function<void()> act)
{
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, timer, act] {
        if (!ReviewWindowTestPeer::pairSettled(window))
            return;
        timer->stop();
        timer->deleteLater();
        act();
    });
    timer->start(5);
}

void click(ReviewWindow& window, const char* button)
{
    QVERIFY(settled(window));
    QPushButton* b = child<QPushButton>(window, button);
    QVERIFY2(b->isEnabled(), button);
    b->click();
}

// A key pressed where the keyboard focus is, as a person would press it:
// after looking at the pair on show.
void press(ReviewWindow& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QVERIFY(settled(window));
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window;
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(widget->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class ReviewWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void labelsOfGroupsOfTwoAndFive();
    void zoomFitPlacesPictures_data();
    void zoomFitPlacesPictures();
    void zoomButtonsAndPad();
    void zoomDecidesTheDecodedScale();
    void hugePictureAtFullSizeOnlyInPart();
    void typedZoomWithEnter();
    void dragStopsAtTheEdges();
    void deleteTwoInGroupOfTwoCloses();
    void deleteOneAtViewPosThreeOfFive();
    void doubleClickChoosesAndSurfaceClears();
    void quickSecondPressNeverReachesTheNextPair();
    void moveNamesTheFileItSentToTheTrash();
    void narrowPanesShowTheGroupPlaceAndWholeMemos();
    void moveWithEqualNamesTrashesTargetFirst();
    void moveButtonsFollowFolders();
    void similarModePairStatesAfterDelete();
    void failedDeleteKeepsFile();
    void checkFileResults();
    void unreadablePictureEndsTheWalk();
    void stretchAveragesAndRepeats();
    void keysStepZoomAndPanAsTheButtons();
    void keysDeleteAndMoveAsTheButtons();
    void zoomFieldKeepsItsKeysAndEscLeavesIt();
    void enterAndEscCloseLikeOkAndAbort();
    void toolTipsNameTheKeys();
    void digitKeysKnownByTheirPlace();
    void labelsFitTheirTextAndTheWindowItsTopRow();
    void nameFontsAndTitle();
    void bitmapsAreLaidOutAtTheirDecodedSize();
    void notSameKeyMarksThePairOnShowOnceSettled();
    void likePicturesListsThePartnersBestFirst();

private:
    QTemporaryDir m_data;
};

void ReviewWindowTest::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
}

void ReviewWindowTest::labelsOfGroupsOfTwoAndFive()
{
    Scene two;
    two.addAll({"a/1.jpg", "a/2.jpg"}, 40, 30);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, two.session, two.group));
    QCOMPARE(text(window, "Label1"), QStringLiteral("検出数：2"));
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：1"));
    QCOMPARE(text(window, "Label3"), QStringLiteral("終了：2"));
    QVERIFY(!child<QPushButton>(window, "BitBtn1")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "BitBtn2")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "Button2")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "Button6")->isVisible());
    QCOMPARE(window.size(), QSize(390 * 2 + 28, 416 + 5 + 87 + 5 + 2 + 80));
    const QStringList memo = child<QPlainTextEdit>(window, "Memo2")->toPlainText().split('\n');
    QCOMPARE(memo.size(), 3);
    QCOMPARE(memo[0], QString::fromStdString(two.files[1].path));
    QCOMPARE(memo[1], QStringLiteral("日付:  2024/05/06 07/08/10"));
    QCOMPARE(memo[2], QStringLiteral("ﾌｧｲﾙｻｲｽﾞ:  %1   横：  40   縦：  30").arg(two.files[1].size));
    window.done(1);

    Scene five;
    for (int i = 0; i < 5; ++i)
        five.add("b/" + std::to_string(i) + ".jpg", 40, 30);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, five.session, five.group));
    QCOMPARE(text(window, "Label1"), QStringLiteral("検出数：5"));
    QVERIFY(!child<QPushButton>(window, "BitBtn1")->isEnabled());
    for (int i = 0; i < 3; ++i)
        click(window, "BitBtn2");
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：4"));
    QCOMPARE(text(window, "Label3"), QStringLiteral("終了：5"));
    QVERIFY(!child<QPushButton>(window, "BitBtn2")->isEnabled());
    QVERIFY(child<QPushButton>(window, "BitBtn1")->isEnabled());
    QVERIFY(child<QPlainTextEdit>(window, "Memo1")->toPlainText().startsWith(QString::fromStdString(five.files[3].path)));
}

void ReviewWindowTest::zoomFitPlacesPictures_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QRect>("shown");
    QTest::addColumn<QSize>("decoded"); // at the scale the zoom needs
    QTest::newRow("1000x800 fills the height") << 1000 << 800 << 52 << QRect(-65, 0, 520, 416) << QSize(1000, 800);
    QTest::newRow("4000x3000 raised to 25") << 4000 << 3000 << 25 << QRect(-305, -83, 1000, 750) << QSize(1000, 750);
    QTest::newRow("500x300 wider only") << 500 << 300 << 100 << QRect(-55, 0, 500, 300) << QSize(500, 300);
    QTest::newRow("200x100 top left") << 200 << 100 << 100 << QRect(0, 0, 200, 100) << QSize(200, 100);
}

void ReviewWindowTest::zoomFitPlacesPictures()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, zoom);
    QFETCH(QRect, shown);
    QFETCH(QSize, decoded);
    Scene scene;
    scene.add("x/a.jpg", width, height);
    scene.add("x/b.jpg", 40, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QCOMPARE(imageRect(window, 1), shown);
    QCOMPARE(child<QLineEdit>(window, "Edit1")->text(), QString::number(zoom));
    QCOMPARE(scene.files[0].width, width);
    QCOMPARE(scene.files[0].height, height);
    // The window opens before any picture is decoded (a worker decodes them).
    PictureView* image = child<PictureView>(window, "Image1");
    QVERIFY(image->picture() == nullptr);
    QVERIFY(image->showsPlaceholder());
    QTRY_VERIFY(image->picture() != nullptr);
    QCOMPARE(QSize(image->picture()->width(), image->picture()->height()), decoded);
    QCOMPARE(image->geometry(), shown);
}

void ReviewWindowTest::zoomButtonsAndPad()
{
    Scene scene;
    scene.add("x/a.jpg", 1000, 800);
    scene.add("x/b.jpg", 1000, 600);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    click(window, "BitBtn3"); // zoom out, every member
    QCOMPARE(imageRect(window, 1), QRect(0, 0, 260, 208));
    QCOMPARE(child<QLineEdit>(window, "Edit1")->text(), QStringLiteral("26"));
    click(window, "BitBtn4"); // back to 52: did not overflow before, so centred
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416));
    click(window, "BitBtn4"); // 104 about the centre
    QCOMPARE(imageRect(window, 1), QRect(-325, -104, 1040, 832));

    click(window, "BitBtn5");
    QCOMPARE(imageRect(window, 2), QRect(-305, -92, 1000, 600));
    QList<int> lefts;
    for (int i = 0; i < 3; ++i) {
        click(window, "BitBtn9"); // left
        lefts << imageRect(window, 2).x();
    }
    QCOMPARE(lefts, (QList<int>{-175, -45, 0}));
    click(window, "BitBtn5");
    lefts.clear();
    for (int i = 0; i < 3; ++i) {
        click(window, "BitBtn10"); // right
        lefts << imageRect(window, 2).x();
    }
    QCOMPARE(lefts, (QList<int>{-435, -565, -610}));
}

void ReviewWindowTest::zoomDecidesTheDecodedScale()
{
    Scene scene;
    scene.add("x/a.jpg", 1600, 1200); // fitted at 34 %: decoded at 1/2
    scene.add("x/b.jpg", 300, 200);   // 100 %: whole
    scene.add("x/c.jpg", 3200, 2400); // fitted at 25 %: 1/4; the neighbour after the shown pair
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    PictureView* image = child<PictureView>(window, "Image1");
    auto decodedWidth = [image] { return image->picture() ? image->picture()->width() : 0; };
    QTRY_COMPARE(decodedWidth(), 800);
    click(window, "BitBtn3"); // 17 %: 1/4
    QTRY_COMPARE(decodedWidth(), 400);
    QCOMPARE(imageRect(window, 1), QRect(0, 0, 272, 204));
    click(window, "BitBtn5"); // 1:1 needs every pixel
    // Until the whole picture arrives the coarse one is shown stretched.
    QCOMPARE(decodedWidth(), 400);
    QCOMPARE(imageRect(window, 1).size(), QSize(1600, 1200));
    QTRY_COMPARE(decodedWidth(), 1600);
    QCOMPARE(child<PictureView>(window, "Image2")->picture()->width(), 300);
    QCOMPARE(window.pictureCache()->heldScale(scene.group[0]), 1);
    QTRY_COMPARE(window.pictureCache()->heldScale(scene.group[2]), 1);
}

void ReviewWindowTest::hugePictureAtFullSizeOnlyInPart()
{
    Scene scene;
    scene.add("x/a.jpg", 1600, 1200); // 34 %: 800 wide at 1/2
    scene.add("x/b.jpg", 1600, 1200);
    ReviewWindow window;
    // Anything over 1 MB whole at full size counts as huge here.
    window.setWholePictureLimit(1 << 20);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    PictureView* image = child<PictureView>(window, "Image1");
    QTRY_VERIFY(image->picture() != nullptr);
    QCOMPARE(image->picture()->width(), 800);
    QVERIFY(image->part() == nullptr);

    click(window, "BitBtn5"); // 1:1, centred: left -605, top -392
    QCOMPARE(imageRect(window, 1), QRect(-605, -392, 1600, 1200));
    QTRY_VERIFY(image->part() != nullptr);
    QCOMPARE(image->picture()->width(), 800); // the fitted picture stays behind
    const PictureCache::Part* part = window.pictureCache()->findPart(scene.group[0]);
    QVERIFY(part != nullptr);
    // The pane shows columns 605..994 and rows 392..807; the part holds them
    // with a pane's margin on each side, no more.
    QVERIFY(part->area.contains(QRect(605, 392, 390, 416)));
    QVERIFY(part->area.width() <= 3 * 390 + 2 * 32);
    QVERIFY(part->area.height() <= 3 * 416);
    QCOMPARE(part->picture->width(), part->area.width());

    // Panning within the margin keeps the part; past it, another comes.
    click(window, "BitBtn10");
    QCOMPARE(window.pictureCache()->findPart(scene.group[0])->area, part->area);
    const QRect before = part->area;
    for (int i = 0; i < 4; ++i)
        click(window, "BitBtn10");
    QCOMPARE(imageRect(window, 1).topLeft(), QPoint(-1210, -392));
    QTRY_VERIFY(window.pictureCache()->findPart(scene.group[0])->area != before);
    QVERIFY(window.pictureCache()->findPart(scene.group[0])->area.contains(QRect(1210, 392, 390, 416)));

    // A drag shows another part once the mouse is let go.
    sendMouse(image, QEvent::MouseButtonPress, {1300, 500}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(image, QEvent::MouseMove, {2300, 500}, Qt::NoButton, Qt::LeftButton);
    sendMouse(image, QEvent::MouseButtonRelease, {2300, 500}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(image->pos(), QPoint(-210, -392));
    QTRY_VERIFY(window.pictureCache()->findPart(scene.group[0])->area.contains(QRect(210, 392, 390, 416)));
    QTRY_VERIFY(image->part() != nullptr && image->part().get() ==
                window.pictureCache()->findPart(scene.group[0])->picture.get());

    // Back to the fitted scale: the part goes.
    click(window, "BitBtn3");
    QVERIFY(window.pictureCache()->findPart(scene.group[0]) == nullptr);
    QVERIFY(image->part() == nullptr);
}

void ReviewWindowTest::typedZoomWithEnter()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg"}, 1000, 800);
    ReviewWindow window;
    QStringList errors;
    collectErrors(window, errors);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QLineEdit* edit = child<QLineEdit>(window, "Edit1");
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("150"));
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416)); // not repainted yet
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 1500, 1200));
    QCOMPARE(imageRect(window, 2), QRect(-65, 0, 520, 416));
    QVERIFY(window.isVisible()); // Enter does not close the window

    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("x"));
    QTRY_COMPARE(errors, QStringList{QStringLiteral("'x' は整数ではありません")});
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("0"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), QStringLiteral("150")); // refused: the stored scale stays
    QCOMPARE(errors.size(), 1);
}

void ReviewWindowTest::dragStopsAtTheEdges()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg"}, 1000, 800);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    click(window, "BitBtn4");
    PictureView* image = child<PictureView>(window, "Image1");
    QCOMPARE(image->geometry(), QRect(-325, -104, 1040, 832));
    sendMouse(image, QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(image, QEvent::MouseMove, {500, 300}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(image->pos(), QPoint(-225, -104));
    QVERIFY(!child<QPushButton>(window, "BitBtn1")->isEnabled());
    sendMouse(image, QEvent::MouseMove, {1400, 300}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(image->pos(), QPoint(0, -104));
    sendMouse(image, QEvent::MouseMove, {-900, 300}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(image->pos(), QPoint(390 - 1040, -104));
    sendMouse(image, QEvent::MouseButtonRelease, {-900, 300}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(window.model()->dragPane(), 0);
    QCOMPARE(window.model()->left(1), -650);
    QCOMPARE(window.model()->left(2), -325);
}

void ReviewWindowTest::deleteTwoInGroupOfTwoCloses()
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

void ReviewWindowTest::deleteOneAtViewPosThreeOfFive()
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

void ReviewWindowTest::doubleClickChoosesAndSurfaceClears()
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

void ReviewWindowTest::moveWithEqualNamesTrashesTargetFirst()
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

void ReviewWindowTest::moveButtonsFollowFolders()
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

void ReviewWindowTest::similarModePairStatesAfterDelete()
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

void ReviewWindowTest::failedDeleteKeepsFile()
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

void ReviewWindowTest::checkFileResults()
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

void ReviewWindowTest::unreadablePictureEndsTheWalk()
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

void ReviewWindowTest::stretchAveragesAndRepeats()
{
    // Columns 0..3 of value 0, 100, 200, 40 (grey), two rows.
    Picture picture(4, 2);
    const int values[] = {0, 100, 200, 40};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            testing_support::setPixel(picture, x, y, static_cast<uint8_t>(values[x]), static_cast<uint8_t>(values[x]),
                             static_cast<uint8_t>(values[x]));
    const QImage half = renderStretched(picture, 2, 1, QRect(0, 0, 2, 1));
    QCOMPARE(half.size(), QSize(2, 1));
    QCOMPARE(qRed(half.pixel(0, 0)), 50);
    QCOMPARE(qRed(half.pixel(1, 0)), 120);
    // Enlarged 4 times, only the asked part (clipped to the picture).
    const QImage part = renderStretched(picture, 16, 8, QRect(6, 0, 20, 1));
    QCOMPARE(part.size(), QSize(10, 1));
    QCOMPARE(qRed(part.pixel(0, 0)), 100);
    QCOMPARE(qRed(part.pixel(1, 0)), 100);
    QCOMPARE(qRed(part.pixel(2, 0)), 200);
    QCOMPARE(qRed(part.pixel(9, 0)), 40);
    QVERIFY(renderStretched(picture, 0, 0, QRect(0, 0, 5, 5)).isNull());
}

void ReviewWindowTest::keysStepZoomAndPanAsTheButtons()
{
    Scene scene;
    scene.add("x/a.jpg", 1000, 800);
    scene.add("x/b.jpg", 1000, 600);
    for (int i = 0; i < 3; ++i)
        scene.add("x/" + std::to_string(i) + ".jpg", 40, 30);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // Not in a zoom field at open, so the keys are the review's.
    QVERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()) == nullptr);

    press(window, Qt::Key_Minus);
    QCOMPARE(imageRect(window, 1), QRect(0, 0, 260, 208));
    QCOMPARE(child<QLineEdit>(window, "Edit1")->text(), QStringLiteral("26"));
    press(window, Qt::Key_Plus);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416));
    press(window, Qt::Key_Plus, Qt::ShiftModifier); // "+" is shifted on many layouts
    QCOMPARE(imageRect(window, 1), QRect(-325, -104, 1040, 832));

    press(window, Qt::Key_0);
    QCOMPARE(imageRect(window, 2), QRect(-305, -92, 1000, 600));
    QList<int> lefts;
    for (int i = 0; i < 3; ++i) {
        press(window, Qt::Key_Left, Qt::ShiftModifier);
        lefts << imageRect(window, 2).x();
    }
    QCOMPARE(lefts, (QList<int>{-175, -45, 0}));
    press(window, Qt::Key_0);
    press(window, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 2).x(), -435);
    press(window, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 2).y(), 0);
    press(window, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 2).y(), -138);
    press(window, Qt::Key_Down); // plain up and down are nobody's
    QCOMPARE(imageRect(window, 2).y(), -138);

    // Arrows step as "Prev" and "Next", and stop where the buttons are off.
    press(window, Qt::Key_Left);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：1"));
    for (int i = 0; i < 5; ++i)
        press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：4"));
    QCOMPARE(text(window, "Label3"), QStringLiteral("終了：5"));
    press(window, Qt::Key_Left);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：3"));

    // Still the review's keys with a memo holding the focus.
    child<QPlainTextEdit>(window, "Memo1")->setFocus();
    press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：4"));
}

void ReviewWindowTest::keysDeleteAndMoveAsTheButtons()
{
    Scene scene;
    scene.add("x/a.jpg", 60, 40);
    scene.add("x/b.jpg", 60, 40);
    scene.add("y/c.jpg", 60, 40);
    scene.add("z/d.jpg", 60, 40);
    scene.add("w/e.jpg", 60, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Same folder: the move buttons are hidden, and so Shift+1 does nothing.
    press(window, Qt::Key_1, Qt::ShiftModifier);
    press(window, Qt::Key_Exclam);
    QCOMPARE(scene.group.size(), std::size_t{5});
    QVERIFY(exists(scene.files[0].path));

    // A held key's repeats delete nothing.
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_2, Qt::NoModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"), true);
    QApplication::sendEvent(QApplication::focusWidget(), &repeat);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_2, Qt::NoModifier);
    QCOMPARE(scene.group, (std::vector<int32_t>{0, 2, 3, 4})); // "削除２": x/b.jpg, once
    QVERIFY(!exists(scene.files[1].path));
    QCOMPARE(scene.files[1].skip, 1);
    QVERIFY(exists(m_data.path().toStdString() + "/Trash/files/b.jpg"));
    QVERIFY(exists(scene.files[2].path));

    // x/a.jpg and y/c.jpg: Shift+1 as "!" moves pane 1's file into y.
    press(window, Qt::Key_Exclam);
    QCOMPARE(scene.files[0].path, scene.dir.str() + "/y/a.jpg");
    QVERIFY(exists(scene.files[0].path));

    press(window, Qt::Key_1); // "削除１": y/a.jpg, the moved one
    QVERIFY(!exists(scene.dir.str() + "/y/a.jpg"));
    QCOMPARE(scene.group, (std::vector<int32_t>{2, 3, 4}));

    // y/c.jpg and z/d.jpg: Shift+2 by key code, then as '"' and as '@'.
    press(window, Qt::Key_2, Qt::ShiftModifier);
    QCOMPARE(scene.files[3].path, scene.dir.str() + "/y/d.jpg");
    QVERIFY(!child<QPushButton>(window, "Button8")->isVisible());
    press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：2"));
    press(window, Qt::Key_QuoteDbl); // y/d.jpg and w/e.jpg: e into y
    QCOMPARE(scene.files[4].path, scene.dir.str() + "/y/e.jpg");
    QVERIFY(exists(scene.files[4].path));
    press(window, Qt::Key_At); // hidden again: nothing
    QCOMPARE(scene.files[3].path, scene.dir.str() + "/y/d.jpg");

    press(window, Qt::Key_2);
    QCOMPARE(scene.group, (std::vector<int32_t>{2, 3}));
    press(window, Qt::Key_2); // down to one member: closes as "OK"
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), 1);
}

void ReviewWindowTest::zoomFieldKeepsItsKeysAndEscLeavesIt()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg", "x/c.jpg"}, 1000, 800);
    ReviewWindow window;
    QStringList errors;
    collectErrors(window, errors);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QLineEdit* edit = child<QLineEdit>(window, "Edit1");
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), edit);
    edit->selectAll();
    press(window, Qt::Key_1); // typed, not "削除１"
    press(window, Qt::Key_2);
    press(window, Qt::Key_0); // typed, not "1:1"
    QCOMPARE(edit->text(), QStringLiteral("120"));
    QVERIFY(exists(scene.files[0].path));
    QVERIFY(exists(scene.files[1].path));
    press(window, Qt::Key_Right); // the field's cursor, not "Next"
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：1"));
    press(window, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416));
    press(window, Qt::Key_Return); // applies the typed scale and stays open
    QVERIFY(window.isVisible());
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 1200, 960));
    QVERIFY(errors.isEmpty());

    // Esc while typing leaves the field with the scale it had; the review
    // stays open. Only an Esc outside a field is "中断".
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), edit);
    edit->selectAll();
    press(window, Qt::Key_5);
    press(window, Qt::Key_0);
    QCOMPARE(edit->text(), QStringLiteral("50"));
    press(window, Qt::Key_Escape);
    QVERIFY(window.isVisible());
    QVERIFY(QApplication::focusWidget() != edit);
    QCOMPARE(edit->text(), QStringLiteral("120"));
    QCOMPARE(window.model()->zoom(1), 120);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 1200, 960));
    press(window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), 3);
}

void ReviewWindowTest::enterAndEscCloseLikeOkAndAbort()
{
    Scene scene;
    scene.addAll({"r/a.jpg", "r/b.jpg"}, 60, 40);
    ReviewWindow window;
    whenSettled(window, [&window] { press(window, Qt::Key_Return); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Ok);
    QTimer::singleShot(0, &window, [&window] { press(window, Qt::Key_Escape); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Abort);
    whenSettled(window, [&window] { press(window, Qt::Key_Enter, Qt::KeypadModifier); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Ok);
}

void ReviewWindowTest::toolTipsNameTheKeys()
{
    ReviewWindow window;
    const std::pair<const char*, const char*> keys[] = {
        {"Button1", "(Enter)"}, {"Button3", "(Esc)"},   {"BitBtn1", "(←)"},       {"BitBtn2", "(→)"},
        {"BitBtn3", "(-)"},     {"BitBtn4", "(+)"},     {"BitBtn5", "(0)"},       {"Button4", "(1)"},
        {"Button5", "(2)"},     {"Button7", "(Shift+1)"}, {"Button8", "(Shift+2)"}, {"BitBtn7", "(Shift+↑)"},
        {"BitBtn9", "(Shift+←)"}, {"BitBtn10", "(Shift+→)"}, {"BitBtn12", "(Shift+↓)"},
    };
    for (const auto& [button, key] : keys)
        QVERIFY2(child<QPushButton>(window, button)->toolTip().endsWith(QString::fromUtf8(key)), button);
}

void ReviewWindowTest::digitKeysKnownByTheirPlace()
{
    auto keyOf = [](int key, Qt::KeyboardModifiers modifiers, quint32 scanCode) {
        const QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, 0);
        return reviewKeyOf(event);
    };
    // Japanese layout: Shift+2 makes '"'; US: '@'; French: "1" itself needs
    // Shift and the plain key makes '&'. The key's place decides.
    QCOMPARE(keyOf(Qt::Key_QuoteDbl, Qt::ShiftModifier, 11), ReviewKey::Move2);
    QCOMPARE(keyOf(Qt::Key_At, Qt::ShiftModifier, 11), ReviewKey::Move2);
    QCOMPARE(keyOf(Qt::Key_Exclam, Qt::ShiftModifier, 10), ReviewKey::Move1);
    QCOMPARE(keyOf(Qt::Key_Ampersand, Qt::NoModifier, 10), ReviewKey::Delete1);
    QCOMPARE(keyOf(Qt::Key_1, Qt::ShiftModifier, 10), ReviewKey::Move1);
    // Shift+' on a US keyboard makes '"' too, from another place: no move.
    QCOMPARE(keyOf(Qt::Key_QuoteDbl, Qt::ShiftModifier, 48), ReviewKey::None);
    // The keypad's digits (their own places) delete.
    QCOMPARE(keyOf(Qt::Key_2, Qt::KeypadModifier, 88), ReviewKey::Delete2);
    // Control and Alt combinations are left alone.
    QCOMPARE(keyOf(Qt::Key_1, Qt::ControlModifier, 10), ReviewKey::None);
    QCOMPARE(keyOf(Qt::Key_Right, Qt::AltModifier, 114), ReviewKey::None);
    QCOMPARE(keyOf(Qt::Key_Right, Qt::ShiftModifier, 114), ReviewKey::PanRight);
    QCOMPARE(keyOf(Qt::Key_Up, Qt::NoModifier, 111), ReviewKey::None);
}

void ReviewWindowTest::labelsFitTheirTextAndTheWindowItsTopRow()
{
    auto label = [](ReviewWindow& window, const char* name) { return child<QLabel>(window, name); };
    auto fitsText = [&](ReviewWindow& window, const char* name) {
        QLabel* l = label(window, name);
        return l->width() >= l->fontMetrics().horizontalAdvance(l->text());
    };

    // Short numbers: the labels stay where they always were.
    Scene two;
    two.addAll({"a/1.jpg", "a/2.jpg"}, 40, 30);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, two.session, two.group));
    QCOMPARE(label(window, "Label1")->x(), 584);
    QCOMPARE(label(window, "Label2")->x(), 664);
    QCOMPARE(label(window, "Label3")->x(), 728);
    QCOMPARE(label(window, "Label1")->y(), 16);
    window.done(1);

    // Three digits, in a 800 x 600 re-display in picture-size mode (narrow
    // panes): the labels neither run together nor leave the window.
    Scene many;
    many.session.pane = redisplayPaneSize(0, CheckMode::PictureSize, many.session.pane);
    QCOMPARE(many.session.pane.width, 260);
    for (int i = 0; i < 300; ++i)
        many.add("m/" + std::to_string(i) + ".jpg", 16, 16);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, many.session, many.group));
    ReviewWindowTestPeer::setSettleMs(window, 0);
    for (int i = 0; i < 298; ++i)
        click(window, "BitBtn2");
    QCOMPARE(text(window, "Label1"), QStringLiteral("検出数：300"));
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：299"));
    QCOMPARE(text(window, "Label3"), QStringLiteral("終了：300"));
    for (const char* name : {"Label1", "Label2", "Label3"})
        QVERIFY2(fitsText(window, name), name);
    QCOMPARE(label(window, "Label1")->x(), 584);
    QVERIFY(label(window, "Label2")->x() >= 664);
    QVERIFY(label(window, "Label1")->geometry().right() < label(window, "Label2")->x());
    QVERIFY(label(window, "Label2")->geometry().right() < label(window, "Label3")->x());
    QVERIFY(label(window, "Label3")->geometry().right() < window.width());
    QVERIFY(child<QPushButton>(window, "BitBtn2")->geometry().right() < window.width());
    // The panes keep their size; only the window grows.
    QCOMPARE(child<QFrame>(window, "Panel1")->width(), 260 * 2 + 28);
    QVERIFY(window.width() > 548);
}

void ReviewWindowTest::nameFontsAndTitle()
{
    const QStringList families {QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                QStringLiteral("Noto Sans CJK JP")};
    ReviewWindow alone;
    QCOMPARE(alone.objectName(), QStringLiteral("Form3"));
    QCOMPARE(alone.windowTitle(), QStringLiteral("Zelvic\u3000Ver\u30000.9"));
    QCOMPARE(alone.font().families(), families);
    QCOMPARE(alone.font().pixelSize(), 12);
    QCOMPARE(child<QLabel>(alone, "Label1")->font().pixelSize(), 15);
    QCOMPARE(child<QLabel>(alone, "Label1")->font().families(), families);
    QCOMPARE(child<QLineEdit>(alone, "Edit2")->font().pixelSize(), 13);

    // Opened from a main window, the review carries that window's title.
    QWidget main;
    main.setWindowTitle(QStringLiteral("Zelvic Ver 0.9 /pictures"));
    Scene scene;
    scene.addAll({"t/a.jpg", "t/b.jpg"}, 40, 30);
    ReviewWindow window(&main);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QCOMPARE(window.windowTitle(), main.windowTitle());
    window.done(1);
}

void ReviewWindowTest::bitmapsAreLaidOutAtTheirDecodedSize()
{
    // A top-down bitmap's header holds a negative height; the window lays
    // it out (before decoding) at the size the decoder gives, like the others.
    Scene scene;
    scene.add("m/a.jpg", 300, 200);
    scene.addBitmap("m/b.bmp", 300, 200, true);
    scene.addBitmap("m/c.bmp", 300, 200, false);
    ReviewWindow window(nullptr);
    QStringList errors;
    collectErrors(window, errors);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group, 3));
    const QRect shown = imageRect(window, 1);
    QCOMPARE(imageRect(window, 2), shown);
    QCOMPARE(imageRect(window, 3), shown);
    QCOMPARE(child<QLineEdit>(window, "Edit2")->text(), child<QLineEdit>(window, "Edit1")->text());
    for (int pane = 2; pane <= 3; ++pane) {
        PictureView* image = child<PictureView>(window, QByteArray("Image" + QByteArray::number(pane)).constData());
        QTRY_VERIFY(image->picture() != nullptr);
        QCOMPARE(QSize(image->picture()->width(), image->picture()->height()), QSize(300, 200));
        QCOMPARE(image->geometry(), shown);
    }
    QVERIFY(errors.isEmpty());
    window.done(1);
}

void ReviewWindowTest::quickSecondPressNeverReachesTheNextPair()
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

void ReviewWindowTest::moveNamesTheFileItSentToTheTrash()
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

void ReviewWindowTest::narrowPanesShowTheGroupPlaceAndWholeMemos()
{
    // A re-display at 800 x 600 in file-size mode: the narrowest panes.
    Scene scene;
    scene.session.pane = redisplayPaneSize(0, CheckMode::FileSize, scene.session.pane);
    QCOMPARE(scene.session.pane.width, 260);
    scene.add("photos/2024/summer/IMG_20240712_183005.jpg", 4000, 3000);
    scene.add("photos/2024/summer/IMG_20240712_183005 (1).jpg", 4000, 3000);
    for (File_rec& file : scene.files) {
        file.size = 12345678;
        file.width = 4000;
        file.height = 3000;
    }
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group, 2, GroupPlace {12, 250}));
    QCOMPARE(text(window, "GroupLabel"), QStringLiteral("グループ 12 / 250"));
    QLabel* place = child<QLabel>(window, "GroupLabel");
    QVERIFY(place->width() >= place->fontMetrics().horizontalAdvance(place->text()));
    // Every line of both memos in full: nothing to scroll to either way.
    for (const char* name : {"Memo1", "Memo2"}) {
        QPlainTextEdit* memo = child<QPlainTextEdit>(window, name);
        QVERIFY(memo->toPlainText().endsWith(QStringLiteral("横：  4000   縦：  3000")));
        // The memo lays its text out again after the window has its size.
        QTRY_COMPARE(memo->horizontalScrollBar()->maximum(), 0);
        QTRY_COMPARE(memo->verticalScrollBar()->maximum(), 0);
    }
    window.done(1);

    // Without a known place the counter says nothing.
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QCOMPARE(text(window, "GroupLabel"), QString());
}

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

void ReviewWindowTest::notSameKeyMarksThePairOnShowOnceSettled()
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

void ReviewWindowTest::likePicturesListsThePartnersBestFirst()
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

QTEST_MAIN(ReviewWindowTest)
#include "review_window_test.moc"
