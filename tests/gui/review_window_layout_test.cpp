// How the review window lays out a group: labels, memos, fonts and title,
// bitmaps at their decoded size, narrow panes.


#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "gui/review_window_scene.h"
#include "gui/review_window_test_peer.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_window.h"

using namespace review_scene;

class ReviewWindowLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void labelsOfGroupsOfTwoAndFive();
    void labelsFitTheirTextAndTheWindowItsTopRow();
    void nameFontsAndTitle();
    void bitmapsAreLaidOutAtTheirDecodedSize();
    void narrowPanesShowTheGroupPlaceAndWholeMemos();

private:
    QTemporaryDir m_data;
};

void ReviewWindowLayoutTest::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
}

void ReviewWindowLayoutTest::labelsOfGroupsOfTwoAndFive()
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

void ReviewWindowLayoutTest::labelsFitTheirTextAndTheWindowItsTopRow()
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

void ReviewWindowLayoutTest::nameFontsAndTitle()
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

void ReviewWindowLayoutTest::bitmapsAreLaidOutAtTheirDecodedSize()
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

void ReviewWindowLayoutTest::narrowPanesShowTheGroupPlaceAndWholeMemos()
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

QTEST_MAIN(ReviewWindowLayoutTest)
#include "review_window_layout_test.moc"
